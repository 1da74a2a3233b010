// date!: a calendar date with an optional time of day and time zone. Word 1
// packs the date (year in bits 31-17, signed; has-time flag in bit 16; month
// in 15-12; day in 11-7; zone in 6-0), words 2-3 hold a float64 of seconds.
// The packed fields are the local date; the seconds are the UTC time counted
// from the start of that local day, so the instant is day-number x 86400 +
// seconds and the local time of day is seconds + the zone offset. Calendar
// arithmetic goes through a proleptic Gregorian day number (day 0 is
// 1-Mar-0000, counted with floor division on both sides of year 0).
#pragma once
#include "runtime/cell.hpp"
#include "runtime/memory.hpp"
#include <cstdint>

namespace kel {

constexpr uint32_t DATE_HAS_TIME = 0x10000;  // packed word: the value carries a time
constexpr uint32_t DATE_ZONE_MASK = 0x7F;    // packed word: the zone byte
constexpr uint32_t DATE_ZONE_WEST = 0x40;    // zone byte: west of UTC (negative)
constexpr int32_t DATE_YEAR_MIN = -16384;    // years the 15-bit field holds
constexpr int32_t DATE_YEAR_MAX = 16383;
constexpr int64_t DATE_EPOCH_DAY = 719468;   // day number of 1-Jan-1970

// Field indices of path selection, pick and date_get_field.
enum DateField : int32_t {
    DATE_F_DATE = 1, DATE_F_YEAR, DATE_F_MONTH, DATE_F_DAY, DATE_F_ZONE, DATE_F_TIME,
    DATE_F_HOUR, DATE_F_MINUTE, DATE_F_SECOND, DATE_F_WEEKDAY, DATE_F_YEARDAY,
    DATE_F_TIMEZONE, DATE_F_WEEK, DATE_F_ISOWEEK,
};

// ---- packed fields -----------------------------------------------------------

// Word 1 of a date!: year, month, day, zone and the has-time flag packed.
inline uint32_t date_packed(const Cell* date) { return date->w1; }
inline int32_t date_year(uint32_t packed) { return int32_t(packed) >> 17; }
inline int32_t date_month(uint32_t packed) { return int32_t((packed >> 12) & 15); }
inline int32_t date_day(uint32_t packed) { return int32_t((packed >> 7) & 31); }
inline uint32_t date_zone(uint32_t packed) { return packed & DATE_ZONE_MASK; }
inline bool date_has_time(uint32_t packed) { return (packed & DATE_HAS_TIME) != 0; }
inline double date_seconds(const Cell* date) { return cell_double(date); }

// The zone byte of a signed offset: hours 0-15 and quarter hours 0-3.
uint32_t date_zone_byte(bool west, int32_t hours, int32_t quarters);
// The zone's offset east of UTC in seconds.
int32_t date_zone_offset(uint32_t zone);

// ---- constructors ------------------------------------------------------------

// Appends a date (header exactly date!) at the block's tail; the seconds come
// as the two halves of their bit pattern.
Cell* date_init(Node block, uint32_t packed, uint32_t high, uint32_t low);
Cell* date_push(uint32_t packed, double seconds);
// Retypes the cell to date! keeping its header flags. With has_time the
// seconds stored are the local seconds less the zone offset (not normalised);
// without it the seconds are 0. Years outside the 15-bit field raise
// type-limit.
void date_from_os_time(Cell* cell, int32_t year, int32_t month, int32_t day, double seconds,
                       int32_t zone_hours, int32_t zone_minutes, bool has_time);
// A UTC date and time (file times): has-time set, zone 0.
void date_from_fields(Cell* cell, int32_t year, int32_t month, int32_t day, int32_t hour,
                      int32_t minute, int32_t second, int32_t nanoseconds);
// The setters of isoweek, weekday and yearday (zone and has-time kept).
void date_set_week(Cell* cell, int32_t n);
void date_set_weekday(Cell* cell, int32_t n);
void date_set_yearday(Cell* cell, int32_t n);

// ---- calendar ----------------------------------------------------------------

int64_t date_day_number(uint32_t packed);
// The day number of a year, a month 1-12 and any day (day 0 is the last day of
// the previous month).
int64_t date_day_number_of(int64_t year, int32_t month, int64_t day);
// The packed word of a day number with the zone byte and has-time flag; a
// year outside -16384..16383 raises type-limit (date!).
uint32_t date_from_day_number(int64_t days, uint32_t zone, bool has_time);
bool date_leap_year_q(int64_t year);
int64_t date_jan1_day(uint32_t packed);
// The day number of the Monday opening ISO week 1 of the packed year; the ISO
// weekday (1 Monday .. 7 Sunday) of 1 January goes to *weekday when not null.
int64_t date_isoweek_start(uint32_t packed, int32_t* weekday);
int32_t date_yearday(uint32_t packed);
int32_t date_weekday(uint32_t packed);
int32_t date_week(uint32_t packed);
int32_t date_isoweek(uint32_t packed);

// direction +1 converts UTC seconds to local, -1 local to UTC.
double date_zone_shift(double seconds, uint32_t zone, int32_t direction);
inline double date_to_local(double seconds, uint32_t zone) { return date_zone_shift(seconds, zone, 1); }
inline double date_to_utc(double seconds, uint32_t zone) { return date_zone_shift(seconds, zone, -1); }
// Carries whole days between the seconds and the day number so that the local
// time of day lies in 0 <= t < 86400; returns the new day number.
int64_t date_normalise_time(int64_t days, double* seconds, uint32_t zone);
// Stores a time (local to the zone with from_local) and normalises; the
// has-time flag is left as it is.
void date_set_time(Cell* cell, double seconds, bool from_local);
// A month that may lie outside 1-12, carrying whole years; the day is then
// normalised through the day number.
void date_set_month(Cell* cell, int64_t month);
// zone (keep_instant false: the local time stays) and timezone (true: the
// instant stays) from an integer! of hours or a time!.
void date_set_zone(Cell* cell, const Cell* value, bool keep_instant);
// Pushes the field (1-14) on the data stack.
Cell* date_get_field(const Cell* cell, int32_t index);
// 1-14 for a field word (by resolved symbol), else -1.
int32_t date_field_index(const Cell* word);
// Overwrites a with the time! a - b (the difference of the two instants).
void date_difference(Cell* a, const Cell* b);
// Whole seconds since 1970-01-01 00:00 UTC; type-limit (integer!) when the
// count leaves the 32-bit range.
int32_t date_to_epoch(const Cell* cell);
// add (op 0) and subtract (op 1) of an integer! (days), a time! or (subtract
// only) a date!; the result replaces a.
void date_add_subtract(Cell* a, const Cell* b, int32_t op);

// The text of a date into a buffer of at least 96 bytes; returns its length.
int32_t date_text(const Cell* date, char* out);

// The lexer's loader of a date token (UTF-8 bytes from start to end): the
// day-month-year and year-month-day layouts with "-" or "/", month numbers
// or names, two-digit years, yyyy-ddd, yyyy-Www[-d], yyyymmddThhmm[ss][Z|zone]
// and a time part with an optional zone. False when the token is invalid;
// with out null it only checks.
bool scan_date(const uint8_t* start, const uint8_t* end, Cell* out);

// ---- actions -------------------------------------------------------------------

const Cell* date_make(Cell* proto, const Cell* spec, uint8_t type);
const Cell* date_to(Cell* proto, const Cell* spec, uint8_t type);
// random: with seed the generator is seeded from the packed word and the
// whole seconds and the result is unset!; otherwise a day from the first up
// to the date and, with a time, a random zone and time of day.
void date_random(Cell* value, bool seed, bool secure, bool only);
int32_t date_form(const Cell* value, Cell* target, bool only, bool all, bool flat, bool part,
                  int32_t budget, int32_t indent);
int32_t date_compare(const Cell* value1, const Cell* value2, int32_t op);
void date_add(Cell* value1, const Cell* value2);
void date_subtract(Cell* value1, const Cell* value2);
// Path selection: a get writes the field into out; a set changes the parent
// in place and writes the value set into out.
void date_eval_path(Cell* parent, const Cell* element, const Cell* set_value, const Cell* path,
                    bool case_, Cell* out);
// pick by index (1-14) or field word; the field replaces the date.
void date_pick(Cell* date, const Cell* index);

// Registers date! (type 47) with its 62 slots.
void init_date();

} // namespace kel
