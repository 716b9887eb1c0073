// The names every folder shares: the MAPI properties and value types read or
// written, the task status words and the item list's column titles. Each is
// defined here only (tests/scripts/test_one_home_for_names.sh checks it), and
// the header includes nothing but the standard library, so that the writer,
// which never sees libpff, takes its names from here too.
#pragma once

#include <array>
#include <cstdint>

namespace korvel {

// Node identifier types (the low five bits of a node identifier).
inline constexpr std::uint32_t node_type_mask = 0x1F;
inline constexpr std::uint32_t node_type_folder = 0x02;
inline constexpr std::uint32_t node_type_message = 0x04;

// MAPI property tags (the property identifier; the value type is asked apart).
inline constexpr std::uint32_t tag_importance = 0x0017;
inline constexpr std::uint32_t tag_message_class = 0x001A;
inline constexpr std::uint32_t tag_priority = 0x0026;
inline constexpr std::uint32_t tag_sensitivity = 0x0036;
inline constexpr std::uint32_t tag_subject = 0x0037;
inline constexpr std::uint32_t tag_client_submit_time = 0x0039;
inline constexpr std::uint32_t tag_sent_representing_name = 0x0042;
inline constexpr std::uint32_t tag_sent_representing_address_type = 0x0064;
inline constexpr std::uint32_t tag_sent_representing_email = 0x0065;
inline constexpr std::uint32_t tag_conversation_topic = 0x0070;
inline constexpr std::uint32_t tag_transport_headers = 0x007D;
inline constexpr std::uint32_t tag_recipient_type = 0x0C15;
inline constexpr std::uint32_t tag_sender_name = 0x0C1A;
inline constexpr std::uint32_t tag_sender_address_type = 0x0C1E;
inline constexpr std::uint32_t tag_sender_email_address = 0x0C1F;
inline constexpr std::uint32_t tag_message_delivery_time = 0x0E06;
inline constexpr std::uint32_t tag_message_flags = 0x0E07;
inline constexpr std::uint32_t tag_message_size = 0x0E08;
inline constexpr std::uint32_t tag_attach_size = 0x0E20;
inline constexpr std::uint32_t tag_record_key = 0x0FF9;
inline constexpr std::uint32_t tag_object_type = 0x0FFE;
inline constexpr std::uint32_t tag_internet_message_id = 0x1035;
inline constexpr std::uint32_t tag_references = 0x1039;
inline constexpr std::uint32_t tag_in_reply_to = 0x1042;
inline constexpr std::uint32_t tag_display_name = 0x3001;
inline constexpr std::uint32_t tag_address_type = 0x3002;
inline constexpr std::uint32_t tag_email_address = 0x3003;
inline constexpr std::uint32_t tag_creation_time = 0x3007;
inline constexpr std::uint32_t tag_last_modification_time = 0x3008;
inline constexpr std::uint32_t tag_search_key = 0x300B;
inline constexpr std::uint32_t tag_valid_folder_mask = 0x35DF;
inline constexpr std::uint32_t tag_ipm_subtree_entry_id = 0x35E0;
inline constexpr std::uint32_t tag_ipm_wastebasket_entry_id = 0x35E3;
inline constexpr std::uint32_t tag_finder_entry_id = 0x35E7;
inline constexpr std::uint32_t tag_folder_type = 0x3601;
inline constexpr std::uint32_t tag_content_count = 0x3602;
inline constexpr std::uint32_t tag_content_unread_count = 0x3603;
inline constexpr std::uint32_t tag_subfolders = 0x360A;
inline constexpr std::uint32_t tag_container_class = 0x3613;
inline constexpr std::uint32_t tag_associated_content_count = 0x3617;
inline constexpr std::uint32_t tag_attach_data = 0x3701;
inline constexpr std::uint32_t tag_attach_filename = 0x3704;
inline constexpr std::uint32_t tag_attach_method = 0x3705;
inline constexpr std::uint32_t tag_attach_long_filename = 0x3707;
inline constexpr std::uint32_t tag_rendering_position = 0x370B;
inline constexpr std::uint32_t tag_attach_long_pathname = 0x370D;
inline constexpr std::uint32_t tag_attach_mime_tag = 0x370E;
inline constexpr std::uint32_t tag_attach_content_id = 0x3712;
inline constexpr std::uint32_t tag_display_type = 0x3900;
inline constexpr std::uint32_t tag_smtp_address = 0x39FE;
inline constexpr std::uint32_t tag_generation = 0x3A05;
inline constexpr std::uint32_t tag_given_name = 0x3A06;
inline constexpr std::uint32_t tag_surname = 0x3A11;
inline constexpr std::uint32_t tag_company_name = 0x3A16;
inline constexpr std::uint32_t tag_title = 0x3A17;
inline constexpr std::uint32_t tag_department_name = 0x3A18;
inline constexpr std::uint32_t tag_birthday = 0x3A42;
inline constexpr std::uint32_t tag_middle_name = 0x3A44;
inline constexpr std::uint32_t tag_display_name_prefix = 0x3A45;
inline constexpr std::uint32_t tag_nickname = 0x3A4F;
inline constexpr std::uint32_t tag_personal_home_page = 0x3A50;
inline constexpr std::uint32_t tag_business_home_page = 0x3A51;
inline constexpr std::uint32_t tag_internet_code_page = 0x3FDE;
inline constexpr std::uint32_t tag_message_codepage = 0x3FFD;
inline constexpr std::uint32_t tag_sender_smtp_address = 0x5D01;
inline constexpr std::uint32_t tag_sent_representing_smtp_address = 0x5D02;
inline constexpr std::uint32_t tag_recipient_display_name = 0x5FF6;
inline constexpr std::uint32_t tag_recipient_flags = 0x5FFD;
// The row identifier of a table row: the node identifier of the item it lists.
inline constexpr std::uint32_t tag_row_identifier = 0x67F2;
inline constexpr std::uint32_t tag_row_version = 0x67F3;
inline constexpr std::uint32_t tag_password = 0x67FF;

// Named properties (found through the file's name-to-identifier map).
inline constexpr std::uint32_t lid_file_under = 0x8005;
inline constexpr std::uint32_t lid_distribution_list_one_off_members = 0x8054;
inline constexpr std::uint32_t lid_birthday_local = 0x80DE;
inline constexpr std::uint32_t lid_task_status = 0x8101;
inline constexpr std::uint32_t lid_percent_complete = 0x8102;
inline constexpr std::uint32_t lid_task_start_date = 0x8104;
inline constexpr std::uint32_t lid_task_due_date = 0x8105;
inline constexpr std::uint32_t lid_task_date_completed = 0x810F;
inline constexpr std::uint32_t lid_task_actual_effort = 0x8110;
inline constexpr std::uint32_t lid_task_estimated_effort = 0x8111;
inline constexpr std::uint32_t lid_task_version = 0x8112;
inline constexpr std::uint32_t lid_task_recurrence = 0x8116;
inline constexpr std::uint32_t lid_task_complete = 0x811C;
inline constexpr std::uint32_t lid_busy_status = 0x8205;
inline constexpr std::uint32_t lid_location = 0x8208;
inline constexpr std::uint32_t lid_appointment_start_whole = 0x820D;
inline constexpr std::uint32_t lid_appointment_end_whole = 0x820E;
inline constexpr std::uint32_t lid_appointment_duration = 0x8213;
inline constexpr std::uint32_t lid_sub_type = 0x8215;
inline constexpr std::uint32_t lid_recur = 0x8216;
inline constexpr std::uint32_t lid_state_flags = 0x8217;
inline constexpr std::uint32_t lid_recurring = 0x8223;
inline constexpr std::uint32_t lid_recurrence_pattern = 0x8232;
inline constexpr std::uint32_t lid_time_zone_struct = 0x8233;
inline constexpr std::uint32_t lid_time_zone_description = 0x8234;
inline constexpr std::uint32_t lid_clip_start = 0x8235;
inline constexpr std::uint32_t lid_clip_end = 0x8236;
inline constexpr std::uint32_t lid_reminder_delta = 0x8501;
inline constexpr std::uint32_t lid_reminder_time = 0x8502;
inline constexpr std::uint32_t lid_reminder_set = 0x8503;
inline constexpr std::uint32_t lid_log_type = 0x8700;

// The name-to-identifier map's own properties; bucket i is the first bucket's
// identifier plus i.
inline constexpr std::uint32_t tag_nameid_bucket_count = 0x0001;
inline constexpr std::uint32_t tag_nameid_stream_guid = 0x0002;
inline constexpr std::uint32_t tag_nameid_stream_entry = 0x0003;
inline constexpr std::uint32_t tag_nameid_stream_string = 0x0004;
inline constexpr std::uint32_t tag_nameid_first_bucket = 0x1000;

// Named properties of the meeting property set.
inline constexpr std::uint32_t lid_global_object_id = 0x0003;
inline constexpr std::uint32_t lid_clean_global_object_id = 0x0023;

// MAPI value types (the low 16 bits of a full property tag).
inline constexpr std::uint32_t value_type_int32 = 0x0003;
inline constexpr std::uint32_t value_type_double = 0x0005;
inline constexpr std::uint32_t value_type_boolean = 0x000B;
inline constexpr std::uint32_t value_type_string8 = 0x001E;
inline constexpr std::uint32_t value_type_unicode = 0x001F;
inline constexpr std::uint32_t value_type_filetime = 0x0040;
inline constexpr std::uint32_t value_type_binary = 0x0102;
inline constexpr std::uint32_t value_type_mv_string8 = 0x101E;
inline constexpr std::uint32_t value_type_mv_unicode = 0x101F;
inline constexpr std::uint32_t value_type_mv_binary = 0x1102;

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
