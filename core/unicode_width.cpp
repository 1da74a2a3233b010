// Character widths looked up in two sorted range tables generated from the
// Unicode data (core/unicode_width_data.inc).
#include "core/unicode_width.hpp"

#include <iterator>

namespace kel {

namespace {
struct CodeRange {
    uint32_t first, last;
};
#include "core/unicode_width_data.inc"
} // namespace

static bool ranges_hold(const CodeRange* ranges, uint32_t count, uint32_t c) {
    uint32_t low = 0, high = count;
    while (low < high) {
        uint32_t mid = (low + high) / 2;
        if (c > ranges[mid].last) low = mid + 1;
        else if (c < ranges[mid].first) high = mid;
        else return true;
    }
    return false;
}

int unicode_char_width(uint32_t c) {
    if (c < 32 || (c >= 127 && c < 160)) return 0;
    if (c < zero_width_ranges[0].first) return 1;
    if (ranges_hold(zero_width_ranges, uint32_t(std::size(zero_width_ranges)), c)) return 0;
    return ranges_hold(double_width_ranges, uint32_t(std::size(double_width_ranges)), c) ? 2 : 1;
}

} // namespace kel
