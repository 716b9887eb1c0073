#include "convert/pim/recurrence.h"

#include "scan/civil_days.h"

#include <algorithm>
#include <cstdio>

namespace korvel::convert {

namespace {

constexpr std::uint32_t reader_version = 0x3004;
constexpr std::uint32_t reader_version_2 = 0x3006;
constexpr std::uint32_t minutes_per_day = 1440;
// The longest series anyone keeps: a daily pattern's period is in minutes,
// the others count weeks or months. Anything above is damage.
constexpr std::uint32_t largest_period = 999 * minutes_per_day;

// Reads little-endian values from a byte span; every read is checked and a
// failed read leaves the reader failed for good.
class byte_reader
{
public:
    explicit byte_reader(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}

    bool u16(std::uint16_t &value)
    {
        if (!take(2)) {
            return false;
        }
        value = static_cast<std::uint16_t>(m_bytes[m_at - 2] | (m_bytes[m_at - 1] << 8));
        return true;
    }
    bool u32(std::uint32_t &value)
    {
        if (!take(4)) {
            return false;
        }
        value = static_cast<std::uint32_t>(m_bytes[m_at - 4]) |
                (static_cast<std::uint32_t>(m_bytes[m_at - 3]) << 8) |
                (static_cast<std::uint32_t>(m_bytes[m_at - 2]) << 16) |
                (static_cast<std::uint32_t>(m_bytes[m_at - 1]) << 24);
        return true;
    }
    bool text(std::size_t size, std::string &value)
    {
        if (!take(size)) {
            return false;
        }
        value.assign(reinterpret_cast<const char *>(m_bytes.data() + m_at - size), size);
        return true;
    }
    // A list of count 32-bit values; the count is checked against what is
    // left before anything is allocated.
    bool u32_list(std::uint32_t count, std::vector<std::uint32_t> &values)
    {
        if (count > remaining() / 4) {
            m_failed = true;
            return false;
        }
        values.resize(count);
        for (auto &value : values) {
            if (!u32(value)) {
                return false;
            }
        }
        return true;
    }
    std::size_t remaining() const { return m_failed ? 0 : m_bytes.size() - m_at; }

private:
    bool take(std::size_t size)
    {
        if (m_failed || size > m_bytes.size() - m_at) {
            m_failed = true;
            return false;
        }
        m_at += size;
        return true;
    }

    std::span<const std::uint8_t> m_bytes;
    std::size_t m_at = 0;
    bool m_failed = false;
};

bool read_exception(byte_reader &reader, recurrence_exception &exception, std::string &error)
{
    if (!reader.u32(exception.start) || !reader.u32(exception.end) ||
        !reader.u32(exception.original_start) || !reader.u16(exception.override_flags)) {
        error = "an exception is cut short";
        return false;
    }
    const std::uint16_t flags = exception.override_flags;
    std::uint32_t ignored = 0;
    // The text fields carry two lengths: the second is the byte count.
    auto read_text = [&](std::string &value) {
        std::uint16_t length = 0;
        std::uint16_t length2 = 0;
        if (!reader.u16(length) || !reader.u16(length2) || length != length2 + 1 ||
            !reader.text(length2, value)) {
            error = "an exception's text is damaged";
            return false;
        }
        return true;
    };
    if ((flags & exception_subject) != 0 && !read_text(exception.subject)) {
        return false;
    }
    bool ok = true;
    if ((flags & exception_meeting_type) != 0) {
        ok = ok && reader.u32(ignored);
    }
    if ((flags & exception_reminder_delta) != 0) {
        ok = ok && reader.u32(exception.reminder_delta);
    }
    if ((flags & exception_reminder) != 0) {
        ok = ok && reader.u32(exception.reminder_set);
    }
    if (!ok) {
        error = "an exception is cut short";
        return false;
    }
    if ((flags & exception_location) != 0 && !read_text(exception.location)) {
        return false;
    }
    if ((flags & exception_busy_status) != 0) {
        ok = ok && reader.u32(exception.busy_status);
    }
    if ((flags & exception_attachment) != 0) {
        ok = ok && reader.u32(ignored);
    }
    if ((flags & exception_subtype) != 0) {
        ok = ok && reader.u32(exception.subtype);
    }
    if ((flags & exception_color) != 0) {
        ok = ok && reader.u32(ignored);
    }
    if (!ok) {
        error = "an exception is cut short";
        return false;
    }
    return true;
}

const char *const day_names[7] = {"SU", "MO", "TU", "WE", "TH", "FR", "SA"};

std::string day_list(std::uint32_t mask)
{
    std::string out;
    for (int day = 0; day < 7; ++day) {
        if ((mask & (1U << day)) != 0) {
            if (!out.empty()) {
                out += ',';
            }
            out += day_names[day];
        }
    }
    return out;
}

} // namespace


namespace {
// 1601-01-01 in days since 1970-01-01.
constexpr std::int64_t days_1601_to_1970 = 134774;
} // namespace

std::int64_t minutes_from_civil(int year, int month, int day, int hour, int minute)
{
    const std::int64_t days =
        days_from_civil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) +
        days_1601_to_1970;
    return days * minutes_per_day + hour * 60 + minute;
}

