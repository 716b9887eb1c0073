// Appointments and tasks as iCalendar: the recurrence pattern reader on
// good and damaged bytes, and whole items written by our PST writer, read
// through libpff and parsed back with libical.
#include "convert/pim/icalendar.h"
#include "convert/pim/recurrence.h"
#include "tests/convert/pff_read.h"
#include "tests/support/pst_builder.h"
#include "tests/support/samples.h"

#include <gtest/gtest.h>

#include <libical/ical.h>

#include <memory>
#include <sstream>

using korvel::testing::pst_builder;
namespace convert = korvel::convert;
namespace pff = korvel::testing::pff;

namespace {

const convert::guid meeting_set = convert::guid::parse("6ED8DA90-450B-101B-98DA-00AA003F1305");

// Little-endian bytes of a recurrence pattern, as Outlook lays them out.
class blob_writer
{
public:
    void u16(unsigned value)
    {
        bytes.push_back(static_cast<std::uint8_t>(value));
        bytes.push_back(static_cast<std::uint8_t>(value >> 8));
    }
    void u32(std::uint32_t value)
    {
        u16(value & 0xFFFF);
        u16(value >> 16);
    }
    std::vector<std::uint8_t> bytes;
};

std::uint32_t day_minutes(int year, int month, int day)
{
    return static_cast<std::uint32_t>(convert::minutes_from_civil(year, month, day));
}

std::vector<std::uint8_t> pattern_bytes(const convert::recurrence_pattern &p, bool appointment)
{
    blob_writer w;
    w.u16(0x3004);
    w.u16(0x3004);
    w.u16(p.frequency);
    w.u16(p.pattern_type);
    w.u16(p.calendar_type);
    w.u32(p.first_date_time);
    w.u32(p.period);
    w.u32(p.sliding_flag);
    switch (p.pattern_type) {
    case convert::pattern_week:
        w.u32(p.days_of_week);
        break;
    case convert::pattern_month:
    case convert::pattern_month_end:
        w.u32(p.day_of_month);
        break;
    case convert::pattern_month_nth:
        w.u32(p.days_of_week);
        w.u32(p.nth);
        break;
    default:
        break;
    }
    w.u32(p.end_type);
    w.u32(p.occurrence_count);
    w.u32(p.first_day_of_week);
    w.u32(static_cast<std::uint32_t>(p.deleted_dates.size()));
    for (auto d : p.deleted_dates) {
        w.u32(d);
    }
    w.u32(static_cast<std::uint32_t>(p.modified_dates.size()));
    for (auto d : p.modified_dates) {
        w.u32(d);
    }
    w.u32(p.start_date);
    w.u32(p.end_date);
    if (appointment) {
        w.u32(0x3006);
        w.u32(0x3009);
        w.u32(p.start_time_offset);
        w.u32(p.end_time_offset);
        w.u16(static_cast<unsigned>(p.exceptions.size()));
        for (const auto &e : p.exceptions) {
            w.u32(e.start);
            w.u32(e.end);
            w.u32(e.original_start);
            w.u16(e.override_flags);
            if (e.override_flags & convert::exception_subject) {
                w.u16(static_cast<unsigned>(e.subject.size() + 1));
                w.u16(static_cast<unsigned>(e.subject.size()));
                w.bytes.insert(w.bytes.end(), e.subject.begin(), e.subject.end());
            }
            if (e.override_flags & convert::exception_location) {
                w.u16(static_cast<unsigned>(e.location.size() + 1));
                w.u16(static_cast<unsigned>(e.location.size()));
                w.bytes.insert(w.bytes.end(), e.location.begin(), e.location.end());
            }
        }
        // Reserved block sizes and no extended exceptions: not read.
        w.u32(0);
        w.u32(0);
    }
    return w.bytes;
}

// Weekly on Monday and Wednesday at 09:00-10:00, ten times, from Monday
// 2026-01-05; Wednesday 2026-01-07 deleted.
convert::recurrence_pattern weekly_series()
{
    convert::recurrence_pattern p;
    p.frequency = convert::recur_weekly;
    p.pattern_type = convert::pattern_week;
    p.period = 1;
    p.days_of_week = 0x02 | 0x08;
    p.end_type = convert::end_after_count;
    p.occurrence_count = 10;
    p.first_day_of_week = 1;
    p.deleted_dates = {day_minutes(2026, 1, 7)};
    p.start_date = day_minutes(2026, 1, 5);
    p.end_date = day_minutes(2026, 2, 4);
    p.start_time_offset = 9 * 60;
    p.end_time_offset = 10 * 60;
    return p;
}

// Central European time: UTC+1, daylight saving from the last Sunday of
// March to the last Sunday of October.
std::vector<std::uint8_t> central_european_zone()
{
    blob_writer w;
    w.u32(static_cast<std::uint32_t>(-60));
    w.u32(0);
    w.u32(static_cast<std::uint32_t>(-60));
    w.u16(0);
    for (unsigned v : {0u, 10u, 0u, 5u, 3u, 0u, 0u, 0u}) {
        w.u16(v);
    }
    w.u16(0);
    for (unsigned v : {0u, 3u, 0u, 5u, 2u, 0u, 0u, 0u}) {
        w.u16(v);
    }
    return w.bytes;
}

std::uint64_t filetime_at(int year, int month, int day, int hour, int minute)
{
    return static_cast<std::uint64_t>(convert::minutes_from_civil(year, month, day, hour, minute)) *
           600000000ULL;
}

struct component_deleter
{
    void operator()(icalcomponent *c) const { icalcomponent_free(c); }
};
using component_ptr = std::unique_ptr<icalcomponent, component_deleter>;

// Parses a whole calendar with libical; fails the test when it cannot.
component_ptr parse_calendar(const std::string &text)
{
    component_ptr calendar(icalparser_parse_string(text.c_str()));
    EXPECT_TRUE(calendar) << text;
    return calendar;
}

std::string property_text(icalcomponent *c, icalproperty_kind kind)
{
    icalproperty *p = icalcomponent_get_first_property(c, kind);
    if (p == nullptr) {
        return "<absent>";
    }
    return icalproperty_get_value_as_string(p);
}

std::string parameter_text(icalcomponent *c, icalproperty_kind kind, icalparameter_kind parameter)
{
    icalproperty *p = icalcomponent_get_first_property(c, kind);
    icalparameter *value = p != nullptr ? icalproperty_get_first_parameter(p, parameter) : nullptr;
    if (value == nullptr) {
        return "<absent>";
    }
    char *text = icalparameter_as_ical_string_r(value);
    std::string out(text);
    icalmemory_free_buffer(text);
    return out;
}

TEST(RecurrencePattern, WeeklyWithCountAndDeletedInstance)
{
    const auto bytes = pattern_bytes(weekly_series(), true);
    convert::recurrence_pattern p;
    std::string error;
    ASSERT_EQ(convert::parse_recurrence(bytes, true, p, error), 1) << error;
    EXPECT_EQ(p.days_of_week, 0x0Au);
    EXPECT_EQ(p.start_time_offset, 540u);
    std::string rrule;
    ASSERT_EQ(convert::recurrence_rrule(p, 60, false, rrule, error), 1) << error;
    EXPECT_EQ(rrule, "FREQ=WEEKLY;INTERVAL=1;BYDAY=MO,WE;WKST=MO;COUNT=10");
    EXPECT_EQ(convert::recurrence_deleted_only(p),
              std::vector<std::uint32_t>{day_minutes(2026, 1, 7)});
}

TEST(RecurrencePattern, OtherPatternsAndEnds)
{
    struct row
    {
        std::uint16_t frequency;
        std::uint16_t type;
        std::uint32_t period;
        std::uint32_t days;
        std::uint32_t day_of_month;
        std::uint32_t nth;
        std::uint32_t end_type;
        const char *rrule;
    };
    const row rows[] = {
        {convert::recur_daily, convert::pattern_day, 3 * 1440, 0, 0, 0, convert::end_never,
         "FREQ=DAILY;INTERVAL=3"},
        {convert::recur_monthly, convert::pattern_month, 2, 0, 15, 0, convert::end_after_date,
         "FREQ=MONTHLY;INTERVAL=2;BYMONTHDAY=15;UNTIL=20260615T080000Z"},
        {convert::recur_monthly, convert::pattern_month_nth, 1, 0x04, 0, 2, convert::end_never,
         "FREQ=MONTHLY;INTERVAL=1;BYDAY=TU;BYSETPOS=2"},
        {convert::recur_monthly, convert::pattern_month_nth, 1, 0x3E, 0, 5,
         convert::end_never_alternative,
         "FREQ=MONTHLY;INTERVAL=1;BYDAY=MO,TU,WE,TH,FR;BYSETPOS=-1"},
        {convert::recur_monthly, convert::pattern_month_end, 1, 0, 31, 0, convert::end_never,
         "FREQ=MONTHLY;INTERVAL=1;BYMONTHDAY=-1"},
        {convert::recur_yearly, convert::pattern_month, 12, 0, 5, 0, convert::end_never,
         "FREQ=YEARLY;INTERVAL=1;BYMONTH=1;BYMONTHDAY=5"},
        {convert::recur_yearly, convert::pattern_month_nth, 24, 0x10, 0, 4, convert::end_never,
         "FREQ=YEARLY;INTERVAL=2;BYMONTH=1;BYDAY=TH;BYSETPOS=4"},
    };
    for (const auto &r : rows) {
        convert::recurrence_pattern p = weekly_series();
        p.frequency = r.frequency;
        p.pattern_type = r.type;
        p.period = r.period;
        p.days_of_week = r.days;
        p.day_of_month = r.day_of_month;
        p.nth = r.nth;
        p.end_type = r.end_type;
        p.end_date = day_minutes(2026, 6, 15);
        const auto bytes = pattern_bytes(p, true);
        convert::recurrence_pattern read;
        std::string error;
        std::string rrule;
        ASSERT_EQ(convert::parse_recurrence(bytes, true, read, error), 1) << r.rrule << error;
        ASSERT_EQ(convert::recurrence_rrule(read, 60, false, rrule, error), 1) << r.rrule << error;
        EXPECT_EQ(rrule, r.rrule);
    }
}

TEST(RecurrencePattern, WhatICalendarCannotSayIsRefused)
{
    convert::recurrence_pattern p = weekly_series();
    std::string error;
    std::string rrule;
    p.calendar_type = 6; // Hijri
    EXPECT_EQ(convert::recurrence_rrule(p, 0, false, rrule, error), -1);
    p = weekly_series();
    p.period = 0;
    EXPECT_EQ(convert::recurrence_rrule(p, 0, false, rrule, error), -1);
    p = weekly_series();
    p.days_of_week = 0;
    EXPECT_EQ(convert::recurrence_rrule(p, 0, false, rrule, error), -1);
    p = weekly_series();
    p.pattern_type = convert::pattern_day;
    p.period = 90; // every hour and a half
    EXPECT_EQ(convert::recurrence_rrule(p, 0, false, rrule, error), -1);
    p = weekly_series();
    p.end_type = 0x1234;
    EXPECT_EQ(convert::recurrence_rrule(p, 0, false, rrule, error), -1);
    EXPECT_TRUE(rrule.empty());
}

TEST(RecurrencePattern, DamagedBytesAreRefusedWithoutReadingPastThem)
{
    convert::recurrence_pattern p = weekly_series();
    convert::recurrence_exception moved;
    moved.original_start = day_minutes(2026, 1, 12) + 540;
    moved.start = moved.original_start + 120;
    moved.end = moved.start + 60;
    moved.override_flags = convert::exception_subject | convert::exception_location;
    moved.subject = "Moved";
    moved.location = "Room 2";
    p.exceptions = {moved};
    p.modified_dates = {day_minutes(2026, 1, 12)};
    p.deleted_dates.push_back(day_minutes(2026, 1, 12));
    const auto bytes = pattern_bytes(p, true);
    convert::recurrence_pattern read;
    std::string error;
    ASSERT_EQ(convert::parse_recurrence(bytes, true, read, error), 1) << error;
    ASSERT_EQ(read.exceptions.size(), 1u);
    EXPECT_EQ(read.exceptions[0].subject, "Moved");
    EXPECT_EQ(read.exceptions[0].location, "Room 2");
    // The changed instance is no deleted one.
    EXPECT_EQ(convert::recurrence_deleted_only(read),
              std::vector<std::uint32_t>{day_minutes(2026, 1, 7)});

    // Every cut short of the exception list's end fails cleanly (the 8
    // reserved bytes at the end are not needed).
    for (std::size_t size = 0; size + 8 < bytes.size(); ++size) {
        std::vector<std::uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<long>(size));
        EXPECT_EQ(convert::parse_recurrence(cut, true, read, error), -1) << size;
    }
    // Counts far beyond the bytes: refused before anything is allocated.
    auto huge = bytes;
    const std::size_t deleted_count_at = 22 + 4 + 12;
    huge[deleted_count_at + 3] = 0xFF;
    EXPECT_EQ(convert::parse_recurrence(huge, true, read, error), -1);
    huge = bytes;
    huge[0] = 0x99; // unknown version
    EXPECT_EQ(convert::parse_recurrence(huge, true, read, error), -1);
    huge = bytes;
    huge[6] = 0x77; // unknown pattern type
    EXPECT_EQ(convert::parse_recurrence(huge, true, read, error), -1);
    // An exception whose text claims more than there is.
    auto text = bytes;
    const std::size_t subject_length_at = bytes.size() - 8 - 6 - 5 - 4 - 2;
    text[subject_length_at] = 0xF0;
    text[subject_length_at + 2] = 0xEF;
    EXPECT_EQ(convert::parse_recurrence(text, true, read, error), -1);
}

