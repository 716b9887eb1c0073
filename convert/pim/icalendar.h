// Appointments, meetings and tasks as iCalendar (RFC 5545) through libical.
//
// One folder becomes one VCALENDAR: ical_calendar_begin(), then one
// calendar_item_to_ical() text per item (a VEVENT or a VTODO, each built and
// serialised on its own so memory stays bounded), then ical_calendar_end().
// Times are UTC; an all-day appointment (PidLidAppointmentSubType) has DATE
// values. A recurring appointment carries its RRULE and EXDATEs from
// PidLidAppointmentRecur (convert/pim/recurrence.h) and is written in its own
// zone's local time (DTSTART;TZID=..., the VTIMEZONE first, from
// PidLidTimeZoneStruct or else the first instance's offset), because a
// series repeats at the same local hour across daylight saving; each
// changed instance follows as a VEVENT with the same UID and a
// RECURRENCE-ID. A pattern that cannot be read leaves the event without
// them and says so in notes.
//
// Everything here reads through libpff as the engine does; the caller holds
// the mailbox lock. Results are 1/0/-1; error is filled on -1 only.
#pragma once

#include <cstddef>
#include <ostream>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include <libpff.h>

namespace korvel::convert {

// Message classes, compared without regard to case.
// IPM.Appointment and IPM.Appointment.*.
bool is_appointment_class(std::string_view message_class);
// IPM.Task and IPM.Task.*.
bool is_task_class(std::string_view message_class);
// IPM.Schedule.Meeting.Request (and its sub-classes): mail that may also
// carry the appointment it proposes.
bool is_meeting_request_class(std::string_view message_class);

// "BEGIN:VCALENDAR" with VERSION 2.0, PRODID
// "-//Korvel//Korvel PST Repair 7.2//EN" and CALSCALE GREGORIAN, CRLF ended.
std::string ical_calendar_begin();
// "END:VCALENDAR" + CRLF.
std::string ical_calendar_end();

// One item as a VEVENT (appointment, or a meeting request carrying a start
// time) or a VTODO (task), CRLF lines folded as libical folds them, appended
// to out (left as it was on 0 and -1).
// Returns 1 written, 0 when the item is not a calendar item (its class says
// so, or a meeting request has no appointment start), -1 when it could not
// be read (error says why).
int calendar_item_to_ical(libpff_item_t *item, std::string &out, std::string &error);
// The same; notes receives one line per thing that was read but could not
// be carried over (an unreadable recurrence pattern, ...), for the report.
int calendar_item_to_ical(libpff_item_t *item, std::string &out, std::vector<std::string> &notes,
                          std::string &error);

// What one VCALENDAR has defined so far: each time zone is written once,
// before the first item that uses it. One per calendar file.
struct ical_stream
{
    std::set<std::string> zones;
};
// The same for a calendar written item by item: use this one when several
// items go into one VCALENDAR (a folder's .ics).
int calendar_item_to_ical(libpff_item_t *item, ical_stream &stream, std::string &out,
                          std::vector<std::string> &notes, std::string &error);

// What folder_write_icalendar did.
struct ical_folder_counts
{
    // Components written.
    std::size_t written = 0;
    // Items of other kinds, left out.
    std::size_t skipped = 0;
    // One line per item that could not be read: "item N: why".
    std::vector<std::string> unreadable;
    // Notes of calendar_item_to_ical, "item N: note".
    std::vector<std::string> notes;
};

// Writes one whole VCALENDAR with every calendar item among the folder's
// messages into stream (begin, components one at a time, end). Returns 1,
// or -1 when the folder's messages cannot be listed or the stream fails.
int folder_write_icalendar(libpff_item_t *folder, std::ostream &stream, ical_folder_counts &counts,
                           std::string &error);

} // namespace korvel::convert
