#include "datatypes/date.hpp"
#include "datatypes/float.hpp"
#include "core/float_text.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/time.hpp"
#include "core/actions.hpp"
#include "core/block.hpp"
#include "core/context.hpp"
#include "core/library_context.hpp"
#include "core/object.hpp"
#include "core/string.hpp"
#include "core/unicode.hpp"
#include "core/error.hpp"
#include "core/hashtable.hpp"
#include "core/logic.hpp"
#include "core/mold_text.hpp"
#include "core/registry.hpp"
#include "core/series.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "core/vocabulary.hpp"
#include "core/word.hpp"
#include "runtime/random.hpp"
#include <cmath>
#include <cstring>

namespace kel {

constexpr double DAY_SECONDS = 86400.0;

static const char* const month_names[12] = {
    "January", "February", "March", "April", "May", "June",
    "July", "August", "September", "October", "November", "December",
};

// Longest month by month; February counts 29 and is checked against the
// leap-year rule separately.
static const int32_t month_days[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

// Division and remainder rounding toward minus infinity.
static int64_t floor_div(int64_t a, int64_t b) {
    int64_t q = a / b;
    return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}
static int64_t floor_mod(int64_t a, int64_t b) { return a - floor_div(a, b) * b; }

// ---- zone --------------------------------------------------------------------

uint32_t date_zone_byte(bool west, int32_t hours, int32_t quarters) {
    uint32_t zone = (uint32_t(hours) & 15) << 2 | (uint32_t(quarters) & 3);
    return zone != 0 && west ? zone | DATE_ZONE_WEST : zone;
}

int32_t date_zone_offset(uint32_t zone) {
    int32_t magnitude = int32_t((zone >> 2) & 15) * 3600 + int32_t(zone & 3) * 900;
    return (zone & DATE_ZONE_WEST) ? -magnitude : magnitude;
}

double date_zone_shift(double seconds, uint32_t zone, int32_t direction) {
    return seconds + double(direction * date_zone_offset(zone));
}

// ---- calendar ----------------------------------------------------------------

int64_t date_day_number_of(int64_t year, int32_t month, int64_t day) {
    int64_t m = (month + 9) % 12;  // March 0 .. February 11
    int64_t y = year - m / 10;
    return 365 * y + floor_div(y, 4) - floor_div(y, 100) + floor_div(y, 400) + (m * 306 + 5) / 10 +
           (day - 1);
}

int64_t date_day_number(uint32_t packed) {
    return date_day_number_of(date_year(packed), date_month(packed), date_day(packed));
}

static int64_t year_start(int64_t y) {
    return 365 * y + floor_div(y, 4) - floor_div(y, 100) + floor_div(y, 400);
}

// Year, month and day of a day number.
static void date_civil(int64_t days, int64_t* year, int32_t* month, int32_t* day) {
    int64_t y = int64_t(std::floor((10000.0 * double(days) + 14780.0) / 3652425.0));
    int64_t r = days - year_start(y);
    while (r < 0) r = days - year_start(--y);
    while (days - year_start(y + 1) >= 0) r = days - year_start(++y);
    int64_t k = (100 * r + 52) / 3060;
    *month = int32_t((k + 2) % 12 + 1);
    *year = y + (k + 2) / 12;
    *day = int32_t(r - (k * 306 + 5) / 10 + 1);
}

static uint32_t date_pack(int64_t year, int32_t month, int32_t day, uint32_t zone, bool has_time) {
    if (year < DATE_YEAR_MIN || year > DATE_YEAR_MAX) error_raise_type(ERR_TYPE_LIMIT, T_DATE);
    uint32_t packed = uint32_t(int32_t(year)) << 17 | uint32_t(month & 15) << 12 |
                      uint32_t(day & 31) << 7 | (zone & DATE_ZONE_MASK);
    return has_time ? packed | DATE_HAS_TIME : packed;
}

uint32_t date_from_day_number(int64_t days, uint32_t zone, bool has_time) {
    // Days far outside the year field are refused before the float estimate.
    if (days < -6000000 || days > 6000000) error_raise_type(ERR_TYPE_LIMIT, T_DATE);
    int64_t year;
    int32_t month, day;
    date_civil(days, &year, &month, &day);
    return date_pack(year, month, day, zone, has_time);
}

bool date_leap_year_q(int64_t year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int64_t date_jan1_day(uint32_t packed) { return date_day_number_of(date_year(packed), 1, 1); }

static int64_t isoweek_start_of(int64_t year, int32_t* weekday) {
    int64_t w1 = date_day_number_of(year, 1, 1);
    int64_t b = floor_mod(w1 + 2, 7);  // 0 = Monday
    if (weekday != nullptr) *weekday = int32_t(b + 1);
    return b <= 3 ? w1 - b : w1 + 7 - b;
}

int64_t date_isoweek_start(uint32_t packed, int32_t* weekday) {
    return isoweek_start_of(date_year(packed), weekday);
}

int32_t date_yearday(uint32_t packed) {
    return int32_t(date_day_number(packed) - date_jan1_day(packed) + 1);
}

int32_t date_weekday(uint32_t packed) {
    return int32_t(floor_mod(date_day_number(packed) + 2, 7) + 1);
}

int32_t date_week(uint32_t packed) {
    int64_t s = floor_mod(date_jan1_day(packed) + 3, 7);  // 0 when 1 January is a Sunday
    int64_t f = 7 - s;
    int64_t y = date_yearday(packed);
    return y <= f ? 1 : int32_t((y + s - 1) / 7 + 1);
}

int32_t date_isoweek(uint32_t packed) {
    int64_t year = date_year(packed);
    int32_t jan1_weekday;
    int64_t s = isoweek_start_of(year, &jan1_weekday);
    int64_t d = date_day_number(packed);
    if (d >= s) {
        int64_t s2 = isoweek_start_of(year + 1, nullptr);
        return d >= s2 ? 1 : int32_t((d - s) / 7 + 1);
    }
    if (jan1_weekday == 5) return 53;
    if (jan1_weekday == 6) return date_leap_year_q(year - 1) ? 53 : 52;
    return 52;
}

// ---- time of day ---------------------------------------------------------------

int64_t date_normalise_time(int64_t days, double* seconds, uint32_t zone) {
    // The zone offset in hours, with its quarter hours as a fraction.
    double z = double(date_zone_offset(zone)) / 3600.0;
    double t = *seconds;
    double c = std::trunc(std::trunc(t / 3600.0 + z) / 24.0);
    if (!(std::fabs(c) < 1e8)) error_raise_type(ERR_TYPE_LIMIT, T_DATE);
    days += int64_t(c);
    t -= c * DAY_SECONDS;
    if (t + z * 3600.0 < 0) {
        days -= 1;
        t += DAY_SECONDS;
    }
    *seconds = t;
    return days;
}

void date_set_time(Cell* cell, double seconds, bool from_local) {
    uint32_t zone = date_zone(cell->w1);
    if (from_local) seconds = date_to_utc(seconds, zone);
    int64_t d = date_normalise_time(date_day_number(cell->w1), &seconds, zone);
    cell->w1 = date_from_day_number(d, zone, date_has_time(cell->w1));
    cell_set_double(cell, seconds);
}

// Moves the cell to a day number, keeping zone, has-time and seconds.
static void date_set_day_number(Cell* cell, int64_t days) {
    cell->w1 = date_from_day_number(days, date_zone(cell->w1), date_has_time(cell->w1));
}

void date_set_month(Cell* cell, int64_t month) {
    uint32_t p = cell->w1;
    int64_t year = int64_t(date_year(p)) + floor_div(month - 1, 12);
    int32_t m = int32_t(floor_mod(month - 1, 12) + 1);
    date_set_day_number(cell, date_day_number_of(year, m, date_day(p)));
}

void date_set_week(Cell* cell, int32_t n) {
    date_set_day_number(cell, date_isoweek_start(cell->w1, nullptr) + (int64_t(n) - 1) * 7);
}

void date_set_weekday(Cell* cell, int32_t n) {
    int64_t d = date_day_number(cell->w1);
    date_set_day_number(cell, d + (int64_t(n) - 1) - floor_mod(d + 2, 7));
}

void date_set_yearday(Cell* cell, int32_t n) {
    date_set_day_number(cell, date_jan1_day(cell->w1) + int64_t(n) - 1);
}

// The Sunday that opens week n (1 January for n <= 1).
static void date_set_sunday_week(Cell* cell, int32_t n) {
    int64_t w1 = date_jan1_day(cell->w1);
    if (n <= 1) {
        date_set_day_number(cell, w1);
        return;
    }
    int64_t s = floor_mod(w1 + 3, 7);
    date_set_day_number(cell, w1 + (int64_t(n) - 2) * 7 + 7 - s);
}

void date_set_zone(Cell* cell, const Cell* value, bool keep_instant) {
    int32_t hours, minutes;
    bool west;
    if (cell_type(value) == T_INTEGER) {
        int32_t v = cell_int(value);
        hours = v % 16;
        minutes = 0;
        west = hours < 0;
    } else if (cell_type(value) == T_TIME) {
        double u = std::fmod(cell_double(value), 57600.0);
        if (std::isnan(u)) error_raise(ERR_INVALID_ARG, value);
        hours = int32_t(std::trunc(u / 3600.0));
        minutes = int32_t(std::floor(std::fmod(std::fabs(u), 3600.0) / 60.0));
        west = u < 0;  // -0:30 lies west even though its hours are 0
    } else {
        error_raise(ERR_INVALID_ARG, value);
    }
    uint32_t old_zone = date_zone(cell->w1);
    uint32_t zone = date_zone_byte(west, hours < 0 ? -hours : hours, minutes / 15);
    double seconds = cell_double(cell);
    cell->w1 = (cell->w1 & ~DATE_ZONE_MASK) | zone;
    if (!keep_instant) {
        cell_set_double(cell, date_to_utc(date_to_local(seconds, old_zone), zone));
        return;
    }
    date_set_time(cell, date_to_local(seconds, zone), true);
}

// ---- constructors ----------------------------------------------------------------

Cell* date_init(Node block, uint32_t packed, uint32_t high, uint32_t low) {
    Cell* cell = cell_series_append(block);
    cell_init(cell, T_DATE);
    cell->w1 = packed;
    cell->w2 = low;
    cell->w3 = high;
    return cell;
}

Cell* date_push(uint32_t packed, double seconds) {
    Cell* cell = stack_push_new(T_DATE);
    cell->w1 = packed;
    cell_set_double(cell, seconds);
    return cell;
}

// date_from_os_time with the zone's sign given apart from its hours, so that
// a zone of less than an hour west keeps its sign.
static void date_from_local(Cell* cell, int64_t year, int32_t month, int32_t day, double seconds,
                            bool west, int32_t zone_hours, int32_t zone_minutes, bool has_time) {
    uint32_t zone = date_zone_byte(west, zone_hours < 0 ? -zone_hours : zone_hours,
                                   zone_minutes / 15);
    uint32_t packed = date_pack(year, month, day, zone, has_time);
    cell_type_set(cell, T_DATE);
    cell->w1 = packed;
    cell_set_double(cell, has_time ? date_to_utc(seconds, zone) : 0.0);
}

void date_from_os_time(Cell* cell, int32_t year, int32_t month, int32_t day, double seconds,
                       int32_t zone_hours, int32_t zone_minutes, bool has_time) {
    date_from_local(cell, year, month, day, seconds, zone_hours < 0, zone_hours, zone_minutes,
                    has_time);
}

void date_from_fields(Cell* cell, int32_t year, int32_t month, int32_t day, int32_t hour,
                      int32_t minute, int32_t second, int32_t nanoseconds) {
    uint32_t packed = date_pack(year, month, day, 0, true);
    cell_type_set(cell, T_DATE);
    cell->w1 = packed;
    cell_set_double(cell, 3600.0 * hour + 60.0 * minute + second + 1e-9 * nanoseconds);
}

// ---- fields ------------------------------------------------------------------------

int32_t date_field_index(const Cell* word) {
    uint8_t type = cell_type(word);
    if (type != T_WORD && type != T_LIT_WORD && type != T_SET_WORD && type != T_GET_WORD)
        return -1;
    static const struct { RuntimeSymbol symbol; int32_t index; } fields[] = {
        {SYM_DATE, DATE_F_DATE}, {SYM_YEAR, DATE_F_YEAR}, {SYM_MONTH, DATE_F_MONTH},
        {SYM_DAY, DATE_F_DAY}, {SYM_ZONE, DATE_F_ZONE}, {SYM_TIME, DATE_F_TIME},
        {SYM_HOUR, DATE_F_HOUR}, {SYM_MINUTE, DATE_F_MINUTE}, {SYM_SECOND, DATE_F_SECOND},
        {SYM_WEEKDAY, DATE_F_WEEKDAY}, {SYM_YEARDAY, DATE_F_YEARDAY},
        {SYM_JULIAN, DATE_F_YEARDAY}, {SYM_TIMEZONE, DATE_F_TIMEZONE}, {SYM_WEEK, DATE_F_WEEK},
        {SYM_ISOWEEK, DATE_F_ISOWEEK},
    };
    uint32_t symbol = symbol_resolve(word_symbol(word));
    for (const auto& f : fields)
        if (symbol == symbol_resolve(runtime_symbol(f.symbol))) return f.index;
    return -1;
}

// Writes field 1-14 of the date into out, which may be the date itself.
static void date_field_make_at(const Cell* cell, int32_t index, Cell* out) {
    uint32_t p = cell->w1;
    double t = date_to_local(cell_double(cell), date_zone(p));
    int32_t n;
    switch (index) {
    case DATE_F_DATE:
        cell_init(out, T_DATE);
        out->w1 = p & ~(DATE_HAS_TIME | DATE_ZONE_MASK);
        return;
    case DATE_F_ZONE:
    case DATE_F_TIMEZONE:
    case DATE_F_TIME:
        if (!date_has_time(p)) {
            none_make_at(out);
            return;
        }
        cell_init(out, T_TIME);
        cell_set_double(out, index == DATE_F_TIME ? t : double(date_zone_offset(date_zone(p))));
        return;
    case DATE_F_SECOND: float_make_at(out, std::fmod(t, 60.0)); return;
    case DATE_F_YEAR: n = date_year(p); break;
    case DATE_F_MONTH: n = date_month(p); break;
    case DATE_F_DAY: n = date_day(p); break;
    case DATE_F_HOUR: n = time_hours(t); break;
    case DATE_F_MINUTE: n = time_minutes(t); break;
    case DATE_F_WEEKDAY: n = date_weekday(p); break;
    case DATE_F_YEARDAY: n = date_yearday(p); break;
    case DATE_F_WEEK: n = date_week(p); break;
    default: n = date_isoweek(p); break;
    }
    cell_init(out, T_INTEGER);
    integer_set(out, int32_t(n));
}

Cell* date_get_field(const Cell* cell, int32_t index) {
    Cell value;
    date_field_make_at(cell, index, &value);
    return stack_push(&value);
}

// Changes one field of the date in place.
static void date_set_field(Cell* cell, int32_t index, const Cell* value) {
    uint8_t type = cell_type(value);
    switch (index) {
    case DATE_F_YEAR: case DATE_F_MONTH: case DATE_F_DAY: case DATE_F_WEEKDAY:
    case DATE_F_YEARDAY: case DATE_F_WEEK: case DATE_F_ISOWEEK:
        if (type != T_INTEGER) error_raise(ERR_INVALID_ARG, value);
        break;
    default: break;
    }
    int32_t n = cell_int(value);
    uint32_t p = cell->w1;
    switch (index) {
    case DATE_F_DATE:
        if (type != T_DATE) error_raise(ERR_INVALID_ARG, value);
        cell->w1 = (value->w1 & ~DATE_ZONE_MASK) | date_zone(p);
        return;
    case DATE_F_YEAR:
        date_set_day_number(cell, date_day_number_of(n, date_month(p), date_day(p)));
        return;
    case DATE_F_MONTH: date_set_month(cell, n); return;
    case DATE_F_DAY:
        date_set_day_number(cell, date_day_number_of(date_year(p), date_month(p), 0) + n);
        return;
    case DATE_F_ZONE:
    case DATE_F_TIMEZONE:
        if (type != T_INTEGER && type != T_TIME) error_raise(ERR_INVALID_ARG, value);
        cell->w1 |= DATE_HAS_TIME;
        date_set_zone(cell, value, index == DATE_F_TIMEZONE);
        return;
    case DATE_F_TIME:
        if (type == T_NONE) {
            cell->w1 &= ~DATE_HAS_TIME;
            cell_set_double(cell, 0.0);
            return;
        }
        if (type != T_TIME) error_raise(ERR_INVALID_ARG, value);
        cell->w1 |= DATE_HAS_TIME;
        date_set_time(cell, cell_double(value), true);
        return;
    case DATE_F_HOUR:
    case DATE_F_MINUTE:
    case DATE_F_SECOND: {
        // The field is set in the local time, which then goes back to UTC,
        // so a zone with quarter hours keeps the minutes it shows.
        double local = date_to_local(cell_double(cell), date_zone(p));
        double t = time_field_set(local, index - DATE_F_HOUR + TIME_HOUR, value);
        cell->w1 |= DATE_HAS_TIME;
        date_set_time(cell, t, true);
        return;
    }
    case DATE_F_WEEKDAY: date_set_weekday(cell, n); return;
    case DATE_F_YEARDAY: date_set_yearday(cell, n); return;
    case DATE_F_WEEK: date_set_sunday_week(cell, n); return;
    default: date_set_week(cell, n); return;
    }
}

void date_eval_path(Cell* parent, const Cell* element, const Cell* set_value, const Cell* path,
                    bool, Cell* out) {
    int32_t index = -1;
    if (cell_type(element) == T_INTEGER) {
        int32_t n = cell_int(element);
        if (n >= 1 && n <= 14) index = n;
    } else {
        index = date_field_index(element);
    }
    if (index < 0) error_raise(ERR_INVALID_PATH, path, element);
    if (set_value == nullptr) {
        date_field_make_at(parent, index, out);
        return;
    }
    date_set_field(parent, index, set_value);
    cell_copy(set_value, out);
}

void date_pick(Cell* date, const Cell* index) {
    int64_t number;
    int32_t n = index_argument(index, &number) ? (number >= 1 && number <= 14 ? int32_t(number) : 0)
                                               : date_field_index(index);
    if (n < 1 || n > 14) error_raise(ERR_OUT_OF_RANGE, index);
    date_field_make_at(date, n, date);
}

// ---- conversions ---------------------------------------------------------------------

void date_difference(Cell* a, const Cell* b) {
    double days = double(date_day_number(a->w1) - date_day_number(b->w1));
    double t = days * DAY_SECONDS + (cell_double(a) - cell_double(b));
    cell_init(a, T_TIME);
    cell_set_double(a, t);
}

int32_t date_to_epoch(const Cell* cell) {
    double whole = std::trunc(cell_double(cell) + 0.5);
    double total = double(date_day_number(cell->w1) - DATE_EPOCH_DAY) * DAY_SECONDS + whole;
    int32_t n;
    if (!integer_from_double(total, &n)) error_raise_type(ERR_TYPE_LIMIT, T_INTEGER);
    return n;
}

[[noreturn]] static void raise_construction(const Cell* spec) {
    error_raise_type(ERR_BAD_TO_ARG, T_DATE, spec);
}

// Fields a block spec fills, by the state machine below.
struct DateSpec {
    int32_t first, month, third, hour, minute, second, zone_hours, zone_minutes;
    double time, zone_time, float_second;
};

// Next state for (state, kind) with kind 0 integer!, 1 time!, 2 float!; -1 none.
static const int8_t spec_states[14][3] = {
    {1, -1, -1}, {2, -1, -1}, {3, -1, -1}, {8, 4, -1}, {6, 5, -1}, {-1, -1, -1},
    {7, -1, -1}, {-1, -1, -1}, {9, -1, -1}, {10, -1, 10}, {12, 11, -1}, {-1, -1, -1},
    {13, -1, -1}, {-1, -1, -1},
};

static void date_from_spec(Cell* proto, const Cell* spec, bool normalise) {
    uint8_t spec_type = cell_type(spec);
    if (spec_type != T_BLOCK && spec_type != T_PAREN && spec_type != T_HASH)
        raise_construction(spec);
    SeriesBuffer* buffer = series_buffer_of(spec);
    uint32_t length = buffer->length();
    uint32_t head = uint32_t(series_index(spec)) < length ? uint32_t(series_index(spec)) : length;
    const Cell* values = block_cells(buffer) + head;
    uint32_t count = length - head;

    DateSpec f{};
    int state = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const Cell* v = &values[i];
        int kind = cell_type(v) == T_INTEGER ? 0 : cell_type(v) == T_TIME ? 1
                 : cell_type(v) == T_FLOAT   ? 2 : -1;
        int next = kind < 0 ? -1 : spec_states[state][kind];
        if (next < 0) raise_construction(spec);
        int32_t n = cell_int(v);
        switch (next) {
        case 1: f.first = n; break;
        case 2: f.month = n; break;
        case 3: f.third = n; break;
        case 4: f.time = cell_double(v); break;
        case 5: case 11: f.zone_time = cell_double(v); break;
        case 6: case 12: f.zone_hours = n; break;
        case 7: case 13: f.zone_minutes = n; break;
        case 8: f.hour = n; break;
        case 9: f.minute = n; break;
        default:
            if (kind == 2) f.float_second = cell_double(v);
            else f.second = n;
            break;
        }
        state = next;
    }
    if (count < 3) raise_construction(spec);
    if (f.first >= 100 && f.first > f.third) std::swap(f.first, f.third);

    bool west = f.zone_hours < 0;
    if (state == 5 || state == 11) {
        double z = f.zone_time;
        if (!std::isfinite(z) || std::fabs(z) >= 16.0 * 3600.0) raise_construction(spec);
        f.zone_hours = int32_t(std::trunc(z / 3600.0));
        f.zone_minutes = int32_t(std::floor(std::fmod(std::fabs(z), 3600.0) / 60.0));
        west = z < 0;
    }
    // The zone byte holds hours 0-15 and whole quarter hours below 60 minutes.
    if (f.zone_hours < -15 || f.zone_hours > 15 || f.zone_minutes < 0 || f.zone_minutes > 59)
        raise_construction(spec);
    uint32_t zone = date_zone_byte(west, f.zone_hours < 0 ? -f.zone_hours : f.zone_hours,
                                   f.zone_minutes / 15);

    double t;
    if (state >= 8) {
        t = f.hour * 3600.0 + f.minute * 60.0 + (f.float_second != 0.0 ? f.float_second : f.second);
    } else {
        t = state >= 4 ? f.time : 0.0;
    }
    if (!std::isfinite(t)) raise_construction(spec);

    cell_init(proto, T_DATE);
    int64_t year = int64_t(f.third) + floor_div(int64_t(f.month) - 1, 12);
    int32_t month = int32_t(floor_mod(int64_t(f.month) - 1, 12) + 1);
    int64_t days = date_day_number_of(year, month, 0) + f.first;
    proto->w1 = date_from_day_number(days, 0, count > 3);
    date_set_time(proto, t, false);

    if (!normalise) {
        uint32_t p = proto->w1;
        if (date_year(p) != f.third || date_month(p) != f.month || date_day(p) != f.first)
            raise_construction(spec);
        double stored = cell_double(proto);
        int32_t stored_minute = int32_t(std::floor(std::fmod(stored, 3600.0) / 60.0));
        if (t != 0.0) {
            double h = std::trunc(t / 3600.0);
            int32_t given_minute = state >= 9 ? f.minute
                                 : int32_t(std::floor(std::fmod(std::fabs(t), 3600.0) / 60.0));
            if (h < 0 || h > 23 || stored_minute != given_minute) raise_construction(spec);
        } else {
            int32_t stored_hour = int32_t(std::trunc(stored / 3600.0));
            if (stored_hour != f.hour || stored_minute != f.minute) raise_construction(spec);
        }
    }
    proto->w1 = (proto->w1 & ~DATE_ZONE_MASK) | zone;
    date_set_time(proto, cell_double(proto), true);
}

const Cell* date_make(Cell* proto, const Cell* spec, uint8_t) {
    if (cell_type(spec) == T_DATE) return spec;
    date_from_spec(proto, spec, false);
    return proto;
}

const Cell* date_to(Cell* proto, const Cell* spec, uint8_t) {
    switch (cell_type(spec)) {
    case T_DATE: return spec;
    case T_INTEGER: {
        int64_t n = cell_int(spec);
        cell_init(proto, T_DATE);
        proto->w1 = date_from_day_number(DATE_EPOCH_DAY + n / 86400, 0, true);
        double seconds = double(n % 86400);
        cell_set_double(proto, seconds);
        if (n < 0) date_set_time(proto, seconds, false);
        return proto;
    }
    default:
        date_from_spec(proto, spec, true);
        return proto;
    }
}

// ---- arithmetic, comparison ---------------------------------------------------------------

void date_add_subtract(Cell* a, const Cell* b, int32_t op) {
    int64_t days = 0;
    double seconds = 0;
    bool difference = false;
    uint32_t has_time = a->w1 & DATE_HAS_TIME;
    switch (cell_type(b)) {
    case T_INTEGER: days = cell_int(b); break;
    case T_TIME:
        seconds = cell_double(b);
        has_time = DATE_HAS_TIME;
        break;
    case T_DATE: {
        if (op == OP_ADD) {
            error_raise_type(ERR_NOT_RELATED, runtime_word(W_ADD), T_DATE);
        }
        days = date_day_number(b->w1);
        seconds = cell_double(b);
        difference = true;
        break;
    }
    default: {
        error_raise_type(ERR_INVALID_TYPE, cell_type(b));
    }
    }
    uint32_t zone = date_zone(a->w1);
    int64_t d = date_day_number(a->w1);
    double t = cell_double(a);
    if (op == OP_ADD) {
        d += days;
        t += seconds;
    } else {
        d -= days;
        t -= seconds;
    }
    d = date_normalise_time(d, &t, zone);
    if (difference) {
        cell_init(a, T_INTEGER);
        integer_set(a, int32_t(d));
        return;
    }
    a->w1 = date_from_day_number(d, zone, has_time != 0);
    cell_set_double(a, t);
}

void date_add(Cell* value1, const Cell* value2) { date_add_subtract(value1, value2, OP_ADD); }
void date_subtract(Cell* value1, const Cell* value2) {
    date_add_subtract(value1, value2, OP_SUBTRACT);
}

int32_t date_compare(const Cell* value1, const Cell* value2, int32_t op) {
    if (cell_type(value2) != T_DATE) return COMPARE_INCOMPARABLE;
    uint32_t ka = (value1->w1 & ~DATE_HAS_TIME) >> 7, kb = (value2->w1 & ~DATE_HAS_TIME) >> 7;
    double sa = cell_double(value1), sb = cell_double(value2);
    bool equal = ka == kb && float_near_equal_q(sa, sb);
    switch (op) {
    case CMP_EQUAL: case CMP_NOT_EQUAL: case CMP_STRICT_EQUAL: case CMP_FIND:
        return equal ? 0 : 1;
    case CMP_SAME:
        return ka == kb && value1->w2 == value2->w2 && value1->w3 == value2->w3 ? 0 : 1;
    default: break;
    }
    if (equal) return 0;
    // Keys compare as signed years first: the packed word is signed.
    int32_t sk1 = int32_t(value1->w1 & ~DATE_HAS_TIME) >> 7;
    int32_t sk2 = int32_t(value2->w1 & ~DATE_HAS_TIME) >> 7;
    if (sk1 != sk2) return sk1 < sk2 ? -1 : 1;
    return sa < sb ? -1 : sb < sa ? 1 : 0;
}

// ---- random ------------------------------------------------------------------------------

void date_random(Cell* value, bool seed, bool secure, bool) {
    if (seed) {
        double whole = std::trunc(cell_double(value));
        int32_t seconds = 0;
        integer_from_double(whole, &seconds);
        random_mt_seed(value->w1 + uint32_t(seconds));
        unset_make_at(value);
        return;
    }
    uint32_t p = value->w1;
    int64_t days = date_day_number(p);
    int32_t limit = days > INT32_MAX ? INT32_MAX : days < INT32_MIN ? INT32_MIN : int32_t(days);
    int64_t d = random_in_range(secure, limit);
    uint32_t zone = date_zone(p);
    bool has_time = date_has_time(p);
    value->w1 = date_from_day_number(d - 1, zone, has_time);
    if (!has_time) return;
    uint32_t bits = secure ? uint32_t(random_secure_int()) : random_mt_next();
    value->w1 = (value->w1 & ~DATE_ZONE_MASK) | (bits & DATE_ZONE_MASK);
    // A time of day in steps of 24 seconds.
    double x;
    if (secure) {
        double r1 = random_secure_int(), r2 = random_secure_int();
        x = (r1 / 2147483647.0 + r2) / (2147483648.0 / 3600.0);
    } else {
        x = double(int32_t(random_mt_next())) / 2147483647.0 * 3600.0;
    }
    date_set_time(value, std::floor(x) * 24.0, true);  // floor(x) / 3600 of a day, exactly
}

// ---- text ------------------------------------------------------------------------------

static int32_t append_number(char* out, int64_t n, int32_t width) {
    char digits[24];
    int k = 0;
    uint64_t v = n < 0 ? uint64_t(-n) : uint64_t(n);
    do {
        digits[k++] = char('0' + v % 10);
        v /= 10;
    } while (v != 0);
    while (k < width) digits[k++] = '0';
    for (int i = 0; i < k; ++i) out[i] = digits[k - 1 - i];
    return k;
}

// The first three characters of the month's name (1 to 12) as UTF-8 into out
// (at least 12 bytes); returns the byte count. The names are the block
// system/locale/months, which a script may replace or change in place; until
// the library has made the system object the built-in English names serve.
// A list that is no block, is too short, or holds no string at that entry
// raises invalid-months. Interning the names may allocate.
static int32_t locale_month_abbreviation(int32_t month, char* out) {
    CellRoot system_word(library_word("system"));
    const Cell* system = word_get(&system_word.cell);
    if (!system || cell_type(system) != T_OBJECT) {
        std::memcpy(out, month >= 1 && month <= 12 ? month_names[month - 1] : "???", 3);
        return 3;
    }
    CellRoot holder(*system);
    CellRoot locale_word(word_intern("locale")), months_word(word_intern("months"));
    const Cell* locale = object_select_field(&holder.cell, &locale_word.cell);
    if (!locale || cell_type(locale) != T_OBJECT) error_raise(ERR_INVALID_MONTHS);
    const Cell* months = object_select_field(locale, &months_word.cell);
    if (!months || cell_type(months) != T_BLOCK || month < 1) error_raise(ERR_INVALID_MONTHS);
    uint32_t at = uint32_t(series_index(months)) + uint32_t(month - 1);
    if (at >= series_buffer_length(months)) error_raise(ERR_INVALID_MONTHS);
    const Cell* name = block_ks_abs_at(months, at);
    if (cell_type(name) != T_STRING) error_raise(ERR_INVALID_MONTHS);
    uint32_t length = series_buffer_length(name);
    int32_t n = 0;
    for (uint32_t i = uint32_t(series_index(name)); i < length && i < uint32_t(series_index(name)) + 3; i++)
        n += int32_t(utf8_encode_char(string_ks_char_at(name, i), reinterpret_cast<uint8_t*>(out + n)));
    return n;
}

// The text of a date with the month's name given (UTF-8, any length).
static int32_t date_text_named(const Cell* date, const char* month_name, int32_t name_length,
                               char* out) {
    uint32_t p = date->w1;
    int32_t year = date_year(p);
    char sep = year >= 0 ? '-' : '/';
    int32_t n = append_number(out, date_day(p), 0);
    out[n++] = sep;
    std::memcpy(out + n, month_name, size_t(name_length));
    n += name_length;
    out[n++] = sep;
    if (year < 0) out[n++] = '-';
    int32_t magnitude = year < 0 ? -year : year;
    n += append_number(out + n, magnitude, magnitude < 100 ? 4 : 0);
    if (date_has_time(p)) {
        out[n++] = '/';
        uint32_t zone = date_zone(p);
        n += time_text(date_to_local(cell_double(date), zone), out + n);
        if (zone != 0) {
            out[n++] = (zone & DATE_ZONE_WEST) ? '-' : '+';
            n += append_number(out + n, (zone >> 2) & 15, 2);
            out[n++] = ':';
            n += append_number(out + n, (zone & 3) * 15, 2);
        }
    }
    return n;
}

int32_t date_text(const Cell* date, char* out) {
    int32_t month = date_month(date->w1);
    return date_text_named(date, month >= 1 && month <= 12 ? month_names[month - 1] : "???", 3, out);
}

int32_t date_form(const Cell* value, Cell* target, bool, bool, bool, bool, int32_t budget,
                  int32_t) {
    Cell date = *value;  // the lookup of the names may move the value's buffer
    char name[16];
    int32_t name_length = locale_month_abbreviation(date_month(date.w1), name);
    char text[128];
    int32_t n = date_text_named(&date, name, name_length, text);
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(text);
    string_append_utf8(target, bytes, uint32_t(n));
    return budget - int32_t(utf8_count_chars(bytes, bytes + n));
}

// ---- literal loader -------------------------------------------------------------------------

// Reads up to max decimal digits; -2 when p is at the end, -1 when no digit
// was read or an exact count was not met.
static const uint8_t* scan_digits(const uint8_t* p, const uint8_t* end, int exact, int max,
                                  int32_t* value, int* error, int* count = nullptr) {
    if (p >= end) {
        *error = -2;
        return p;
    }
    int32_t v = 0;
    int n = 0;
    while (p < end && n < max && *p >= '0' && *p <= '9') {
        v = v * 10 + (*p++ - '0');
        ++n;
    }
    if (n == 0 || (exact > 0 && n != exact)) *error = -1;
    else *value = v;
    if (count != nullptr) *count = n;
    return p;
}

// The run of digits and "." read as a decimal number.
static const uint8_t* scan_seconds(const uint8_t* p, const uint8_t* end, double* value,
                                   int* error) {
    const uint8_t* run = p;
    while (p < end && ((*p >= '0' && *p <= '9') || *p == '.')) ++p;
    int32_t unconsumed = 0;
    double v = string_to_float(reinterpret_cast<const char*>(run),
                               reinterpret_cast<const char*>(p), 0, &unconsumed);
    if (unconsumed != 0) *error = -1;
    else *value = v;
    return p;
}

// A year-like field: optional "-", at most 4 digits.
static const uint8_t* scan_year_field(const uint8_t* p, const uint8_t* end, int32_t* value,
                                      int* digits, int* error) {
    bool negative = p < end && *p == '-';
    if (negative) ++p;
    p = scan_digits(p, end, 0, 4, value, error, digits);
    if (*error == 0 && negative) *value = -*value;
    return p;
}

struct DateFields {
    int32_t year = 0, month = 0, day = 0, hour = 0, minute = 0;
    double seconds = 0;
    int32_t zone_hours = 0, zone_minutes = 0;
    bool zone_west = false, has_time = false;
};

// The time part after its "T" or "/": h[h]:m[m][:seconds][Z|(+|-)h[h][[:]mm]].
static const uint8_t* scan_time_part(const uint8_t* p, const uint8_t* end, DateFields* f,
                                     int* error) {
    ++p;
    p = scan_digits(p, end, 0, 2, &f->hour, error);
    if (*error != 0 || p >= end || *p != ':') {
        *error = -1;
        return p;
    }
    p = scan_digits(p + 1, end, 0, 2, &f->minute, error);
    if (*error != 0) return p;
    f->has_time = true;
    if (p < end && *p == ':') {
        p = scan_seconds(p + 1, end, &f->seconds, error);
        if (*error != 0) return p;
    }
    if (p >= end) return p;
    if (*p == 'Z') return p + 1;
    if (*p != '+' && *p != '-') {
        *error = -1;
        return p;
    }
    f->zone_west = *p == '-';
    p = scan_digits(p + 1, end, 0, 2, &f->zone_hours, error);
    if (*error != 0) return p;
    if (f->zone_west) f->zone_hours = -f->zone_hours;
    if (p < end) {
        if (*p == ':') ++p;
        if (p < end && *p >= '0' && *p <= '9') p = scan_digits(p, end, 0, 2, &f->zone_minutes, error);
    }
    return p;
}

// The range checks of a date literal's time and zone.
static bool time_fields_valid(const DateFields& f) {
    return f.zone_hours >= -15 && f.zone_hours <= 15 && f.zone_minutes < 60 && f.hour <= 23 &&
           f.minute <= 59 && f.seconds < 60.0;
}

static bool date_fields_valid(const DateFields& f) {
    if (f.day < 1 || f.month < 1 || f.month > 12 || f.year < -9999 || f.year > 9999) return false;
    if (f.day > month_days[f.month - 1]) return false;
    if (f.month == 2 && f.day == 29 && !date_leap_year_q(f.year)) return false;
    return time_fields_valid(f);
}

// 1-12 for a month name or a prefix of one (at least 3 letters), else 0.
static int32_t month_by_name(const uint8_t* p, const uint8_t* end) {
    size_t n = size_t(end - p);
    if (n < 3 || n > 9) return 0;
    for (int32_t m = 0; m < 12; ++m) {
        const char* name = month_names[m];
        if (std::strlen(name) < n) continue;
        size_t i = 0;
        while (i < n && (p[i] | 0x20) == (uint8_t(name[i]) | 0x20)) ++i;
        if (i == n) return m + 1;
    }
    return 0;
}

static int32_t two_digit_year(int32_t year, int digits) {
    if (year >= 0 && year <= 99 && digits <= 2) return year < 50 ? 2000 + year : 1900 + year;
    return year;
}

// yyyymmddThhmm[ss][Z|(+|-)hhmm]: F (the year) is read already.
static bool scan_compact(const uint8_t* p, const uint8_t* end, DateFields* f) {
    int error = 0;
    int32_t* fields[4] = {&f->month, &f->day, &f->hour, &f->minute};
    for (int i = 0; i < 4; ++i) {
        if (i == 2) {
            if (p >= end || *p != 'T') return false;
            ++p;
        }
        p = scan_digits(p, end, 2, 2, fields[i], &error);
        if (error != 0 || p >= end) return false;
    }
    f->has_time = true;
    if (*p == 'Z') {
        ++p;
    } else {
        p = scan_seconds(p, end, &f->seconds, &error);
        if (error != 0) return false;
        if (p < end) {
            if (*p == 'Z') {
                ++p;
            } else if (*p == '+' || *p == '-') {
                f->zone_west = *p == '-';
                p = scan_digits(p + 1, end, 2, 2, &f->zone_hours, &error);
                if (error != 0) return false;
                p = scan_digits(p, end, 2, 2, &f->zone_minutes, &error);
                if (error != 0) return false;
                if (f->zone_west) f->zone_hours = -f->zone_hours;
            } else {
                return false;
            }
        }
    }
    return p == end && date_fields_valid(*f);
}

static void date_build(const DateFields& f, Cell* out) {
    double time_of_day = f.hour * 3600.0 + f.minute * 60.0 + f.seconds;
    date_from_local(out, f.year, f.month, f.day, time_of_day, f.zone_west, f.zone_hours,
                    f.zone_minutes, f.has_time);
}

bool scan_date(const uint8_t* start, const uint8_t* end, Cell* out) {
    DateFields f;
    int error = 0, first_digits = 0;
    int32_t first = 0;
    const uint8_t* p = scan_year_field(start, end, &first, &first_digits, &error);
    if (error != 0 || p >= end) return false;
    Cell result;
    cell_init(&result, T_DATE);

    if (*p >= '0' && *p <= '9') {
        f.year = first;
        if (!scan_compact(p, end, &f)) return false;
        date_build(f, &result);
    } else if (*p == '-' && first_digits == 4 && p + 1 < end && p[1] == 'W') {
        // yyyy-Www[-d][Thh:mm...]
        int32_t week = 0, weekday = 0;
        p = scan_digits(p + 2, end, 2, 2, &week, &error);
        if (error != 0) return false;
        if (p < end && *p == '-') {
            p = scan_digits(p + 1, end, 1, 1, &weekday, &error);
            if (error != 0) return false;
        }
        if (p < end && *p == 'T') {
            p = scan_time_part(p, end, &f, &error);
            if (error != 0) return false;
        }
        if (p != end || week < 1 || week > 53 || (weekday != 0 && (weekday < 1 || weekday > 7)) ||
            !time_fields_valid(f))
            return false;
        f.year = first;
        f.month = f.day = 1;
        date_build(f, &result);
        date_set_week(&result, week);
        if (weekday != 0) date_set_weekday(&result, weekday);
    } else if (*p == '-' || *p == '/') {
        uint8_t sep = *p;
        const uint8_t* field = p + 1;
        int32_t value = 0;
        int count = 0;
        if (sep == '-') {
            const uint8_t* q = scan_digits(field, end, 0, 3, &value, &error, &count);
            if (error == 0 && count == 3) {
                // yyyy-ddd[Thh:mm...]
                p = q;
                if (p < end && *p == 'T') {
                    p = scan_time_part(p, end, &f, &error);
                    if (error != 0) return false;
                }
                int32_t days_in_year = date_leap_year_q(first) ? 366 : 365;
                if (p != end || value < 1 || value > days_in_year || first < -9999 ||
                    first > 9999 || !time_fields_valid(f))
                    return false;
                f.year = first;
                f.month = f.day = 1;
                date_build(f, &result);
                date_set_yearday(&result, value);
                if (out != nullptr) cell_copy(&result, out);
                return true;
            }
            error = 0;
        }
        p = scan_digits(field, end, 0, 2, &f.month, &error);
        if (error == -2) return false;
        if (error == -1) {
            const uint8_t* name_end = field;
            while (name_end < end && *name_end != sep) ++name_end;
            f.month = month_by_name(field, name_end);
            if (f.month == 0) return false;
            p = name_end;
            error = 0;
        }
        if (p >= end || *p != sep) return false;
        int32_t third = 0;
        int third_digits = 0;
        p = scan_year_field(p + 1, end, &third, &third_digits, &error);
        if (error != 0) return false;
        if (third < 0 || third > 31 || first < 100) {
            f.day = first;
            f.year = two_digit_year(third, third_digits);
        } else {
            f.year = two_digit_year(first, first_digits);
            f.day = third;
        }
        if (p < end && (*p == '/' || *p == 'T')) {
            p = scan_time_part(p, end, &f, &error);
            if (error != 0) return false;
        }
        if (p != end || !date_fields_valid(f)) return false;
        date_build(f, &result);
    } else {
        return false;
    }
    if (out != nullptr) cell_copy(&result, out);
    return true;
}

// ---- registration --------------------------------------------------------------------------

void init_date() {
    const ActionRow actions[] = {
        {A_MAKE, date_make},
        {A_RANDOM, date_random},
        {A_TO, date_to},
        {A_FORM, date_form},
        {A_MOLD, date_form},
        {A_EVAL_PATH, date_eval_path},
        {A_COMPARE, date_compare},
        {A_ADD, date_add},
        {A_SUBTRACT, date_subtract},
        {A_PICK, date_pick},
    };
    datatype_register(T_DATE, 0, "date!", actions);
    datatype_hooks_set(T_DATE, {.scan = scan_date});
}

} // namespace kel