namespace {

// The recurrence pattern proper (shared by appointments and tasks).
bool read_pattern(byte_reader &reader, recurrence_pattern &pattern, std::string &error)
{
    std::uint16_t reader_version_value = 0;
    std::uint16_t writer_version_value = 0;
    if (!reader.u16(reader_version_value) || !reader.u16(writer_version_value) ||
        !reader.u16(pattern.frequency) || !reader.u16(pattern.pattern_type) ||
        !reader.u16(pattern.calendar_type) || !reader.u32(pattern.first_date_time) ||
        !reader.u32(pattern.period) || !reader.u32(pattern.sliding_flag)) {
        error = "the recurrence pattern is cut short";
        return false;
    }
    if (reader_version_value != reader_version) {
        error = "the recurrence pattern has an unknown version";
        return false;
    }
    bool ok = true;
    switch (pattern.pattern_type) {
    case pattern_day:
        break;
    case pattern_week:
        ok = reader.u32(pattern.days_of_week);
        break;
    case pattern_month:
    case pattern_month_end:
    case pattern_hj_month:
    case pattern_hj_month_end:
        ok = reader.u32(pattern.day_of_month);
        break;
    case pattern_month_nth:
    case pattern_hj_month_nth:
        ok = reader.u32(pattern.days_of_week) && reader.u32(pattern.nth);
        break;
    default:
        error = "the recurrence pattern has an unknown type";
        return false;
    }
    std::uint32_t deleted_count = 0;
    std::uint32_t modified_count = 0;
    ok = ok && reader.u32(pattern.end_type) && reader.u32(pattern.occurrence_count) &&
         reader.u32(pattern.first_day_of_week) && reader.u32(deleted_count) &&
         reader.u32_list(deleted_count, pattern.deleted_dates) && reader.u32(modified_count) &&
         reader.u32_list(modified_count, pattern.modified_dates) &&
         reader.u32(pattern.start_date) && reader.u32(pattern.end_date);
    if (!ok) {
        error = "the recurrence pattern is cut short";
        return false;
    }
    return true;
}

// What an appointment's recurrence adds: the instances' times of day and
// the changed instances.
bool read_appointment_part(byte_reader &reader, recurrence_pattern &pattern, std::string &error)
{
    std::uint32_t version2 = 0;
    std::uint32_t writer_version2 = 0;
    std::uint16_t exception_count = 0;
    if (!reader.u32(version2) || !reader.u32(writer_version2) ||
        !reader.u32(pattern.start_time_offset) || !reader.u32(pattern.end_time_offset) ||
        !reader.u16(exception_count)) {
        error = "the appointment recurrence is cut short";
        return false;
    }
    if (version2 != reader_version_2) {
        error = "the appointment recurrence has an unknown version";
        return false;
    }
    // Every instance starts within its day; one lasting past a year is damage.
    if (pattern.start_time_offset >= minutes_per_day ||
        pattern.end_time_offset < pattern.start_time_offset ||
        pattern.end_time_offset - pattern.start_time_offset > 366 * minutes_per_day) {
        error = "the appointment recurrence's times are damaged";
        return false;
    }
    pattern.has_appointment_part = true;
    // Every exception takes at least 14 bytes: no list longer than the
    // bytes allow is ever allocated.
    if (exception_count > reader.remaining() / 14) {
        error = "the appointment recurrence lists more exceptions than it holds";
        return false;
    }
    pattern.exceptions.resize(exception_count);
    for (auto &exception : pattern.exceptions) {
        if (!read_exception(reader, exception, error)) {
            return false;
        }
    }
    return true;
}

} // namespace

