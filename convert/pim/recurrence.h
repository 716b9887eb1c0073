// The recurrence of an appointment (PidLidAppointmentRecur) or a task
// (PidLidTaskRecurrence): the binary pattern Outlook stores, read with every
// length and count checked against the bytes that are there, and turned into
// an iCalendar RRULE where iCalendar can say the same thing.
//
// Dates in the pattern are local to the appointment's time zone, in minutes
// since 1601-01-01 (a date is the minute of its midnight).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace korvel::convert {

// RecurFrequency.
inline constexpr std::uint16_t recur_daily = 0x200A;
inline constexpr std::uint16_t recur_weekly = 0x200B;
inline constexpr std::uint16_t recur_monthly = 0x200C;
inline constexpr std::uint16_t recur_yearly = 0x200D;

// PatternType.
inline constexpr std::uint16_t pattern_day = 0x0000;
inline constexpr std::uint16_t pattern_week = 0x0001;
inline constexpr std::uint16_t pattern_month = 0x0002;
inline constexpr std::uint16_t pattern_month_end = 0x0003;
inline constexpr std::uint16_t pattern_month_nth = 0x0004;
inline constexpr std::uint16_t pattern_hj_month = 0x000A;
inline constexpr std::uint16_t pattern_hj_month_nth = 0x000B;
inline constexpr std::uint16_t pattern_hj_month_end = 0x000C;

// EndType.
inline constexpr std::uint32_t end_after_date = 0x2021;
inline constexpr std::uint32_t end_after_count = 0x2022;
inline constexpr std::uint32_t end_never = 0x2023;
inline constexpr std::uint32_t end_never_alternative = 0xFFFFFFFF;

// One changed instance of an appointment series (ExceptionInfo).
struct recurrence_exception
{
    // New start and end, local minutes.
    std::uint32_t start = 0;
    std::uint32_t end = 0;
    // The start the instance had in the series, local minutes.
    std::uint32_t original_start = 0;
    // Which of the fields below are set (ARO_* bits).
    std::uint16_t override_flags = 0;
    // 8-bit text as stored (the message code page).
    std::string subject;
    std::string location;
    std::uint32_t busy_status = 0;
    std::uint32_t reminder_delta = 0;
    std::uint32_t reminder_set = 0;
    std::uint32_t subtype = 0;
};

inline constexpr std::uint16_t exception_subject = 0x0001;
inline constexpr std::uint16_t exception_meeting_type = 0x0002;
inline constexpr std::uint16_t exception_reminder_delta = 0x0004;
inline constexpr std::uint16_t exception_reminder = 0x0008;
inline constexpr std::uint16_t exception_location = 0x0010;
inline constexpr std::uint16_t exception_busy_status = 0x0020;
inline constexpr std::uint16_t exception_attachment = 0x0040;
inline constexpr std::uint16_t exception_subtype = 0x0080;
inline constexpr std::uint16_t exception_color = 0x0100;

struct recurrence_pattern
{
    std::uint16_t frequency = 0;
    std::uint16_t pattern_type = 0;
    std::uint16_t calendar_type = 0;
    std::uint32_t first_date_time = 0;
    std::uint32_t period = 0;
    std::uint32_t sliding_flag = 0;
    // Bit 0 Sunday ... bit 6 Saturday (week and month-nth patterns).
    std::uint32_t days_of_week = 0;
    // Month patterns: the day of the month (1 to 31).
    std::uint32_t day_of_month = 0;
    // Month-nth patterns: 1 to 4, 5 for the last.
    std::uint32_t nth = 0;
    std::uint32_t end_type = 0;
    std::uint32_t occurrence_count = 0;
    // 0 Sunday ... 6 Saturday.
    std::uint32_t first_day_of_week = 0;
    // Original dates of deleted and of changed instances (both lists hold a
    // changed one), local midnight minutes.
    std::vector<std::uint32_t> deleted_dates;
    // Dates of changed instances.
    std::vector<std::uint32_t> modified_dates;
    // First and last date of the series, local midnight minutes.
    std::uint32_t start_date = 0;
    std::uint32_t end_date = 0;

    // The appointment part (PidLidAppointmentRecur only).
    bool has_appointment_part = false;
    // Minutes after the start date's midnight at which every instance
    // starts and ends.
    std::uint32_t start_time_offset = 0;
    std::uint32_t end_time_offset = 0;
    std::vector<recurrence_exception> exceptions;
};

// Reads a pattern. appointment: the bytes are PidLidAppointmentRecur (the
// recurrence pattern followed by the appointment part); otherwise only the
// recurrence pattern is read (a task's). Extended exceptions and reserved
// blocks after the exception list are not needed and not read.
// Returns 1, or -1 when the bytes are not a pattern we can read (error says
// why); pattern is then unspecified.
int parse_recurrence(std::span<const std::uint8_t> bytes, bool appointment,
                     recurrence_pattern &pattern, std::string &error);

// The RRULE value ("FREQ=WEEKLY;INTERVAL=1;BYDAY=MO,WE;COUNT=10") of a
// pattern read by parse_recurrence, in the pattern's local time.
// zone_offset_minutes is local time minus UTC (east positive): UNTIL, which
// iCalendar wants in UTC, is the end date's instance start less that offset.
// date_only: the series is of whole days (DTSTART is a DATE), so UNTIL is
// the end date itself.
// Returns 1, or -1 when iCalendar cannot say the same (a non-Gregorian
// calendar, a zero interval, ...): error says why.
int recurrence_rrule(const recurrence_pattern &pattern, int zone_offset_minutes, bool date_only,
                     std::string &rrule, std::string &error);

// The deleted instances that are not changed ones (their original dates,
// local midnight minutes), sorted, each once.
std::vector<std::uint32_t> recurrence_deleted_only(const recurrence_pattern &pattern);

// PidLidTimeZoneStruct: the zone a recurring appointment's local times are
// in. Biases are minutes, UTC = local + bias (+ the standard or daylight
// bias).
struct zone_change
{
    // 1 to 12; 0 when the zone has no daylight saving.
    std::uint16_t month = 0;
    // 0 Sunday ... 6 Saturday.
    std::uint16_t day_of_week = 0;
    // Which such weekday of the month: 1 to 4, 5 for the last.
    std::uint16_t week = 0;
    std::uint16_t hour = 0;
    std::uint16_t minute = 0;
};
struct time_zone_rule
{
    std::int32_t bias = 0;
    std::int32_t standard_bias = 0;
    std::int32_t daylight_bias = 0;
    // When standard time starts.
    zone_change standard;
    // When daylight saving time starts.
    zone_change daylight;
    bool has_daylight() const { return standard.month != 0 && daylight.month != 0; }
};
// Returns 1, or -1 when the bytes are not a zone we can use (error says why).
int parse_time_zone_struct(std::span<const std::uint8_t> bytes, time_zone_rule &zone,
                           std::string &error);
// The day of the month of a zone change in a year (the last such weekday
// for week 5).
int zone_change_day(int year, const zone_change &change);

// Civil date and time of local minutes since 1601-01-01.
struct civil_time
{
    int year = 1601;
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;
};
civil_time civil_from_minutes(std::int64_t minutes);
// Local minutes since 1601-01-01 of a civil date and time.
std::int64_t minutes_from_civil(int year, int month, int day, int hour = 0, int minute = 0);
// Minutes since 1601-01-01 of a FILETIME (100-nanosecond units).
std::int64_t minutes_from_filetime(std::uint64_t filetime);
// True for minutes within the years iCalendar and vCard can write (before
// December 9999).
bool minutes_in_range(std::int64_t minutes);

} // namespace korvel::convert
