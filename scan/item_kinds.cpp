#include "scan/item_kinds.h"

#include <charconv>
#include <cstdio>
#include <mutex>
#include <string_view>

#include "scan/folder_messages.h"
#include "scan/item_export.h"
#include "scan/item_record.h"
#include "scan/pff_values.h"
#include "scan/scan_state.h"
#include "scan/target_path.h"
#include "scan/text.h"

namespace korvel {

const std::array<contact_property, contact_value_count> contact_properties = {{
    {0x8005, "PidLidFileUnder"},
    {0x3A06, "PidTagGivenName"},
    {0x3A11, "PidTagSurname"},
    {0x3A15, "PidTagPostalAddress"},
    {0x80D8, "PidLidFreeBusyLocation"},
    {0x8084, "PidLidEmail1OriginalDisplayName"},
    {0x8094, "PidLidEmail2OriginalDisplayName"},
    {0x80A3, "PidLidEmail3EmailAddress"},
    {0x8082, "PidLidEmail1AddressType"},
    {0x3A05, "PidTagGeneration"},
    {0x3A45, "PidTagDisplayNamePrefix"},
    {0x3A16, "PidTagCompanyName"},
    {0x3A17, "PidTagTitle"},
    {0x3A18, "PidTagDepartmentName"},
    {0x3A19, "PidTagOfficeLocation"},
    {0x3A08, "PidTagBusinessTelephoneNumber"},
    {0x3A1C, "PidTagMobileTelephoneNumber"},
    {0x3A1D, "PidTagRadioTelephoneNumber"},
    {0x3A1E, "PidTagCarTelephoneNumber"},
    {0x3A24, "PidTagBusinessFaxNumber"},
    {0x3A25, "PidTagHomeFaxNumber"},
    {0x3A2C, "PidTagTelexNumber"},
    {0x3A2D, "PidTagIsdnNumber"},
    {0x3A09, "PidTagHomeTelephoneNumber"},
    {0x3A2F, "PidTagHome2TelephoneNumber"},
    {0x3A4A, "PidTagCustomerId"},
    {0x3A43, "PidTagHobbies"},
    {0x3A5D, "PidTagHomeAddressStreet"},
    {0x3A44, "PidTagMiddleName"},
    {0x002F, "Languages"},
    {0x3A2E, "PidTagAssistantTelephoneNumber"},
    {0x3A30, "PidTagAssistant"},
    {0x3A46, "PidTagProfession"},
    {0x3A48, "PidTagSpouseName"},
    {0x3A57, "PidTagCompanyMainTelephoneNumber"},
    {0x3A59, "PidTagHomeAddressCity"},
    {0x3A42, "PidTagBirthday"},
    {0x3A4E, "PidTagManagerName"},
    {0x3A4F, "PidTagNickname"},
    {0x3A50, "PidTagPersonalHomePage"},
    {0x3A51, "PidTagBusinessHomePage"},
    {0x3A5A, "PidTagHomeAddressCountry"},
    {0x3A5B, "PidTagHomeAddressPostalCode"},
    {0x3A5C, "PidTagHomeAddressStateOrProvince"},
    {0x3A5D, "PidTagHomeAddressStreet.2"},
    {0x3A5F, "PidTagOtherAddressCity"},
    {0x3A60, "PidTagOtherAddressCountry"},
    {0x3A62, "PidTagOtherAddressStateOrProvince"},
    {0x3A63, "PidTagOtherAddressStreet"},
    {0x3A02, "PidTagCallbackTelephoneNumber"},
    {0x3A4B, "PidTagTelecommunicationsDeviceForDeafTelephoneNumber"},
    {0x3A07, "PidTagGovernmentIdNumber"},
    {0x3A13, "Property3A13"},
    {0x3A1C, "PidTagMobileTelephoneNumber.2"},
    {0x3A26, "PidTagCountry"},
    {0x3A29, "PidTagStreetAddress"},
    {0x3A28, "PidTagStateOrProvince"},
    {0x3A2A, "PidTagPostalCode"},
    {0x3A27, "PidTagLocality"},
    {0x8049, "PidLidWorkAddressCountry"},
    {0x8045, "PidLidWorkAddressStreet"},
    {0x8046, "PidLidWorkAddressCity"},
    {0x8047, "PidLidWorkAddressState"},
    {0x8048, "PidLidWorkAddressPostalCode"},
    {0x804A, "PidLidWorkAddressPostOfficeBox"},
}};

namespace {

// The export format handed on to the folder export.
constexpr std::uint8_t folder_export_format = 'a';

bool arguments_present(const export_handle_t *export_handle, const libpff_item_t *item,
                       const char16_t *export_path)
{
    return export_handle != nullptr && item != nullptr && export_path != nullptr;
}

// A string property as text in the 8-bit code page, or absent.
std::optional<std::u16string> read_text(libpff_item_t *item, std::uint32_t entry_type)
{
    std::string utf8;
    if (read_utf8_string(item, entry_type, &utf8) != 1) {
        return std::nullopt;
    }
    return decode_8bit(utf8);
}

// A FILETIME property as date text, or absent.
std::optional<std::u16string> read_date(libpff_item_t *item, std::uint32_t entry_type)
{
    std::uint64_t filetime = 0;
    if (read_filetime(item, entry_type, &filetime) != 1) {
        return std::nullopt;
    }
    return filetime_date_text(filetime);
}

std::u16string ascii_text(std::string_view text)
{
    return std::u16string(text.begin(), text.end());
}

std::u16string decimal_text(std::uint32_t value)
{
    return ascii_text(std::to_string(value));
}

std::u16string hexadecimal_text(std::uint32_t value)
{
    char buffer[16];
    auto [end, code] = std::to_chars(buffer, buffer + sizeof buffer, value, 16);
    (void)code;
    return ascii_text(std::string_view(buffer, static_cast<std::size_t>(end - buffer)));
}

// Two decimals, whatever the process locale says about the decimal mark.
std::u16string two_decimals_text(double value)
{
    char buffer[400];
    auto [end, code] =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 2);
    if (code != std::errc{}) {
        return {};
    }
    return ascii_text(std::string_view(buffer, static_cast<std::size_t>(end - buffer)));
}

// Body export with the result looked at by nobody, and its error dropped.
void export_body(export_handle_t *export_handle, libpff_item_t *item, const char16_t *export_path,
                 std::size_t export_path_length, log_handle_t *log_handle)
{
    error_slot error;
    export_handle_export_message_body(export_handle, item, export_path, export_path_length,
                                      log_handle, error.get());
}

void export_recipients(export_handle_t *export_handle, libpff_item_t *item,
                       const char16_t *export_path, std::size_t export_path_length,
                       log_handle_t *log_handle)
{
    error_slot error;
    export_handle_export_recipients(export_handle, item, export_path, export_path_length,
                                    log_handle, error.get());
}

// Attachments go below the temporary directory, into its "Attachments".
void export_attachments(export_handle_t *export_handle, libpff_item_t *item,
                        log_handle_t *log_handle)
{
    std::u16string directory;
    if (!message_values_attachment_parent(&export_message_values(), &directory)) {
        return;
    }
    error_slot error;
    export_handle_export_attachments(export_handle, item, directory.c_str(), directory.size(),
                                     log_handle, error.get());
}

int export_body_only(export_handle_t *export_handle, libpff_item_t *item,
                     const char16_t *export_path, std::size_t export_path_length,
                     log_handle_t *log_handle)
{
    if (!arguments_present(export_handle, item, export_path)) {
        return -1;
    }
    export_body(export_handle, item, export_path, export_path_length, log_handle);
    return 1;
}

} // namespace