int parse_recurrence(std::span<const std::uint8_t> bytes, bool appointment,
                     recurrence_pattern &pattern, std::string &error)
{
    pattern = recurrence_pattern{};
    byte_reader reader(bytes);
    if (!read_pattern(reader, pattern, error)) {
        return -1;
    }
    if (!appointment) {
        return 1;
    }
    return read_appointment_part(reader, pattern, error) ? 1 : -1;
}

namespace {

// BYMONTHDAY (and BYSETPOS) of a monthly or yearly series on a day of the
// month. Returns false when the pattern names no day.
bool add_month_day(const recurrence_pattern &pattern, std::string &out, std::string &error)
{
    if (pattern.day_of_month < 1 || pattern.day_of_month > 31) {
        error = "the monthly recurrence names no day of the month";
        return false;
    }
    // A month without that day has the series on its last day.
    if (pattern.day_of_month < 29) {
        out += ";BYMONTHDAY=" + std::to_string(pattern.day_of_month);
    } else if (pattern.day_of_month == 31) {
        // The same days, in a form every reader expands right.
        out += ";BYMONTHDAY=-1";
    } else {
        // The last of the days from the 28th up to it.
        out += ";BYMONTHDAY=28";
        for (std::uint32_t day = 29; day <= pattern.day_of_month; ++day) {
            out += "," + std::to_string(day);
        }
        out += ";BYSETPOS=-1";
    }
    return true;
}

// FREQ, INTERVAL and BYMONTH/BYMONTHDAY/BYDAY/BYSETPOS of a monthly or
// yearly series.
bool add_monthly(const recurrence_pattern &pattern, std::uint32_t week_days, std::string &out,
                 std::string &error)
{
    std::uint32_t interval = pattern.period;
    if (pattern.frequency == recur_yearly) {
        if (pattern.period % 12 != 0) {
            error = "the yearly recurrence is not a whole number of years";
            return false;
        }
        interval = pattern.period / 12;
        const civil_time start = civil_from_minutes(pattern.start_date);
        out = "FREQ=YEARLY;INTERVAL=" + std::to_string(interval) +
              ";BYMONTH=" + std::to_string(start.month);
    } else {
        out = "FREQ=MONTHLY;INTERVAL=" + std::to_string(interval);
    }
    if (pattern.pattern_type == pattern_month_end) {
        out += ";BYMONTHDAY=-1";
        return true;
    }
    if (pattern.pattern_type == pattern_month) {
        return add_month_day(pattern, out, error);
    }
    if (week_days == 0 || pattern.nth < 1 || pattern.nth > 5) {
        error = "the monthly recurrence names no weekday";
        return false;
    }
    out += ";BYDAY=" + day_list(week_days) +
           ";BYSETPOS=" + (pattern.nth == 5 ? std::string("-1") : std::to_string(pattern.nth));
    return true;
}

// How often the series comes back: FREQ, INTERVAL and the days.
bool add_frequency(const recurrence_pattern &pattern, std::string &out, std::string &error)
{
    const std::uint32_t week_days = pattern.days_of_week & 0x7F;
    switch (pattern.pattern_type) {
    case pattern_day:
        if (pattern.period % minutes_per_day != 0) {
            error = "the daily recurrence is not a whole number of days";
            return false;
        }
        out = "FREQ=DAILY;INTERVAL=" + std::to_string(pattern.period / minutes_per_day);
        return true;
    case pattern_week:
        if (week_days == 0) {
            error = "the weekly recurrence names no day";
            return false;
        }
        out = "FREQ=WEEKLY;INTERVAL=" + std::to_string(pattern.period) +
              ";BYDAY=" + day_list(week_days);
        if (pattern.first_day_of_week < 7) {
            out += ";WKST=";
            out += day_names[pattern.first_day_of_week];
        }
        return true;
    case pattern_month:
    case pattern_month_end:
    case pattern_month_nth:
        return add_monthly(pattern, week_days, out, error);
    default:
        error = "the recurrence follows a non-Gregorian calendar";
        return false;
    }
}

// How the series ends: COUNT, UNTIL (a date, or the last start in UTC) or
// nothing.
bool add_end(const recurrence_pattern &pattern, int zone_offset_minutes, bool date_only,
             std::string &out, std::string &error)
{
    switch (pattern.end_type) {
    case end_after_count:
        if (pattern.occurrence_count == 0) {
            error = "the recurrence ends after no occurrence";
            return false;
        }
        out += ";COUNT=" + std::to_string(pattern.occurrence_count);
        return true;
    case end_after_date: {
        if (date_only) {
            const civil_time day = civil_from_minutes(pattern.end_date);
            char text[24];
            std::snprintf(text, sizeof text, ";UNTIL=%04d%02d%02d", day.year, day.month, day.day);
            out += text;
            return true;
        }
        const std::int64_t until = static_cast<std::int64_t>(pattern.end_date) +
                                   pattern.start_time_offset - zone_offset_minutes;
        const civil_time time = civil_from_minutes(until);
        char text[32];
        std::snprintf(text, sizeof text, ";UNTIL=%04d%02d%02dT%02d%02d00Z", time.year, time.month,
                      time.day, time.hour, time.minute);
        out += text;
        return true;
    }
    case end_never:
    case end_never_alternative:
        return true;
    default:
        error = "the recurrence has an unknown end";
        return false;
    }
}

} // namespace

