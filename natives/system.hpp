// Natives that reach the system, the data back ends and the evaluator:
// wait, checksum, set-env, get-env, now, recycle, transcode and apply. Each checks and unpacks its arguments, hands
// them to its back end and shapes the result (calling convention of
// core/natives_table.hpp).
#pragma once
#include "runtime/cell.hpp"
#include "core/natives_table.hpp"
#include <cstdint>
#include <vector>

namespace kel {

// refinements[0]: /all (no effect).
ExitCode native_wait(bool check, const int32_t* refinements);
// How wait spends its time once the GUI module is loaded: the module sets a
// function that answers the display during the wait and then handles the
// windows' queued messages. Without one wait sleeps.
using WaitHook = void (*)(double seconds);
void native_wait_hook_set(WaitHook hook);
// refinements[0]: /with (its spec argument's cell).
ExitCode native_checksum(bool check, const int32_t* refinements);
ExitCode native_set_env(bool check, const int32_t* refinements);
ExitCode native_get_env(bool check, const int32_t* refinements);
// refinements: /year /month /day /time /zone /date /weekday /yearday /precise /utc.
ExitCode native_now(bool check, const int32_t* refinements);
// refinements: /on /off.
ExitCode native_recycle(bool check, const int32_t* refinements);
// refinements: /next /one /prescan /scan /part /into /trace.
ExitCode native_transcode(bool check, const int32_t* refinements);
// refinements: /all /safer.
ExitCode native_apply(bool check, const int32_t* refinements);

// The bytes a native works on: a binary!'s from its position to its tail, a
// string's UTF-8 from its position. A copy, so it survives any allocation.
std::vector<uint8_t> native_value_bytes(Cell* value);
// The same bytes where they lie: in the binary's buffer, or in the string's
// conversion buffer. The collector may move either, so the span holds only
// until the next allocation; it spares a copy of the whole input.
struct ByteSpan {
    const uint8_t* data;
    uint32_t size;
};
ByteSpan native_value_span(Cell* value);
// The bytes of a value for a native that allocates between its reads. A
// binary is read where it lies, its span taken again after each allocation,
// so a large input is not copied; a string's UTF-8 is made once and kept.
struct NativeInput {
    Cell* value;
    std::vector<uint8_t> text;
    explicit NativeInput(Cell* v) : value(v) {
        if (cell_type(v) != T_BINARY) text = native_value_bytes(v);
    }
    ByteSpan bytes() const {
        if (cell_type(value) == T_BINARY) return native_value_span(value);
        return {text.data(), uint32_t(text.size())};
    }
};

// The date! of the current instant, pushed: one reading of the clock gives
// both the date and the time. With utc the zone is 0, else the local zone
// at that instant; with date_only the value has neither time nor zone;
// precise keeps the fraction of the second (100-nanosecond steps).
Cell* now_push(bool utc, bool precise, bool date_only);

} // namespace kel