TEST(RecurrencePattern, TimeZoneStruct)
{
    convert::time_zone_rule zone;
    std::string error;
    const auto bytes = central_european_zone();
    ASSERT_EQ(convert::parse_time_zone_struct(bytes, zone, error), 1) << error;
    EXPECT_TRUE(zone.has_daylight());
    EXPECT_EQ(zone.bias, -60);
    EXPECT_EQ(convert::zone_change_day(2026, zone.daylight), 29); // last Sunday of March
    EXPECT_EQ(convert::zone_change_day(2026, zone.standard), 25); // last Sunday of October
    convert::zone_change second_sunday{3, 0, 2, 2, 0};
    EXPECT_EQ(convert::zone_change_day(2026, second_sunday), 8);
    for (std::size_t size = 0; size < bytes.size(); ++size) {
        std::vector<std::uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<long>(size));
        EXPECT_EQ(convert::parse_time_zone_struct(cut, zone, error), -1) << size;
    }
    auto far = bytes;
    far[3] = 0x7F; // a bias of years
    EXPECT_EQ(convert::parse_time_zone_struct(far, zone, error), -1);
    auto month = bytes;
    month[16] = 13;
    EXPECT_EQ(convert::parse_time_zone_struct(month, zone, error), -1);
}

// The calendar and task fixtures, written once.
class CalendarItems : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        path = new std::string(korvel::testing::scratch_directory("convert_icalendar") + "/c.pst");
        pst_builder b;
        auto &calendar = b.root().add_folder("Calendar");
        const auto &appointment_set = convert::psets::appointment;
        const auto &common = convert::psets::common;

        auto &plain = calendar.add_message("IPM.Appointment");
        plain.set_unicode(0x0037, u8"Planung für Zoë 😀");
        plain.set_body("Agenda:\r\n1. Budget; 2. Staff, etc.");
        plain.set_unicode(convert::named(appointment_set, 0x8208), u8"Raum Süd");
        plain.set_systime(convert::named(appointment_set, 0x820D), filetime_at(2026, 3, 2, 14, 30));
        plain.set_systime(convert::named(appointment_set, 0x820E), filetime_at(2026, 3, 2, 15, 45));
        plain.set_long(convert::named(appointment_set, 0x8205), 0);
        plain.set_boolean(convert::named(common, 0x8503), true);
        plain.set_long(convert::named(common, 0x8501), 30);
        plain.set_mv_unicode(convert::named(convert::psets::public_strings, u"Keywords"),
                             {"Work", "Budget, 2026"});

        auto &all_day = calendar.add_message("IPM.Appointment");
        all_day.set_unicode(0x0037, "Holiday");
        // Local midnight in UTC+1, two days.
        all_day.set_systime(convert::named(appointment_set, 0x820D),
                            filetime_at(2026, 12, 24, 23, 0));
        all_day.set_systime(convert::named(appointment_set, 0x820E),
                            filetime_at(2026, 12, 26, 23, 0));
        all_day.set_boolean(convert::named(appointment_set, 0x8215), true);

        auto &weekly = calendar.add_message("IPM.Appointment");
        weekly.set_unicode(0x0037, "Standup");
        weekly.set_systime(convert::named(appointment_set, 0x820D), filetime_at(2026, 1, 5, 8, 0));
        weekly.set_systime(convert::named(appointment_set, 0x820E), filetime_at(2026, 1, 5, 9, 0));
        weekly.set_boolean(convert::named(appointment_set, 0x8223), true);
        weekly.set_binary(convert::named(appointment_set, 0x8216),
                          pattern_bytes(weekly_series(), true));
        weekly.set_binary(convert::named(appointment_set, 0x8233), central_european_zone());
        const std::vector<std::uint8_t> goid = {0x04, 0x00, 0x00, 0x00, 0x82,
                                                0x00, 0xE0, 0x00, 0xAB};
        weekly.set_binary(convert::named(meeting_set, 0x0003), goid);

        auto &monthly = calendar.add_message("IPM.Appointment");
        monthly.set_unicode(0x0037, "Report");
        convert::recurrence_pattern m = weekly_series();
        m.frequency = convert::recur_monthly;
        m.pattern_type = convert::pattern_month;
        m.period = 1;
        m.day_of_month = 15;
        m.end_type = convert::end_after_date;
        m.deleted_dates.clear();
        m.start_date = day_minutes(2026, 1, 15);
        m.end_date = day_minutes(2026, 6, 15);
        monthly.set_systime(convert::named(appointment_set, 0x820D),
                            filetime_at(2026, 1, 15, 8, 0));
        monthly.set_systime(convert::named(appointment_set, 0x820E),
                            filetime_at(2026, 1, 15, 9, 0));
        monthly.set_binary(convert::named(appointment_set, 0x8216), pattern_bytes(m, true));

        auto &damaged = calendar.add_message("IPM.Appointment");
        damaged.set_unicode(0x0037, "Damaged");
        damaged.set_systime(convert::named(appointment_set, 0x820D),
                            filetime_at(2026, 4, 1, 10, 0));
        damaged.set_systime(convert::named(appointment_set, 0x820E),
                            filetime_at(2026, 4, 1, 11, 0));
        auto cut = pattern_bytes(weekly_series(), true);
        cut.resize(30);
        damaged.set_binary(convert::named(appointment_set, 0x8216), cut);

        auto &meeting = calendar.add_message("IPM.Appointment");
        meeting.set_unicode(0x0037, "Review");
        meeting.set_systime(convert::named(appointment_set, 0x820D), filetime_at(2026, 5, 4, 9, 0));
        meeting.set_systime(convert::named(appointment_set, 0x820E),
                            filetime_at(2026, 5, 4, 10, 0));
        meeting.set_long(convert::named(appointment_set, 0x8217), 1);
        meeting.set_unicode(0x0042, "Olga Organiser");
        meeting.set_unicode(0x5D02, "olga@example.com");
        meeting.add_recipient(1, "Anna Ångström", "anna@example.com");
        meeting.add_recipient(2, "Carl Optional", "carl@example.com");
        meeting.add_recipient(3, "Room 7", "room7@example.com");
        // The organiser's own row (sendable, organiser) is no attendee.
        meeting.add_recipient(1, "Olga Organiser").set_long(0x5FFD, 3);

        auto &task = calendar.add_message("IPM.Task");
        task.set_unicode(0x0037, "Write report");
        task.set_systime(convert::named(convert::psets::task, 0x8104),
                         filetime_at(2026, 2, 1, 0, 0));
        task.set_systime(convert::named(convert::psets::task, 0x8105),
                         filetime_at(2026, 2, 10, 0, 0));
        task.set_long(convert::named(convert::psets::task, 0x8101), 1);
        task.set_double(convert::named(convert::psets::task, 0x8102), 0.75);
        task.set_long(0x0017, 2);

        auto &note = calendar.add_message("IPM.Note");
        note.set_unicode(0x0037, "Not a calendar item");

        auto &request = calendar.add_message("IPM.Schedule.Meeting.Request");
        request.set_unicode(0x0037, "Invitation without a time");

        auto &invitation = calendar.add_message("IPM.Schedule.Meeting.Request");
        invitation.set_unicode(0x0037, "Invitation");
        invitation.set_systime(convert::named(appointment_set, 0x820D),
                               filetime_at(2026, 6, 1, 12, 0));
        invitation.set_systime(convert::named(appointment_set, 0x820E),
                               filetime_at(2026, 6, 1, 13, 0));
        invitation.set_unicode(0x0C1A, "Sam Sender");
        invitation.set_unicode(0x5D01, "sam@example.com");
        invitation.add_recipient(1, "Anna", "anna@example.com");

        // A task due every other Friday until the end of March.
        auto &recurring_task = calendar.add_message("IPM.Task");
        recurring_task.set_unicode(0x0037, "Timesheet");
        recurring_task.set_systime(convert::named(convert::psets::task, 0x8104),
                                   filetime_at(2026, 1, 2, 0, 0));
        convert::recurrence_pattern every_other = weekly_series();
        every_other.period = 2;
        every_other.days_of_week = 0x20;
        every_other.end_type = convert::end_after_date;
        every_other.end_date = day_minutes(2026, 3, 27);
        recurring_task.set_binary(convert::named(convert::psets::task, 0x8116),
                                  pattern_bytes(every_other, false));
        b.write(*path);
    }
    static void TearDownTestSuite()
    {
        delete path;
        path = nullptr;
    }

    // The text of message index of the folder, and its result.
    int convert_item(int index, std::string &text, std::vector<std::string> &notes)
    {
        pff::file f(*path);
        pff::item folder = f.root().find_folder("Calendar");
        EXPECT_TRUE(folder);
        pff::item message = folder.message(index);
        std::string error;
        const int result = convert::calendar_item_to_ical(message.get(), text, notes, error);
        EXPECT_NE(result, -1) << error;
        return result;
    }

    // The item wrapped in a calendar, parsed; its first component of kind.
    icalcomponent *component(int index, icalcomponent_kind kind,
                             std::vector<std::string> *notes = nullptr)
    {
        std::string text;
        std::vector<std::string> local_notes;
        EXPECT_EQ(convert_item(index, text, notes ? *notes : local_notes), 1);
        last_text = text;
        parsed =
            parse_calendar(convert::ical_calendar_begin() + text + convert::ical_calendar_end());
        return parsed ? icalcomponent_get_first_component(parsed.get(), kind) : nullptr;
    }

    static std::string *path;
    component_ptr parsed;
    std::string last_text;
};