int contact_value_index(std::uint32_t tag)
{
    for (std::size_t index = 0; index < contact_properties.size(); ++index) {
        if (contact_properties[index].tag == tag) {
            return static_cast<int>(index);
        }
    }
    return -1;
}

kind_values &export_kind_values()
{
    static kind_values values;
    return values;
}

void kind_values_clear(kind_values *values)
{
    if (values != nullptr) {
        *values = kind_values{};
    }
}

std::u16string task_status_text(std::uint32_t status)
{
    return status < task_status_words.size() ? task_status_words[status] : std::u16string();
}

int export_handle_export_item(export_handle_t *export_handle, libpff_item_t *item, int item_index,
                              int number_of_items, const char16_t *export_path,
                              std::size_t export_path_length, log_handle_t *log_handle,
                              libpff_error_t **error)
{
    (void)number_of_items;
    if (!arguments_present(export_handle, item, export_path)) {
        return -1;
    }
    std::uint8_t type = 0;
    if (export_handle_name_kind(export_handle, item, &type) == nullptr) {
        return 1;
    }
    item_exporter *export_kind = nullptr;
    switch (type) {
    case item_type_activity:
        export_kind = export_handle_export_activity;
        break;
    case item_type_appointment:
        export_kind = export_handle_export_appointment;
        break;
    case item_type_contact:
        export_kind = export_handle_export_contact;
        break;
    case item_type_document:
        export_kind = export_handle_export_document;
        break;
    case item_type_email:
    case item_type_email_smime:
        export_kind = export_handle_export_email;
        break;
    case item_type_folder: {
        error_slot folder_error;
        export_handle_export_folder(export_handle, item, item_index, export_path,
                                    export_path_length + 1, folder_export_format, log_handle,
                                    folder_error.get());
        return 1;
    }
    case item_type_meeting:
        export_kind = export_handle_export_meeting;
        break;
    case item_type_note:
        export_kind = export_handle_export_note;
        break;
    case item_type_rss_feed:
        export_kind = export_handle_export_rss_feed;
        break;
    case item_type_task:
        export_kind = export_handle_export_task;
        break;
    default:
        return 1;
    }
    export_kind(export_handle, item, export_path, export_path_length, log_handle, error);
    export_handle_clear_error(error);
    return 1;
}

