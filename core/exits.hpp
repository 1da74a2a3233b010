// Non-local exits: error, break, continue, return, exit and throw.
//
// Each exit is raised in two steps: the raiser searches the call stack for the
// frame that is to receive it, pops the frames above it and leaves the result
// where that frame expects it; then control travels to the innermost catcher
// whose catch level covers the exit's code. A catcher declares the largest
// code it looks at and sees every smaller one.
//
// How control travels:
// - break, continue, return, exit and throw are pending statuses, not C++
//   exceptions. The raiser answers the code; every evaluator level that gets a
//   code other than EXIT_CODE_NONE from a call returns it at once, touching
//   neither stack; the catcher ends it (exit_clear) or returns it on.
// - Where foreign C++ code sits between raiser and catcher and cannot pass a
//   status on, the exit is carried across it by exit_throw and turned back
//   into a status by the catcher's `catch (const ExitSignal&)`.
// - Errors are always C++ exceptions (LanguageError, core/error.hpp). The
//   catcher (try, the top level) restores the stack depths it saved on entry
//   (stack_restore) and reads the error in flight.
#pragma once
#include "runtime/cell.hpp"
#include <cstdint>

namespace kel {

struct CallFrame;

// Exit codes, largest first.
enum ExitCode : uint32_t {
    EXIT_CODE_NONE = 0,
    EXIT_CODE_ERROR = 0x7FFFFFFF,     // target: nearest try or try/all frame
    EXIT_CODE_BREAK = 0x7FFFFFFE,     // nearest loop frame
    EXIT_CODE_CONTINUE = 0x7FFFFFFD,  // nearest loop frame
    EXIT_CODE_RETURN = 0x7FFFFFFC,    // nearest frame with the body flag
    EXIT_CODE_EXIT = 0x7FFFFFFB,      // nearest frame with the body flag
    EXIT_CODE_THROW = 0x7FFFFFFA,     // nearest catch frame
};

// Catch levels in use.
constexpr ExitCode CATCH_ALL = EXIT_CODE_ERROR;    // try, function bodies
constexpr ExitCode CATCH_LOOP = EXIT_CODE_BREAK;   // loops: break and everything below
constexpr ExitCode CATCH_THROW = EXIT_CODE_THROW;  // catch: throws only

// Whether a catcher of the level sees the code.
inline bool exit_caught(ExitCode code, ExitCode level) {
    return code != EXIT_CODE_NONE && code <= level;
}

// The code in flight (EXIT_CODE_NONE when none), set by every raiser.
ExitCode exit_pending();
// Ends the exit in flight; called by the catcher that finishes it.
void exit_clear();

// break passes (with /return given, false), continue (false, true). The
// loop frame stays on the call stack and becomes current, its ARGS[0] holding
// the break value (the running frame's ARGS[0]) or unset. No loop, or a
// try/all frame before one: throw error break or continue, with the stacks
// as they were.
ExitCode stack_throw_break(bool with_value, bool is_continue);
// return passes true (its value is ARGS[0]), exit false (the value is unset).
// The search starts below the top frame (that of return or exit itself) and
// stops at the nearest frame with the body flag, which becomes current.
ExitCode stack_throw_return(bool is_return);
// throw: the value is ARGS[0], its name (or none) ARGS[1]. At the nearest
// catch frame, which becomes current, both are pushed. No catch frame, or a
// try/all frame before one: throw error throw with the value.
ExitCode stack_throw_throw(ExitCode code);
// A catch/name frame keeps the data-stack index + 1 of its names argument in
// its saved_values field (0: a catch without /name, which takes every throw),
// so a throw goes straight to the nearest catch that takes its name.
void catch_frame_names_set(CallFrame* frame, const Cell* names);
// Whether a thrown name is taken by catch names: a word equal by resolved
// symbol to the word or to one of the words of the block.
bool catch_names_match(const Cell* names, const Cell* thrown);
// Ctrl+C caught by the console: clears interrupt_requested and throws the word
// halt-request with the name console straight to the nearest catch/name that
// takes console, past any try/all or unnamed catch between (an interrupt is no
// error or value for the running code to catch), as halt would. EXIT_CODE_NONE
// when no such catch is on the stack: the console is between commands and the
// interrupt is dropped.
ExitCode stack_throw_halt();
// Whether a catch/name that takes console is on the stack (a command of the
// console is running).
bool halt_catcher_q();
// Raises the error in flight (core/error.hpp): records where it happened
// and whether a try frame will catch it, then throws LanguageError.
[[noreturn]] void stack_throw_error();

// Carries a pending exit across foreign C++ code.
struct ExitSignal {
    ExitCode code;
};
[[noreturn]] void exit_throw(ExitCode code);

} // namespace kel