std::string *CalendarItems::path = nullptr;

TEST_F(CalendarItems, PlainAppointmentInUtcWithReminderAndCategories)
{
    icalcomponent *event = component(0, ICAL_VEVENT_COMPONENT);
    ASSERT_NE(event, nullptr);
    // Beyond the first 65536 characters too (libpff's own reading changes them).
    EXPECT_EQ(std::string(icalcomponent_get_summary(event)), "Planung für Zoë 😀");
    EXPECT_EQ(std::string(icalcomponent_get_location(event)), "Raum Süd");
    EXPECT_EQ(std::string(icalcomponent_get_description(event)),
              "Agenda:\n1. Budget; 2. Staff, etc.");
    EXPECT_EQ(property_text(event, ICAL_DTSTART_PROPERTY), "20260302T143000Z");
    EXPECT_EQ(property_text(event, ICAL_DTEND_PROPERTY), "20260302T154500Z");
    EXPECT_EQ(property_text(event, ICAL_TRANSP_PROPERTY), "TRANSPARENT");
    icalcomponent *alarm = icalcomponent_get_first_component(event, ICAL_VALARM_COMPONENT);
    ASSERT_NE(alarm, nullptr);
    EXPECT_EQ(property_text(alarm, ICAL_TRIGGER_PROPERTY), "-PT30M");
    // A comma inside a category stays escaped (libical itself would split it).
    EXPECT_NE(last_text.find("CATEGORIES:Work,Budget\\, 2026\r\nEND:VEVENT"), std::string::npos)
        << last_text;
    EXPECT_NE(property_text(event, ICAL_UID_PROPERTY), "<absent>");
    EXPECT_NE(property_text(event, ICAL_DTSTAMP_PROPERTY), "<absent>");
    EXPECT_EQ(icalcomponent_get_first_property(event, ICAL_RRULE_PROPERTY), nullptr);
    // Every line ends in CRLF and none is longer than 75 octets.
    std::size_t start = 0;
    while (start < last_text.size()) {
        const std::size_t end = last_text.find("\r\n", start);
        ASSERT_NE(end, std::string::npos);
        EXPECT_LE(end - start, 75u);
        start = end + 2;
    }
}