int export_record_item(scan_state *state, const item_record *record)
{
    if (state == nullptr || record == nullptr ||
        (record->parent == nullptr && record->source == recovered_source::none) ||
        state->export_handle == nullptr) {
        return -1;
    }
    std::lock_guard<std::recursive_mutex> lock(state->mailbox_mutex);
    item_holder item;
    // A recovered item is the list's own (borrowed), found by its position.
    libpff_item_t *recovered = recovered_items_get(&state->recovered, record->source,
                                                   static_cast<std::size_t>(record->index));
    if (record->source != recovered_source::none && recovered == nullptr) {
        return -1;
    }
    if (recovered == nullptr) {
        // Items lying directly in the root folder were listed among its
        // sub-items (folders included) during the scan: their index counts
        // those, not the root's messages.
        error_slot error;
        const int result =
            record->parent == state->root_folder
                ? libpff_item_get_sub_item(record->parent, record->index, item.out(), error.get())
                : export_handle_fetch_listed_message(record->parent, record->index, item.out(),
                                                     error.get());
        if (result != 1 || item.get() == nullptr) {
            return -1;
        }
    }
    // The dispatcher may add a record (an embedded message): keep the path.
    const std::u16string path = record->path;
    error_slot error;
    export_handle_export_item(state->export_handle, recovered != nullptr ? recovered : item.get(),
                              record->index, 10, path.c_str(),
                              path.size(), state->log_handle, error.get());
    return 1;
}

int export_handle_export_email(export_handle_t *export_handle, libpff_item_t *item,
                               const char16_t *export_path, std::size_t export_path_length,
                               log_handle_t *log_handle, libpff_error_t **error)
{
    (void)error;
    if (!arguments_present(export_handle, item, export_path)) {
        return -1;
    }
    export_recipients(export_handle, item, export_path, export_path_length, log_handle);
    export_body(export_handle, item, export_path, export_path_length, log_handle);
    export_attachments(export_handle, item, log_handle);
    return 1;
}

int export_handle_export_appointment(export_handle_t *export_handle, libpff_item_t *item,
                                     const char16_t *export_path, std::size_t export_path_length,
                                     log_handle_t *log_handle, libpff_error_t **error)
{
    (void)error;
    if (!arguments_present(export_handle, item, export_path)) {
        return -1;
    }
    appointment_values &values = export_kind_values().appointment;
    values = appointment_values{};
    export_attachments(export_handle, item, log_handle);
    export_body(export_handle, item, export_path, export_path_length, log_handle);

    values.start = read_date(item, lid_appointment_start_whole);
    values.end = read_date(item, lid_appointment_end_whole);
    std::uint32_t number = 0;
    if (read_int32(item, lid_appointment_duration, &number) == 1) {
        values.duration = decimal_text(number);
    }
    values.location = read_text(item, lid_location);
    values.recurrence_pattern = read_text(item, lid_recurrence_pattern);
    values.clip_start = read_date(item, lid_clip_start);
    values.clip_end = read_date(item, lid_clip_end);
    if (read_int32(item, lid_busy_status, &number) == 1) {
        values.busy_status = hexadecimal_text(number);
    }
    return 1;
}