int recurrence_rrule(const recurrence_pattern &pattern, int zone_offset_minutes, bool date_only,
                     std::string &rrule, std::string &error)
{
    rrule.clear();
    // 0 is the default calendar, 1 the Gregorian one; others (Hijri,
    // Hebrew, ...) count months differently from iCalendar's.
    if (pattern.calendar_type > 1) {
        error = "the recurrence follows a non-Gregorian calendar";
        return -1;
    }
    if (pattern.period == 0 || pattern.period > largest_period) {
        error = "the recurrence has no usable interval";
        return -1;
    }
    std::string out;
    if (!add_frequency(pattern, out, error) ||
        !add_end(pattern, zone_offset_minutes, date_only, out, error)) {
        return -1;
    }
    rrule = std::move(out);
    return 1;
}

std::vector<std::uint32_t> recurrence_deleted_only(const recurrence_pattern &pattern)
{
    // A changed instance is listed among the deleted ones under its
    // original date; its exception says which that was.
    std::vector<std::uint32_t> changed;
    for (const auto &exception : pattern.exceptions) {
        changed.push_back(exception.original_start - exception.original_start % minutes_per_day);
    }
    if (pattern.exceptions.empty()) {
        for (std::uint32_t date : pattern.modified_dates) {
            changed.push_back(date - date % minutes_per_day);
        }
    }
    std::vector<std::uint32_t> out;
    for (std::uint32_t date : pattern.deleted_dates) {
        const std::uint32_t day = date - date % minutes_per_day;
        if (std::find(changed.begin(), changed.end(), day) == changed.end()) {
            out.push_back(day);
        }
    }
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

int parse_time_zone_struct(std::span<const std::uint8_t> bytes, time_zone_rule &zone,
                           std::string &error)
{
    zone = time_zone_rule{};
    byte_reader reader(bytes);
    std::uint32_t bias = 0;
    std::uint32_t standard_bias = 0;
    std::uint32_t daylight_bias = 0;
    std::uint16_t ignored = 0;
    auto change = [&](zone_change &value) {
        std::uint16_t second = 0;
        std::uint16_t millisecond = 0;
        return reader.u16(ignored) && reader.u16(value.month) && reader.u16(value.day_of_week) &&
               reader.u16(value.week) && reader.u16(value.hour) && reader.u16(value.minute) &&
               reader.u16(second) && reader.u16(millisecond);
    };
    if (!reader.u32(bias) || !reader.u32(standard_bias) || !reader.u32(daylight_bias) ||
        !reader.u16(ignored) || !change(zone.standard) || !reader.u16(ignored) ||
        !change(zone.daylight)) {
        error = "the time zone is cut short";
        return -1;
    }
    zone.bias = static_cast<std::int32_t>(bias);
    zone.standard_bias = static_cast<std::int32_t>(standard_bias);
    zone.daylight_bias = static_cast<std::int32_t>(daylight_bias);
    // No zone is more than 14 hours from UTC.
    auto sane = [](std::int32_t value) { return value >= -14 * 60 && value <= 14 * 60; };
    if (!sane(zone.bias) || !sane(zone.standard_bias) || !sane(zone.daylight_bias) ||
        !sane(zone.bias + zone.standard_bias) || !sane(zone.bias + zone.daylight_bias)) {
        error = "the time zone is more than 14 hours from UTC";
        return -1;
    }
    auto valid = [](const zone_change &value) {
        return value.month == 0 ||
               (value.month <= 12 && value.day_of_week <= 6 && value.week >= 1 && value.week <= 5 &&
                value.hour <= 23 && value.minute <= 59);
    };
    if (!valid(zone.standard) || !valid(zone.daylight)) {
        error = "the time zone's daylight saving rule is damaged";
        return -1;
    }
    if (!zone.has_daylight()) {
        zone.standard = zone_change{};
        zone.daylight = zone_change{};
    }
    return 1;
}

int zone_change_day(int year, const zone_change &change)
{
    if (change.month < 1 || change.month > 12) {
        return 1;
    }
    static const int month_days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    const int days_in_month = month_days[change.month - 1] + (change.month == 2 && leap ? 1 : 0);
    // 1970-01-01 was a Thursday.
    const std::int64_t first = days_from_civil(year, change.month, 1);
    const int first_weekday = static_cast<int>(((first % 7) + 7 + 4) % 7);
    int day = 1 + (static_cast<int>(change.day_of_week) - first_weekday + 7) % 7;
    day += 7 * (static_cast<int>(change.week) - 1);
    while (day > days_in_month) {
        day -= 7;
    }
    return day;
}

civil_time civil_from_minutes(std::int64_t minutes)
{
    std::int64_t days = minutes / minutes_per_day;
    std::int64_t rest = minutes % minutes_per_day;
    if (rest < 0) {
        rest += minutes_per_day;
        --days;
    }
    const civil_date date = civil_from_days(days - days_1601_to_1970);
    civil_time out;
    out.year = static_cast<int>(date.year);
    out.month = static_cast<int>(date.month);
    out.day = static_cast<int>(date.day);
    out.hour = static_cast<int>(rest / 60);
    out.minute = static_cast<int>(rest % 60);
    return out;
}

bool minutes_in_range(std::int64_t minutes)
{
    // A month short of the end leaves room for the day or two added to an
    // all-day end.
    return minutes >= 0 && minutes < minutes_from_civil(9999, 12, 1);
}

std::int64_t minutes_from_filetime(std::uint64_t filetime)
{
    return static_cast<std::int64_t>(filetime / 600000000ULL);
}

} // namespace korvel::convert
