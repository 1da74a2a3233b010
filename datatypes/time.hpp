// time!: a duration or time of day as a float64 number of seconds (negative
// allowed, no upper bound). A child of float!: it shares the cell layout, the
// kernel, comparison, absolute, negate and remainder, and adds construction
// from hours, minutes and seconds, the h:mm:ss text and the path fields
// hour, minute and second.
#pragma once
#include "runtime/cell.hpp"
#include "runtime/memory.hpp"
#include <cstdint>

namespace kel {

// Field indices of path selection and pick.
enum TimeField : int32_t { TIME_HOUR = 1, TIME_MINUTE, TIME_SECOND };

// ---- cells -----------------------------------------------------------------

// Retypes the cell to time! keeping its header flags and stores the seconds.
Cell* time_make_at(double seconds, Cell* cell);
// Appends a time! (header exactly time!) at the block's tail; the seconds
// come as the two halves of their bit pattern.
Cell* time_make_in(Node block, uint32_t high, uint32_t low);
Cell* time_push(double seconds);

// truncate(t / 3600) toward zero.
int32_t time_hours(double t);
// floor((|t| mod 3600) / 60), never negative.
int32_t time_minutes(double t);
// Pushes field 1 (integer! hours), 2 (integer! minutes) or 3 (float! t mod 60).
Cell* time_get_field(const Cell* time, int32_t index);
// 1, 2 or 3 for hour, minute, second (by resolved symbol), else -1; with a
// time! value an unknown word raises cannot-use (word, value).
int32_t time_field_index(const Cell* word, const Cell* value);
// The seconds after setting a field (1 hour, 2 minute: integer!; 3 second:
// integer! or float!) to the value; a value of another type raises
// invalid-arg. Shared with the hour, minute and second of date!.
double time_field_set(double t, int32_t field, const Cell* value);

// Appends the text h:mm:ss[.fff] of t (a leading "-" when negative) and
// returns the budget less the characters appended.
int32_t time_form_text(double seconds, Cell* target, int32_t budget);
// The same text into a buffer of at least 48 bytes; returns its length.
int32_t time_text(double seconds, char* out);
// Buffer size for the exact text: the plain notation of the smallest
// seconds a double holds has some 330 digits.
constexpr int32_t TIME_TEXT_EXACT_SIZE = 400;
// The text with the seconds' shortest digits that read back to the same
// value (what mold writes), into a buffer of TIME_TEXT_EXACT_SIZE bytes.
int32_t time_text_exact(double seconds, char* out);

[[noreturn]] void time_bad_spec(const Cell* spec);

// The lexer's loader of a time token (UTF-8 bytes from start to end):
// [sign] hours ":" minutes [":" seconds] or [sign] minutes ":" seconds with a
// fraction. False when the token is invalid; with out null it only checks.
bool scan_time(const uint8_t* start, const uint8_t* end, Cell* out);

// ---- actions ---------------------------------------------------------------

// make and to: time!, integer!, float!, percent!, a block of up to three
// numbers, or a text that loads as a time!.
const Cell* time_make(Cell* proto, const Cell* spec, uint8_t type);
int32_t time_form(const Cell* value, Cell* target, bool only, bool all, bool flat, bool part,
                  int32_t budget, int32_t indent);
int32_t time_mold(const Cell* value, Cell* target, bool only, bool all, bool flat, bool part,
                  int32_t budget, int32_t indent);
// Path selection: a get writes the field into out; a set changes the parent
// in place and writes the value set into out.
void time_eval_path(Cell* parent, const Cell* element, const Cell* set_value, const Cell* path,
                    bool case_, Cell* out);
// pick by index (1-3) or field word; the field replaces the value.
void time_pick(Cell* time, const Cell* index);
void time_add(Cell* value1, const Cell* value2);
void time_subtract(Cell* value1, const Cell* value2);
void time_multiply(Cell* value1, const Cell* value2);
void time_divide(Cell* value1, const Cell* value2);
void time_round(Cell* value, const Cell* scale, bool even, bool down, bool half_down,
                bool floor, bool ceiling, bool half_ceiling);
bool time_even_q(const Cell* value);
bool time_odd_q(const Cell* value);

// Registers time! (type 43, child of float!) with its 62 slots.
void init_time();

} // namespace kel