int export_handle_export_contact(export_handle_t *export_handle, libpff_item_t *item,
                                 const char16_t *export_path, std::size_t export_path_length,
                                 log_handle_t *log_handle, libpff_error_t **error)
{
    (void)error;
    if (!arguments_present(export_handle, item, export_path)) {
        return -1;
    }
    contact_values &values = export_kind_values().contact;
    values = contact_values{};
    export_recipients(export_handle, item, export_path, export_path_length, log_handle);
    for (std::size_t index = 0; index < contact_properties.size(); ++index) {
        values.values[index] = read_text(item, contact_properties[index].tag);
    }
    export_body(export_handle, item, export_path, export_path_length, log_handle);
    return 1;
}

int export_handle_export_task(export_handle_t *export_handle, libpff_item_t *item,
                              const char16_t *export_path, std::size_t export_path_length,
                              log_handle_t *log_handle, libpff_error_t **error)
{
    (void)error;
    if (!arguments_present(export_handle, item, export_path)) {
        return -1;
    }
    task_values &values = export_kind_values().task;
    values = task_values{};

    values.start_date = read_date(item, lid_task_start_date);
    values.due_date = read_date(item, lid_task_due_date);
    std::uint32_t number = 0;
    if (read_int32(item, lid_task_status, &number) == 1) {
        values.status = task_status_text(number);
    }
    double fraction = 0.0;
    if (read_double(item, lid_percent_complete, &fraction) == 1) {
        values.percent_complete = two_decimals_text(fraction);
    }
    if (read_int32(item, lid_task_actual_effort, &number) == 1) {
        values.actual_effort = hexadecimal_text(number);
    }
    if (read_int32(item, lid_task_estimated_effort, &number) == 1) {
        values.total_effort = hexadecimal_text(number);
    }
    bool complete = false;
    if (read_boolean(item, lid_task_complete, &complete) == 1) {
        values.complete = complete ? u"yes" : u"no";
    }
    if (read_int32(item, lid_task_version, &number) == 1) {
        values.version = hexadecimal_text(number);
    }
    export_body(export_handle, item, export_path, export_path_length, log_handle);
    return 1;
}

int export_handle_export_activity(export_handle_t *export_handle, libpff_item_t *item,
                                  const char16_t *export_path, std::size_t export_path_length,
                                  log_handle_t *log_handle, libpff_error_t **error)
{
    (void)error;
    return export_body_only(export_handle, item, export_path, export_path_length, log_handle);
}

int export_handle_export_document(export_handle_t *export_handle, libpff_item_t *item,
                                  const char16_t *export_path, std::size_t export_path_length,
                                  log_handle_t *log_handle, libpff_error_t **error)
{
    (void)error;
    return export_body_only(export_handle, item, export_path, export_path_length, log_handle);
}

int export_handle_export_meeting(export_handle_t *export_handle, libpff_item_t *item,
                                 const char16_t *export_path, std::size_t export_path_length,
                                 log_handle_t *log_handle, libpff_error_t **error)
{
    (void)error;
    return export_body_only(export_handle, item, export_path, export_path_length, log_handle);
}

int export_handle_export_note(export_handle_t *export_handle, libpff_item_t *item,
                              const char16_t *export_path, std::size_t export_path_length,
                              log_handle_t *log_handle, libpff_error_t **error)
{
    (void)error;
    return export_body_only(export_handle, item, export_path, export_path_length, log_handle);
}

int export_handle_export_rss_feed(export_handle_t *export_handle, libpff_item_t *item,
                                  const char16_t *export_path, std::size_t export_path_length,
                                  log_handle_t *log_handle, libpff_error_t **error)
{
    (void)error;
    return export_body_only(export_handle, item, export_path, export_path_length, log_handle);
}

} // namespace korvel