TEST_F(CalendarItems, AllDayEventHasDates)
{
    icalcomponent *event = component(1, ICAL_VEVENT_COMPONENT);
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(property_text(event, ICAL_DTSTART_PROPERTY), "20261225");
    EXPECT_EQ(property_text(event, ICAL_DTEND_PROPERTY), "20261227");
    EXPECT_TRUE(icalcomponent_get_dtstart(event).is_date);
}

TEST_F(CalendarItems, WeeklySeriesInItsZoneWithCountAndDeletedInstance)
{
    icalcomponent *event = component(2, ICAL_VEVENT_COMPONENT);
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(property_text(event, ICAL_UID_PROPERTY), "040000008200E000AB");
    EXPECT_EQ(property_text(event, ICAL_DTSTART_PROPERTY), "20260105T090000");
    EXPECT_EQ(property_text(event, ICAL_DTEND_PROPERTY), "20260105T100000");
    EXPECT_EQ(parameter_text(event, ICAL_DTSTART_PROPERTY, ICAL_TZID_PARAMETER),
              "TZID=\"UTC+01:00 with daylight saving\"");
    icalproperty *rrule = icalcomponent_get_first_property(event, ICAL_RRULE_PROPERTY);
    ASSERT_NE(rrule, nullptr);
    const icalrecurrencetype recur = icalproperty_get_rrule(rrule);
    EXPECT_EQ(recur.freq, ICAL_WEEKLY_RECURRENCE);
    EXPECT_EQ(recur.count, 10);
    EXPECT_EQ(recur.by_day[0], ICAL_MONDAY_WEEKDAY);
    EXPECT_EQ(recur.by_day[1], ICAL_WEDNESDAY_WEEKDAY);
    EXPECT_EQ(property_text(event, ICAL_EXDATE_PROPERTY), "20260107T090000");
    // The zone is in the calendar, with its daylight saving rule.
    icalcomponent *zone = icalcomponent_get_first_component(parsed.get(), ICAL_VTIMEZONE_COMPONENT);
    ASSERT_NE(zone, nullptr);
    icalcomponent *summer = icalcomponent_get_first_component(zone, ICAL_XDAYLIGHT_COMPONENT);
    ASSERT_NE(summer, nullptr);
    EXPECT_EQ(property_text(summer, ICAL_TZOFFSETTO_PROPERTY), "+0200");
    EXPECT_EQ(property_text(summer, ICAL_RRULE_PROPERTY), "FREQ=YEARLY;BYDAY=-1SU;BYMONTH=3");
}

