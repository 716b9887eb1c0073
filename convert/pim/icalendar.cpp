#include "convert/pim/icalendar.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <new>
#include <optional>
#include <set>

#include <libical/ical.h>

#include "convert/pim/pim_values.h"
#include "convert/pim/recurrence.h"
#include "convert/pim/vcard.h"
#include "scan/folder_messages.h"
#include "scan/names.h"
#include "scan/pff_values.h"

namespace korvel::convert {

namespace {

// recipOrganizer of PidTagRecipientFlags.
constexpr std::uint32_t recipient_organizer = 0x0002;

// asfMeeting, asfCanceled.
constexpr std::uint32_t state_meeting = 0x0001;
constexpr std::uint32_t state_canceled = 0x0004;

constexpr char product_id[] = "-//Korvel//Korvel PST Repair 7.2//EN";

struct component_deleter
{
    void operator()(icalcomponent *component) const { icalcomponent_free(component); }
};
using component_ptr = std::unique_ptr<icalcomponent, component_deleter>;

std::string text_of(libpff_item_t *item, std::uint32_t tag)
{
    std::string text;
    if (pim_read_text(item, tag, text) != 1) {
        text.clear();
    }
    return text;
}

std::optional<std::int64_t> minutes_of(libpff_item_t *item, std::uint32_t tag)
{
    std::uint64_t filetime = 0;
    if (read_filetime(item, tag, &filetime) != 1 || filetime == 0 ||
        !minutes_in_range(minutes_from_filetime(filetime))) {
        return std::nullopt;
    }
    return minutes_from_filetime(filetime);
}

std::optional<std::uint32_t> int32_of(libpff_item_t *item, std::uint32_t tag)
{
    std::uint32_t value = 0;
    if (read_int32(item, tag, &value) != 1) {
        return std::nullopt;
    }
    return value;
}

bool boolean_of(libpff_item_t *item, std::uint32_t tag)
{
    bool value = false;
    return read_boolean(item, tag, &value) == 1 && value;
}

// Local or UTC minutes as an iCalendar date-time (no zone attached).
icaltimetype time_of(std::int64_t minutes, bool utc)
{
    const civil_time civil = civil_from_minutes(minutes);
    icaltimetype time = icaltime_null_time();
    time.year = civil.year;
    time.month = civil.month;
    time.day = civil.day;
    time.hour = civil.hour;
    time.minute = civil.minute;
    time.is_date = 0;
    if (utc) {
        time.zone = icaltimezone_get_utc_timezone();
    }
    return time;
}

icaltimetype date_of(std::int64_t minutes)
{
    const civil_time civil = civil_from_minutes(minutes);
    icaltimetype time = icaltime_null_date();
    time.year = civil.year;
    time.month = civil.month;
    time.day = civil.day;
    return time;
}

// A UTC midnight that stands for a local day (all-day starts and ends, task
// dates) is up to 14 hours off: the nearest midnight is the day.
std::int64_t nearest_day(std::int64_t minutes)
{
    return minutes + 12 * 60;
}

void add_zoned(icalcomponent *component, icalproperty *property, const std::string &tzid)
{
    if (!tzid.empty()) {
        icalproperty_add_parameter(property, icalparameter_new_tzid(tzid.c_str()));
    }
    icalcomponent_add_property(component, property);
}

// The item's UID: the meeting's global object id, else its search key,
// else its identifier in this file.
std::string item_uid(libpff_item_t *item)
{
    std::vector<std::uint8_t> bytes;
    for (std::uint32_t tag : {lid_global_object_id, lid_clean_global_object_id, tag_search_key}) {
        if (pim_read_binary(item, tag, bytes) == 1 && !bytes.empty()) {
            std::string hex = hex_text(bytes);
            for (char &c : hex) {
                c = c >= 'a' && c <= 'f' ? static_cast<char>(c - 'a' + 'A') : c;
            }
            return hex;
        }
    }
    std::uint32_t identifier = 0;
    error_slot error;
    if (libpff_item_get_identifier(item, &identifier, error.get()) == 1) {
        return "korvel-item-" + std::to_string(identifier);
    }
    return "korvel-item";
}

// The CATEGORIES line of the item's keywords, "" when none. Written by
// hand: libical writes a comma inside a category unescaped, which splits
// it in two for every reader.
std::string categories_line(libpff_item_t *item)
{
    std::vector<std::string> categories;
    if (pim_read_text_list_by_name(item, "Keywords", categories) != 1) {
        return {};
    }
    std::string value;
    for (const auto &category : categories) {
        if (!category.empty()) {
            value += value.empty() ? "" : ",";
            value += vcard_escape(category, true);
        }
    }
    return value.empty() ? std::string() : fold_content_line("CATEGORIES:" + value);
}

// Puts a content line into a serialised component, before its END line.
void insert_before_end(std::string &text, const std::string &line)
{
    if (line.empty() || text.size() < 2) {
        return;
    }
    const std::size_t last = text.rfind("\r\n", text.size() - 3);
    text.insert(last == std::string::npos ? 0 : last + 2, line);
}

// Properties every component has: UID, DTSTAMP, SUMMARY, DESCRIPTION,
// CLASS, PRIORITY, CREATED, LAST-MODIFIED.
void add_common(libpff_item_t *item, icalcomponent *component, const std::string &uid)
{
    icalcomponent_add_property(component, icalproperty_new_uid(uid.c_str()));
    const auto created = minutes_of(item, tag_creation_time);
    const auto modified = minutes_of(item, tag_last_modification_time);
    if (modified) {
        icalcomponent_add_property(component, icalproperty_new_dtstamp(time_of(*modified, true)));
    } else if (created) {
        icalcomponent_add_property(component, icalproperty_new_dtstamp(time_of(*created, true)));
    } else {
        icalcomponent_add_property(component,
                                   icalproperty_new_dtstamp(icaltime_from_timet_with_zone(
                                       std::time(nullptr), 0, icaltimezone_get_utc_timezone())));
    }
    if (created) {
        icalcomponent_add_property(component, icalproperty_new_created(time_of(*created, true)));
    }
    if (modified) {
        icalcomponent_add_property(component,
                                   icalproperty_new_lastmodified(time_of(*modified, true)));
    }
    const std::string subject = pim_read_subject(item);
    if (!subject.empty()) {
        icalcomponent_add_property(component, icalproperty_new_summary(subject.c_str()));
    }
    std::string body;
    if (pim_read_body(item, body) == 1 && !body.empty()) {
        icalcomponent_add_property(component, icalproperty_new_description(body.c_str()));
    }
    if (const auto sensitivity = int32_of(item, tag_sensitivity)) {
        const icalproperty_class classes[] = {ICAL_CLASS_PUBLIC, ICAL_CLASS_PRIVATE,
                                              ICAL_CLASS_PRIVATE, ICAL_CLASS_CONFIDENTIAL};
        if (*sensitivity < 4) {
            icalcomponent_add_property(component, icalproperty_new_class(classes[*sensitivity]));
        }
    }
    if (const auto importance = int32_of(item, tag_importance)) {
        // Low, normal, high as iCalendar's 9, 5, 1.
        const int priorities[] = {9, 5, 1};
        if (*importance < 3) {
            icalcomponent_add_property(component,
                                       icalproperty_new_priority(priorities[*importance]));
        }
    }
}

std::string mailto(const std::string &address)
{
    return address.empty() ? std::string("invalid:nomail") : "mailto:" + address;
}

void add_people(libpff_item_t *item, icalcomponent *component, bool meeting)
{
    std::vector<pim_recipient> recipients;
    if (pim_read_recipients(item, recipients) != 1) {
        recipients.clear();
    }
    if (!meeting && recipients.empty()) {
        return;
    }
    std::string organizer_name = text_of(item, tag_sent_representing_name);
    std::string organizer = text_of(item, tag_sent_representing_smtp_address);
    if (organizer.empty()) {
        organizer = text_of(item, tag_sent_representing_email);
    }
    if (organizer_name.empty() && organizer.find('@') == std::string::npos) {
        organizer_name = text_of(item, tag_sender_name);
        organizer = text_of(item, tag_sender_smtp_address);
        if (organizer.empty()) {
            organizer = text_of(item, tag_sender_email_address);
        }
    }
    if (organizer.find('@') == std::string::npos) {
        organizer.clear();
    }
    if (!organizer.empty() || !organizer_name.empty()) {
        icalproperty *property = icalproperty_new_organizer(mailto(organizer).c_str());
        if (!organizer_name.empty()) {
            icalproperty_add_parameter(property, icalparameter_new_cn(organizer_name.c_str()));
        }
        icalcomponent_add_property(component, property);
    }
    for (const auto &recipient : recipients) {
        if (recipient.address.empty() && recipient.name.empty()) {
            continue;
        }
        // The organiser's own row is no attendee.
        if ((recipient.flags & recipient_organizer) != 0 ||
            (!organizer.empty() && recipient.address == organizer)) {
            continue;
        }
        icalproperty *property = icalproperty_new_attendee(mailto(recipient.address).c_str());
        if (!recipient.name.empty()) {
            icalproperty_add_parameter(property, icalparameter_new_cn(recipient.name.c_str()));
        }
        if (recipient.type == 3) {
            // Meetings keep their rooms and equipment as blind recipients.
            icalproperty_add_parameter(property, icalparameter_new_cutype(ICAL_CUTYPE_RESOURCE));
            icalproperty_add_parameter(property, icalparameter_new_role(ICAL_ROLE_NONPARTICIPANT));
        } else {
            icalproperty_add_parameter(
                property, icalparameter_new_role(recipient.type == 2 ? ICAL_ROLE_OPTPARTICIPANT
                                                                     : ICAL_ROLE_REQPARTICIPANT));
        }
        icalcomponent_add_property(component, property);
    }
}

void add_relative_alarm(icalcomponent *component, int minutes_before)
{
    icalcomponent *alarm = icalcomponent_new_valarm();
    icalcomponent_add_property(alarm, icalproperty_new_action(ICAL_ACTION_DISPLAY));
    icalcomponent_add_property(alarm, icalproperty_new_description("Reminder"));
    struct icaltriggertype trigger = icaltriggertype_from_int(0);
    trigger.duration = icaldurationtype_from_int(-minutes_before * 60);
    icalcomponent_add_property(alarm, icalproperty_new_trigger(trigger));
    icalcomponent_add_component(component, alarm);
}

std::string serialise(icalcomponent *component)
{
    char *text = icalcomponent_as_ical_string_r(component);
    if (text == nullptr) {
        return {};
    }
    std::string out(text);
    icalmemory_free_buffer(text);
    return out;
}

std::string offset_name(int minutes_east)
{
    char text[16];
    const int magnitude = minutes_east < 0 ? -minutes_east : minutes_east;
    std::snprintf(text, sizeof text, "UTC%c%02d:%02d", minutes_east < 0 ? '-' : '+', magnitude / 60,
                  magnitude % 60);
    return text;
}

// The zone a recurring appointment's local times are in.
struct local_zone
{
    std::string tzid;
    // Local minus UTC at the series' first instance.
    int offset = 0;
    std::optional<time_zone_rule> rule;
};

void add_zone_change(icalcomponent *zone, bool daylight, const zone_change &change, int from,
                     int to)
{
    icalcomponent *part = daylight ? icalcomponent_new_xdaylight() : icalcomponent_new_xstandard();
    // The first change of the rule, in 1601: where the rule starts.
    const int day = zone_change_day(1601, change);
    icalcomponent_add_property(
        part, icalproperty_new_dtstart(time_of(
                  minutes_from_civil(1601, change.month, day, change.hour, change.minute), false)));
    icalcomponent_add_property(part, icalproperty_new_tzoffsetfrom(from * 60));
    icalcomponent_add_property(part, icalproperty_new_tzoffsetto(to * 60));
    char rule[80];
    static const char *const days[7] = {"SU", "MO", "TU", "WE", "TH", "FR", "SA"};
    std::snprintf(rule, sizeof rule, "FREQ=YEARLY;BYMONTH=%u;BYDAY=%d%s",
                  static_cast<unsigned>(change.month), change.week == 5 ? -1 : change.week,
                  days[change.day_of_week % 7]);
    icalcomponent_add_property(part, icalproperty_new_rrule(icalrecurrencetype_from_string(rule)));
    icalcomponent_add_component(zone, part);
}

std::string zone_text(const local_zone &zone)
{
    component_ptr timezone(icalcomponent_new_vtimezone());
    icalcomponent_add_property(timezone.get(), icalproperty_new_tzid(zone.tzid.c_str()));
    if (zone.rule && zone.rule->has_daylight()) {
        const int standard = -(zone.rule->bias + zone.rule->standard_bias);
        const int daylight = -(zone.rule->bias + zone.rule->daylight_bias);
        add_zone_change(timezone.get(), false, zone.rule->standard, daylight, standard);
        add_zone_change(timezone.get(), true, zone.rule->daylight, standard, daylight);
    } else {
        const int offset = zone.rule ? -(zone.rule->bias + zone.rule->standard_bias) : zone.offset;
        icalcomponent *part = icalcomponent_new_xstandard();
        icalcomponent_add_property(part, icalproperty_new_dtstart(time_of(0, false)));
        icalcomponent_add_property(part, icalproperty_new_tzoffsetfrom(offset * 60));
        icalcomponent_add_property(part, icalproperty_new_tzoffsetto(offset * 60));
        icalcomponent_add_component(timezone.get(), part);
    }
    return serialise(timezone.get());
}

// A recurring appointment: its pattern, the zone of its local times and the
// component texts of its changed instances.
struct series
{
    recurrence_pattern pattern;
    local_zone zone;
    std::string rrule;
};

// Reads the series of an appointment. Returns false when there is none or
// it cannot be used (notes says why in the latter case).
bool read_series(libpff_item_t *item, std::optional<std::int64_t> start_utc, bool all_day,
                 series &out, std::vector<std::string> &notes)
{
    std::vector<std::uint8_t> bytes;
    const int result = pim_read_binary(item, lid_recur, bytes);
    if (result == 0 || (result == 1 && bytes.empty())) {
        if (boolean_of(item, lid_recurring)) {
            notes.push_back("recurring, but its recurrence pattern is missing: saved as one event");
        }
        return false;
    }
    std::string why;
    if (result < 0) {
        why = "the recurrence pattern cannot be read";
    } else if (parse_recurrence(bytes, true, out.pattern, why) != 1) {
        // why is set
    } else {
        const std::int64_t local_start =
            static_cast<std::int64_t>(out.pattern.start_date) + out.pattern.start_time_offset;
        std::vector<std::uint8_t> zone_bytes;
        time_zone_rule rule;
        std::string zone_why;
        if (pim_read_binary(item, lid_time_zone_struct, zone_bytes) == 1 &&
            parse_time_zone_struct(zone_bytes, rule, zone_why) == 1) {
            out.zone.rule = rule;
        }
        if (start_utc && local_start - *start_utc >= -14 * 60 &&
            local_start - *start_utc <= 14 * 60) {
            out.zone.offset = static_cast<int>(local_start - *start_utc);
        } else if (out.zone.rule) {
            out.zone.offset = -(out.zone.rule->bias + out.zone.rule->standard_bias);
        }
        out.zone.tzid = text_of(item, lid_time_zone_description);
        if (out.zone.tzid.empty()) {
            const int standard = out.zone.rule
                                     ? -(out.zone.rule->bias + out.zone.rule->standard_bias)
                                     : out.zone.offset;
            out.zone.tzid = offset_name(standard);
            if (out.zone.rule && out.zone.rule->has_daylight()) {
                out.zone.tzid += " with daylight saving";
            }
        }
        // UNTIL is inclusive: an hour of slack keeps the last instance in
        // when daylight saving moved it.
        if (recurrence_rrule(out.pattern, out.zone.offset - 60, all_day, out.rrule, why) == 1) {
            return true;
        }
    }
    notes.push_back(why + ": saved without its recurrence");
    return false;
}

std::string busy_word(std::uint32_t status)
{
    switch (status) {
    case 0:
        return "FREE";
    case 1:
        return "TENTATIVE";
    case 3:
        return "OOF";
    case 4:
        return "WORKINGELSEWHERE";
    default:
        return "BUSY";
    }
}

// zones_written: the zones the calendar already defines (nullptr: none is
// known to be); a zone defined here is named in new_zone.
int appointment_text(libpff_item_t *item, std::string &out, std::vector<std::string> &notes,
                     bool meeting_request, const std::set<std::string> *zones_written,
                     std::string &new_zone)
{
    const auto start = minutes_of(item, lid_appointment_start_whole);
    auto end = minutes_of(item, lid_appointment_end_whole);
    if (!start && meeting_request) {
        return 0;
    }
    if (start && end && *end < *start) {
        notes.push_back("ends before it starts: saved ending at its start");
        end = start;
    }
    const bool all_day = boolean_of(item, lid_sub_type);
    const std::uint32_t state = int32_of(item, lid_state_flags).value_or(0);
    const std::string uid = item_uid(item);

    series recurring;
    const bool has_series = read_series(item, start, all_day, recurring, notes);

    component_ptr event(icalcomponent_new_vevent());
    add_common(item, event.get(), uid);
    const std::string location = text_of(item, lid_location);
    if (!location.empty()) {
        icalcomponent_add_property(event.get(), icalproperty_new_location(location.c_str()));
    }
    std::string zone;
    if (has_series) {
        const recurrence_pattern &pattern = recurring.pattern;
        const std::int64_t day = pattern.start_date;
        if (all_day) {
            icalcomponent_add_property(event.get(), icalproperty_new_dtstart(date_of(day)));
            const std::int64_t length_days =
                pattern.end_time_offset > pattern.start_time_offset
                    ? (pattern.end_time_offset - pattern.start_time_offset + 1439) / 1440
                    : 1;
            icalcomponent_add_property(event.get(),
                                       icalproperty_new_dtend(date_of(day + length_days * 1440)));
        } else {
            zone = recurring.zone.tzid;
            add_zoned(event.get(),
                      icalproperty_new_dtstart(time_of(day + pattern.start_time_offset, false)),
                      zone);
            const std::uint32_t end_offset = pattern.end_time_offset >= pattern.start_time_offset
                                                 ? pattern.end_time_offset
                                                 : pattern.start_time_offset;
            add_zoned(event.get(), icalproperty_new_dtend(time_of(day + end_offset, false)), zone);
        }
        icalcomponent_add_property(
            event.get(),
            icalproperty_new_rrule(icalrecurrencetype_from_string(recurring.rrule.c_str())));
        for (std::uint32_t deleted : recurrence_deleted_only(pattern)) {
            if (all_day) {
                icalcomponent_add_property(event.get(), icalproperty_new_exdate(date_of(deleted)));
            } else {
                add_zoned(
                    event.get(),
                    icalproperty_new_exdate(time_of(
                        static_cast<std::int64_t>(deleted) + pattern.start_time_offset, false)),
                    zone);
            }
        }
    } else if (start) {
        if (all_day) {
            const std::int64_t first = nearest_day(*start);
            icalcomponent_add_property(event.get(), icalproperty_new_dtstart(date_of(first)));
            std::int64_t last = end ? nearest_day(*end) : first + 1440;
            if (last / 1440 <= first / 1440) {
                last = first + 1440;
            }
            icalcomponent_add_property(event.get(), icalproperty_new_dtend(date_of(last)));
        } else {
            icalcomponent_add_property(event.get(),
                                       icalproperty_new_dtstart(time_of(*start, true)));
            if (end) {
                icalcomponent_add_property(event.get(),
                                           icalproperty_new_dtend(time_of(*end, true)));
            }
        }
    } else {
        notes.push_back("has no start time");
    }
    const std::uint32_t busy = int32_of(item, lid_busy_status).value_or(2);
    icalcomponent_add_property(
        event.get(),
        icalproperty_new_transp(busy == 0 ? ICAL_TRANSP_TRANSPARENT : ICAL_TRANSP_OPAQUE));
    icalproperty *busy_property = icalproperty_new_x(busy_word(busy).c_str());
    icalproperty_set_x_name(busy_property, "X-MICROSOFT-CDO-BUSYSTATUS");
    icalcomponent_add_property(event.get(), busy_property);
    if ((state & state_canceled) != 0) {
        icalcomponent_add_property(event.get(), icalproperty_new_status(ICAL_STATUS_CANCELLED));
    }
    add_people(item, event.get(), meeting_request || (state & state_meeting) != 0);
    if (boolean_of(item, lid_reminder_set)) {
        const std::uint32_t delta = int32_of(item, lid_reminder_delta).value_or(15);
        // Deltas beyond a year are damage; keep the usual quarter hour.
        add_relative_alarm(event.get(), delta <= 525600 ? static_cast<int>(delta) : 15);
    }

    std::string text;
    if (has_series && !zone.empty() &&
        (zones_written == nullptr || zones_written->count(zone) == 0)) {
        text += zone_text(recurring.zone);
        new_zone = zone;
    }
    std::string master = serialise(event.get());
    insert_before_end(master, categories_line(item));
    text += master;

    // Changed instances: their own times, subject and location.
    if (has_series) {
        const std::string subject = pim_read_subject(item);
        for (const auto &exception : recurring.pattern.exceptions) {
            component_ptr instance(icalcomponent_new_vevent());
            icalcomponent_add_property(instance.get(), icalproperty_new_uid(uid.c_str()));
            icalcomponent_add_property(
                instance.get(), icalproperty_new_dtstamp(icalcomponent_get_dtstamp(event.get())));
            if (all_day) {
                icalcomponent_add_property(instance.get(), icalproperty_new_recurrenceid(
                                                               date_of(exception.original_start)));
                icalcomponent_add_property(instance.get(),
                                           icalproperty_new_dtstart(date_of(exception.start)));
                icalcomponent_add_property(
                    instance.get(),
                    icalproperty_new_dtend(date_of(
                        exception.end > exception.start ? exception.end : exception.start + 1440)));
            } else {
                add_zoned(instance.get(),
                          icalproperty_new_recurrenceid(time_of(exception.original_start, false)),
                          zone);
                add_zoned(instance.get(), icalproperty_new_dtstart(time_of(exception.start, false)),
                          zone);
                add_zoned(
                    instance.get(),
                    icalproperty_new_dtend(time_of(
                        exception.end >= exception.start ? exception.end : exception.start, false)),
                    zone);
            }
            const std::string instance_subject = (exception.override_flags & exception_subject) != 0
                                                     ? pim_8bit_to_utf8(exception.subject)
                                                     : subject;
            if (!instance_subject.empty()) {
                icalcomponent_add_property(instance.get(),
                                           icalproperty_new_summary(instance_subject.c_str()));
            }
            const std::string instance_location =
                (exception.override_flags & exception_location) != 0
                    ? pim_8bit_to_utf8(exception.location)
                    : location;
            if (!instance_location.empty()) {
                icalcomponent_add_property(instance.get(),
                                           icalproperty_new_location(instance_location.c_str()));
            }
            const std::uint32_t instance_busy =
                (exception.override_flags & exception_busy_status) != 0 ? exception.busy_status
                                                                        : busy;
            icalcomponent_add_property(
                instance.get(), icalproperty_new_transp(instance_busy == 0 ? ICAL_TRANSP_TRANSPARENT
                                                                           : ICAL_TRANSP_OPAQUE));
            text += serialise(instance.get());
        }
    }
    out += text;
    return 1;
}

int task_text(libpff_item_t *item, std::string &out, std::vector<std::string> &notes)
{
    component_ptr todo(icalcomponent_new_vtodo());
    add_common(item, todo.get(), item_uid(item));
    const auto start = minutes_of(item, lid_task_start_date);
    const auto due = minutes_of(item, lid_task_due_date);
    if (start) {
        icalcomponent_add_property(todo.get(),
                                   icalproperty_new_dtstart(date_of(nearest_day(*start))));
    }
    if (due) {
        std::int64_t due_day = nearest_day(*due);
        // A due date before the start makes the to-do invalid: due at the start.
        if (start && due_day / 1440 < nearest_day(*start) / 1440) {
            notes.push_back("due before it starts: saved due at its start");
            due_day = nearest_day(*start);
        }
        icalcomponent_add_property(todo.get(), icalproperty_new_due(date_of(due_day)));
    }
    const auto status = int32_of(item, lid_task_status);
    const bool complete = boolean_of(item, lid_task_complete) || (status && *status == 2);
    if (complete) {
        icalcomponent_add_property(todo.get(), icalproperty_new_status(ICAL_STATUS_COMPLETED));
    } else if (status && *status == 1) {
        icalcomponent_add_property(todo.get(), icalproperty_new_status(ICAL_STATUS_INPROCESS));
    } else if (status) {
        icalcomponent_add_property(todo.get(), icalproperty_new_status(ICAL_STATUS_NEEDSACTION));
    }
    double fraction = 0.0;
    if (read_double(item, lid_percent_complete, &fraction) == 1) {
        // Stored as a fraction; NaN and out-of-range values are clamped.
        if (!(fraction >= 0.0)) {
            fraction = 0.0;
        }
        if (fraction > 1.0) {
            fraction = 1.0;
        }
        icalcomponent_add_property(
            todo.get(), icalproperty_new_percentcomplete(static_cast<int>(fraction * 100.0 + 0.5)));
    } else if (complete) {
        icalcomponent_add_property(todo.get(), icalproperty_new_percentcomplete(100));
    }
    if (const auto completed = minutes_of(item, lid_task_date_completed); completed && complete) {
        icalcomponent_add_property(todo.get(),
                                   icalproperty_new_completed(time_of(*completed, true)));
    }
    std::vector<std::uint8_t> bytes;
    if (pim_read_binary(item, lid_task_recurrence, bytes) == 1 && !bytes.empty()) {
        recurrence_pattern pattern;
        std::string rrule;
        std::string why;
        if (!start) {
            notes.push_back("recurring task without a start date: saved without its recurrence");
        } else if (parse_recurrence(bytes, false, pattern, why) == 1 &&
                   recurrence_rrule(pattern, 0, true, rrule, why) == 1) {
            icalcomponent_add_property(
                todo.get(), icalproperty_new_rrule(icalrecurrencetype_from_string(rrule.c_str())));
        } else {
            notes.push_back(why + ": saved without its recurrence");
        }
    }
    add_people(item, todo.get(), false);
    if (boolean_of(item, lid_reminder_set)) {
        if (const auto when = minutes_of(item, lid_reminder_time)) {
            icalcomponent *alarm = icalcomponent_new_valarm();
            icalcomponent_add_property(alarm, icalproperty_new_action(ICAL_ACTION_DISPLAY));
            icalcomponent_add_property(alarm, icalproperty_new_description("Reminder"));
            struct icaltriggertype trigger = icaltriggertype_from_int(0);
            trigger.time = time_of(*when, true);
            icalcomponent_add_property(alarm, icalproperty_new_trigger(trigger));
            icalcomponent_add_component(todo.get(), alarm);
        }
    }
    std::string text = serialise(todo.get());
    insert_before_end(text, categories_line(item));
    out += text;
    return 1;
}

} // namespace

bool is_appointment_class(std::string_view message_class)
{
    return message_class_is(message_class, "IPM.Appointment");
}

bool is_task_class(std::string_view message_class)
{
    return message_class_is(message_class, "IPM.Task");
}

bool is_meeting_request_class(std::string_view message_class)
{
    return message_class_is(message_class, "IPM.Schedule.Meeting.Request");
}

std::string ical_calendar_begin()
{
    return std::string("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:") + product_id +
           "\r\nCALSCALE:GREGORIAN\r\n";
}

std::string ical_calendar_end()
{
    return "END:VCALENDAR\r\n";
}

namespace {

int item_to_ical(libpff_item_t *item, std::set<std::string> *zones, std::string &out,
                 std::vector<std::string> &notes, std::string &error)
{
    if (item == nullptr) {
        error = "no item";
        return -1;
    }
    try {
        const std::string message_class = pim_message_class(item);
        std::string text;
        std::string new_zone;
        int result = 0;
        if (is_appointment_class(message_class)) {
            result = appointment_text(item, text, notes, false, zones, new_zone);
        } else if (is_meeting_request_class(message_class)) {
            result = appointment_text(item, text, notes, true, zones, new_zone);
        } else if (is_task_class(message_class)) {
            result = task_text(item, text, notes);
        }
        if (result == 1) {
            if (text.empty()) {
                error = "the calendar item could not be written";
                return -1;
            }
            out += text;
            if (zones != nullptr && !new_zone.empty()) {
                zones->insert(new_zone);
            }
        }
        return result;
    } catch (const std::bad_alloc &) {
        error = "out of memory reading the calendar item";
        return -1;
    }
}

} // namespace

int calendar_item_to_ical(libpff_item_t *item, ical_stream &stream, std::string &out,
                          std::vector<std::string> &notes, std::string &error)
{
    return item_to_ical(item, &stream.zones, out, notes, error);
}

int calendar_item_to_ical(libpff_item_t *item, std::string &out, std::vector<std::string> &notes,
                          std::string &error)
{
    return item_to_ical(item, nullptr, out, notes, error);
}

int calendar_item_to_ical(libpff_item_t *item, std::string &out, std::string &error)
{
    std::vector<std::string> notes;
    return item_to_ical(item, nullptr, out, notes, error);
}

int folder_write_icalendar(libpff_item_t *folder, std::ostream &stream, ical_folder_counts &counts,
                           std::string &error)
{
    if (folder == nullptr) {
        error = "no folder";
        return -1;
    }
    ical_stream calendar;
    const std::string begin = ical_calendar_begin();
    stream.write(begin.data(), static_cast<std::streamsize>(begin.size()));
    const auto where = [](int index) { return "item " + std::to_string(index + 1) + ": "; };
    error_slot pff_error;
    const int walked = export_handle_walk_sub_messages(
        nullptr, folder,
        [&](libpff_item_t *message, int index) {
            std::string text;
            std::string why;
            std::vector<std::string> notes;
            const int result = calendar_item_to_ical(message, calendar, text, notes, why);
            for (const auto &note : notes) {
                counts.notes.push_back(where(index) + note);
            }
            if (result == 0) {
                ++counts.skipped;
            } else if (result < 0) {
                counts.unreadable.push_back(where(index) + why);
            } else {
                stream.write(text.data(), static_cast<std::streamsize>(text.size()));
                ++counts.written;
            }
            return stream ? 1 : 0;
        },
        [&](int index) { counts.unreadable.push_back(where(index) + "cannot be read"); },
        pff_error.get());
    if (walked == -1) {
        error = "the folder's messages cannot be listed";
        return -1;
    }
    const std::string end = ical_calendar_end();
    stream.write(end.data(), static_cast<std::streamsize>(end.size()));
    if (!stream) {
        error = "the calendar could not be written";
        return -1;
    }
    return 1;
}

} // namespace korvel::convert
