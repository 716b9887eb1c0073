// The names the engine and the views share: the MAPI properties read, the
// task status words and the item list's column titles. Each is defined here
// only.
#pragma once

#include <array>
#include <cstdint>

namespace korvel {

// Node identifier types (the low five bits of a node identifier).
inline constexpr std::uint32_t node_type_mask = 0x1F;
inline constexpr std::uint32_t node_type_folder = 0x02;
inline constexpr std::uint32_t node_type_message = 0x04;

// MAPI property tags (the property identifier; the value type is asked apart).
inline constexpr std::uint32_t tag_message_class = 0x001A;
inline constexpr std::uint32_t tag_importance = 0x0017;
inline constexpr std::uint32_t tag_priority = 0x0026;
inline constexpr std::uint32_t tag_sensitivity = 0x0036;
inline constexpr std::uint32_t tag_subject = 0x0037;
inline constexpr std::uint32_t tag_conversation_topic = 0x0070;
inline constexpr std::uint32_t tag_recipient_type = 0x0C15;
inline constexpr std::uint32_t tag_sender_name = 0x0C1A;
inline constexpr std::uint32_t tag_sender_email_address = 0x0C1F;
inline constexpr std::uint32_t tag_message_delivery_time = 0x0E06;
inline constexpr std::uint32_t tag_message_flags = 0x0E07;
inline constexpr std::uint32_t tag_message_size = 0x0E08;
inline constexpr std::uint32_t tag_display_name = 0x3001;
inline constexpr std::uint32_t tag_attach_filename = 0x3704;
inline constexpr std::uint32_t tag_attach_long_filename = 0x3707;
inline constexpr std::uint32_t tag_attach_content_id = 0x3712;
inline constexpr std::uint32_t tag_given_name = 0x3A06;
inline constexpr std::uint32_t tag_surname = 0x3A11;
inline constexpr std::uint32_t tag_company_name = 0x3A16;
inline constexpr std::uint32_t tag_middle_name = 0x3A44;
inline constexpr std::uint32_t tag_recipient_display_name = 0x5FF6;
// The row identifier of a table row: the node identifier of the item it lists.
inline constexpr std::uint32_t tag_row_identifier = 0x67F2;

// Named properties (found through the file's name-to-identifier map).
inline constexpr std::uint32_t lid_task_status = 0x8101;
inline constexpr std::uint32_t lid_percent_complete = 0x8102;
inline constexpr std::uint32_t lid_task_start_date = 0x8104;
inline constexpr std::uint32_t lid_task_due_date = 0x8105;
inline constexpr std::uint32_t lid_task_actual_effort = 0x8110;
inline constexpr std::uint32_t lid_task_estimated_effort = 0x8111;
inline constexpr std::uint32_t lid_task_version = 0x8112;
inline constexpr std::uint32_t lid_task_complete = 0x811C;
inline constexpr std::uint32_t lid_busy_status = 0x8205;
inline constexpr std::uint32_t lid_location = 0x8208;
inline constexpr std::uint32_t lid_appointment_start_whole = 0x820D;
inline constexpr std::uint32_t lid_appointment_end_whole = 0x820E;
inline constexpr std::uint32_t lid_appointment_duration = 0x8213;
inline constexpr std::uint32_t lid_recurrence_pattern = 0x8232;
inline constexpr std::uint32_t lid_clip_start = 0x8235;
inline constexpr std::uint32_t lid_clip_end = 0x8236;
inline constexpr std::uint32_t lid_log_type = 0x8700;

// The words of PidLidTaskStatus 0 to 5 (3 and 4 read the same); any other
// value has none.
inline constexpr std::array<const char16_t *, 6> task_status_words = {u"Not Started",
                                                                      u"In Progress",
                                                                      u"Completed",
                                                                      u"Waiting on someone else",
                                                                      u"Waiting on someone else",
                                                                      u"Deferred"};

// The item list's columns as the list is created.
inline constexpr int list_column_count = 10;
inline constexpr std::array<const char16_t *, list_column_count> list_column_titles = {
    u"NO",   u"Items", u"From",     u"E-mail Subject", u"Date/time",
    u"Flag", u"Size",  u"Priority", u"Sensitivity",    u"Importance"};

// The titles of list columns 2 and 3 while items of a kind are listed.
struct kind_column_titles
{
    const char16_t *from;
    const char16_t *subject;
};
inline constexpr kind_column_titles contact_column_titles{u"Full Name", u"Company Name"};
inline constexpr kind_column_titles activity_column_titles{u"Entry Type", u"Subject"};
inline constexpr kind_column_titles appointment_column_titles{u"Subject", u"Location"};
inline constexpr kind_column_titles task_column_titles{u"Subject: ", u"Status"};
inline constexpr kind_column_titles message_column_titles{u"From: ", u"Subjects"};

} // namespace korvel