TEST_F(CalendarItems, MonthlySeriesEndsOnItsDateInUtc)
{
    icalcomponent *event = component(3, ICAL_VEVENT_COMPONENT);
    ASSERT_NE(event, nullptr);
    // No zone struct: the offset comes from the first instance (UTC+1).
    EXPECT_EQ(parameter_text(event, ICAL_DTSTART_PROPERTY, ICAL_TZID_PARAMETER),
              "TZID=\"UTC+01:00\"");
    const std::string rrule = property_text(event, ICAL_RRULE_PROPERTY);
    EXPECT_NE(rrule.find("FREQ=MONTHLY"), std::string::npos) << rrule;
    EXPECT_NE(rrule.find("BYMONTHDAY=15"), std::string::npos) << rrule;
    // 09:00 local on 15 June is 08:00 UTC; an hour of slack for summer time.
    EXPECT_NE(rrule.find("UNTIL=20260615T090000Z"), std::string::npos) << rrule;
}

TEST_F(CalendarItems, DamagedRecurrenceLeavesAPlainEventAndANote)
{
    std::vector<std::string> notes;
    icalcomponent *event = component(4, ICAL_VEVENT_COMPONENT, &notes);
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(icalcomponent_get_first_property(event, ICAL_RRULE_PROPERTY), nullptr);
    EXPECT_EQ(property_text(event, ICAL_DTSTART_PROPERTY), "20260401T100000Z");
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_NE(notes[0].find("without its recurrence"), std::string::npos) << notes[0];
}

