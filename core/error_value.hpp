// error!: the value of a language error. An object of class 1 whose context
// has ten fields in a fixed order; it names a category and an id of the error
// catalog, carries up to three arguments and records where it happened.
//
// Cells handed to functions that may allocate must not lie in a series
// buffer: keep them on the data stack or in a root holder.
#pragma once
#include "runtime/cell.hpp"
#include "core/error.hpp"
#include "runtime/memory.hpp"
#include <cstdint>

namespace kel {

// Field positions of an error's context.
enum ErrorField : uint32_t {
    ERROR_CODE, ERROR_TYPE, ERROR_ID, ERROR_ARG1, ERROR_ARG2, ERROR_ARG3, ERROR_NEAR,
    ERROR_WHERE, ERROR_STACK, ERROR_FILES, ERROR_FIELD_COUNT,
};

// ---- settings the library provides ----------------------------------------------------

// The stack setting: a positive integer! makes printed errors show their call
// chain; above 1 every named frame counts, else only frames whose word holds
// a function!. Anything else: no stack line. Starts as none.
void error_stack_setting_set(const Cell* value);
// The list of running script files copied into an error's files field when
// not empty. Starts as none.
void error_files_setting_set(const Cell* value);

// ---- making ---------------------------------------------------------------------------

// Pushes a new error: every field none except code, type and id, class id 1.
Cell* error_push(ErrorCategory category, uint16_t id);
// The same with arguments copied into arg1..arg3 (null: none).
Cell* error_make(ErrorCategory category, uint16_t id, const Cell* arg1, const Cell* arg2,
                 const Cell* arg3);
// Pushes the error value of the error in flight (core/error.hpp): its
// arguments, where, near and call chain. A catcher calls it inside its catch
// block, while the LanguageError lives.
Cell* error_push_in_flight();

// Field access; the cell is valid until the next allocation.
Cell* error_field(const Cell* error, ErrorField field);
// The symbols of the type and id words (0 when the field holds no word).
uint32_t error_type_symbol(const Cell* error);
uint32_t error_id_symbol(const Cell* error);
// Writes the word into where unless where already holds something.
void error_set_where(Cell* error, const Cell* word);
// Replaces an integer! stack level by the call chain of the error in flight
// (an empty block when that chain is no longer known) and copies the files
// setting into files when it is a non-empty block.
void error_fill_stack(Cell* error);
// The n-th argument word (from 1) of the function of the top call frame, or
// the word <anon> when that is not a function or has fewer arguments.
void error_call_argument(uint32_t n, Cell* out);

// ---- the call chain -----------------------------------------------------------------------

// Appends, from the top frame down, each named frame's word and its caller
// ARGS as an integer! data-stack index.
void stack_trace_collect(Cell* block);
// Appends the words of the chain of the error in flight, oldest first: every
// named frame when mode > 1, else those whose word holds a function!.
void stack_chain_words(int32_t mode, Cell* block);

// ---- actions --------------------------------------------------------------------------

const Cell* error_make_action(Cell* proto, const Cell* spec, uint8_t type);
int32_t error_form(const Cell* value, Cell* target, bool only, bool all, bool flat, bool part,
                   int32_t budget, int32_t indent);
int32_t error_mold(const Cell* value, Cell* target, bool only, bool all, bool flat, bool part,
                   int32_t budget, int32_t indent);
int32_t error_compare(const Cell* value1, const Cell* value2, int32_t op);
void error_eval_path(const Cell* parent, const Cell* element, const Cell* set_value,
                     const Cell* path, bool case_, Cell* out);

// The end of a program whose error nothing caught: the formed error of the
// error in flight on standard error. Called inside the catch block.
void error_report_uncaught();

// Registers error! (parent object!) and the collector root of the settings.
void init_error();

} // namespace kel