TEST_F(CalendarItems, MeetingHasOrganiserAndAttendeesByRole)
{
    icalcomponent *event = component(5, ICAL_VEVENT_COMPONENT);
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(property_text(event, ICAL_ORGANIZER_PROPERTY), "mailto:olga@example.com");
    EXPECT_EQ(parameter_text(event, ICAL_ORGANIZER_PROPERTY, ICAL_CN_PARAMETER),
              "CN=Olga Organiser");
    std::vector<std::string> attendees;
    for (icalproperty *p = icalcomponent_get_first_property(event, ICAL_ATTENDEE_PROPERTY);
         p != nullptr; p = icalcomponent_get_next_property(event, ICAL_ATTENDEE_PROPERTY)) {
        icalparameter *cn = icalproperty_get_first_parameter(p, ICAL_CN_PARAMETER);
        icalparameter *role = icalproperty_get_first_parameter(p, ICAL_ROLE_PARAMETER);
        attendees.push_back(std::string(icalproperty_get_attendee(p)) + " " +
                            icalparameter_get_cn(cn) + " " +
                            icalparameter_enum_to_string(icalparameter_get_role(role)));
    }
    EXPECT_EQ(attendees,
              (std::vector<std::string>{"mailto:anna@example.com Anna Ångström REQ-PARTICIPANT",
                                        "mailto:carl@example.com Carl Optional OPT-PARTICIPANT",
                                        "mailto:room7@example.com Room 7 NON-PARTICIPANT"}));
}

TEST_F(CalendarItems, TaskWithStatusPercentAndDue)
{
    icalcomponent *todo = component(6, ICAL_VTODO_COMPONENT);
    ASSERT_NE(todo, nullptr);
    EXPECT_EQ(property_text(todo, ICAL_SUMMARY_PROPERTY), "Write report");
    EXPECT_EQ(property_text(todo, ICAL_DTSTART_PROPERTY), "20260201");
    EXPECT_EQ(property_text(todo, ICAL_DUE_PROPERTY), "20260210");
    EXPECT_EQ(property_text(todo, ICAL_STATUS_PROPERTY), "IN-PROCESS");
    EXPECT_EQ(property_text(todo, ICAL_PERCENTCOMPLETE_PROPERTY), "75");
    EXPECT_EQ(property_text(todo, ICAL_PRIORITY_PROPERTY), "1");
}

TEST_F(CalendarItems, OtherItemsAreNotCalendarItems)
{
    std::string text;
    std::vector<std::string> notes;
    EXPECT_EQ(convert_item(7, text, notes), 0);
    EXPECT_EQ(convert_item(8, text, notes), 0);
    EXPECT_TRUE(text.empty());
}

TEST_F(CalendarItems, MeetingRequestCarriesItsAppointment)
{
    icalcomponent *event = component(9, ICAL_VEVENT_COMPONENT);
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(property_text(event, ICAL_DTSTART_PROPERTY), "20260601T120000Z");
    // No sent-representing values: the sender organises.
    EXPECT_EQ(property_text(event, ICAL_ORGANIZER_PROPERTY), "mailto:sam@example.com");
    EXPECT_EQ(property_text(event, ICAL_ATTENDEE_PROPERTY), "mailto:anna@example.com");
}

TEST_F(CalendarItems, RecurringTaskRepeatsByDate)
{
    icalcomponent *todo = component(10, ICAL_VTODO_COMPONENT);
    ASSERT_NE(todo, nullptr);
    EXPECT_EQ(property_text(todo, ICAL_DTSTART_PROPERTY), "20260102");
    const std::string rrule = property_text(todo, ICAL_RRULE_PROPERTY);
    EXPECT_NE(rrule.find("FREQ=WEEKLY"), std::string::npos) << rrule;
    EXPECT_NE(rrule.find("INTERVAL=2"), std::string::npos) << rrule;
    EXPECT_NE(rrule.find("BYDAY=FR"), std::string::npos) << rrule;
    // A date, as DTSTART is one.
    EXPECT_NE(rrule.find("UNTIL=20260327"), std::string::npos) << rrule;
    EXPECT_EQ(rrule.find("UNTIL=20260327T"), std::string::npos) << rrule;
}

TEST_F(CalendarItems, FolderBecomesOneCalendar)
{
    pff::file f(*path);
    pff::item folder = f.root().find_folder("Calendar");
    std::ostringstream stream;
    convert::ical_folder_counts counts;
    std::string error;
    ASSERT_EQ(convert::folder_write_icalendar(folder.get(), stream, counts, error), 1) << error;
    EXPECT_EQ(counts.written, 9u);
    EXPECT_EQ(counts.skipped, 2u);
    EXPECT_TRUE(counts.unreadable.empty());
    ASSERT_EQ(counts.notes.size(), 1u);
    EXPECT_EQ(counts.notes[0].rfind("item 5: ", 0), 0u) << counts.notes[0];
    const std::string text = stream.str();
    EXPECT_EQ(
        text.rfind(
            "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Korvel//Korvel PST Repair 7.2//EN\r\n", 0),
        0u);
    component_ptr calendar = parse_calendar(text);
    ASSERT_TRUE(calendar);
    EXPECT_EQ(icalcomponent_count_components(calendar.get(), ICAL_VEVENT_COMPONENT), 7);
    EXPECT_EQ(icalcomponent_count_components(calendar.get(), ICAL_VTODO_COMPONENT), 2);
    // The weekly series' zone and the monthly one's fixed offset.
    EXPECT_EQ(icalcomponent_count_components(calendar.get(), ICAL_VTIMEZONE_COMPONENT), 2);
}

} // namespace
