// The preview-time dispatcher and the per-kind exporters: each re-reads what
// the preview page of its kind shows and leaves it in the value holders (the
// message holders of item_export.h and the contact, appointment and task
// holders here). Nothing here writes a file except through the attachments
// export.
//
// Everything here runs on the window thread during a preview, with the
// caller holding the session's mailbox lock.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include <libpff.h>

#include "scan/export_handle.h"
#include "scan/log_handle.h"
#include "scan/names.h"

namespace korvel {

struct item_record;
struct scan_state;

// One contact value: where it is read from and what the probe calls it.
struct contact_property
{
    // The MAPI property tag, or the named-property identifier (0x8000 and
    // above) resolved through the file's name-to-identifier map.
    std::uint32_t tag;
    // A short readable name (unique: a property read twice carries ".2").
    const char *name;
};

inline constexpr std::size_t contact_value_count = 65;

// The contact values in read order; a property listed twice fills two
// holders with the same text.
extern const std::array<contact_property, contact_value_count> contact_properties;

// The holder index of the first contact value read from tag, or -1.
int contact_value_index(std::uint32_t tag);

// The contact value holders, one per row of contact_properties; absent when
// the property is.
struct contact_values
{
    // Indexed like contact_properties.
    std::array<std::optional<std::u16string>, contact_value_count> values;
};

// The appointment value holders; all absent at the start of every
// appointment export.
struct appointment_values
{
    // PidLidAppointmentStartWhole as date text.
    std::optional<std::u16string> start;
    // PidLidAppointmentEndWhole as date text.
    std::optional<std::u16string> end;
    // PidLidAppointmentDuration in unsigned decimal.
    std::optional<std::u16string> duration;
    // PidLidLocation.
    std::optional<std::u16string> location;
    // PidLidRecurrencePattern.
    std::optional<std::u16string> recurrence_pattern;
    // PidLidClipStart as date text.
    std::optional<std::u16string> clip_start;
    // PidLidClipEnd as date text.
    std::optional<std::u16string> clip_end;
    // PidLidBusyStatus in lowercase hexadecimal.
    std::optional<std::u16string> busy_status;
};

// The task value holders. The start and due dates are absent and the other
// six empty at the start of every task export.
struct task_values
{
    // PidLidTaskStartDate as date text.
    std::optional<std::u16string> start_date;
    // PidLidTaskDueDate as date text.
    std::optional<std::u16string> due_date;
    // PidLidTaskStatus as a status word; empty for an unknown status.
    std::u16string status;
    // PidLidPercentComplete with two decimals (a fraction: half done is 0.50).
    std::u16string percent_complete;
    // PidLidTaskActualEffort in lowercase hexadecimal.
    std::u16string actual_effort;
    // PidLidTaskEstimatedEffort in lowercase hexadecimal.
    std::u16string total_effort;
    // PidLidTaskComplete: "yes" or "no".
    std::u16string complete;
    // PidLidTaskVersion in lowercase hexadecimal.
    std::u16string version;
};

// The per-kind value holders; each kind's export rewrites only its own.
struct kind_values
{
    // The contact holders.
    contact_values contact;
    // The appointment holders.
    appointment_values appointment;
    // The task holders.
    task_values task;
};

// The process-wide per-kind value holders.
kind_values &export_kind_values();

// Puts every per-kind holder back to its start-of-run state.
void kind_values_clear(kind_values *values);

// The status word of a PidLidTaskStatus value; empty for an unknown one.
std::u16string task_status_text(std::uint32_t status);

// The preview-time dispatcher: sets the session's kind name by the item's type
// and runs that kind's exporter (folders go to the folder export). An item of
// an unlisted type is left alone. export_path_length does not count the
// terminating zero.
// Returns -1 when the handle, the item or the path is missing, 1 otherwise
// (also when the type cannot be read; the exporter's result is not looked at).
int export_handle_export_item(export_handle_t *export_handle, libpff_item_t *item, int item_index,
                              int number_of_items, const char16_t *export_path,
                              std::size_t export_path_length, log_handle_t *log_handle,
                              libpff_error_t **error);

// Re-opens the item of record (the message at its index in its parent
// folder) and runs the preview-time dispatcher on it, with the record's path
// and the item count the preview passes (10). Holds the session's mailbox
// lock meanwhile. The value holders are not reset here: the preview does
// that first.
// Returns 1 when the item was exported, -1 when it could not be re-opened or
// an argument is missing.
int export_record_item(scan_state *state, const item_record *record);

// The per-kind exporters, which export_handle_export_item chooses by the
// item's type. Each takes the record's walk path (its length not counting the
// terminating zero) and returns 1, or -1 when the handle, the item or the
// path is missing.
using item_exporter = int(export_handle_t *export_handle, libpff_item_t *item,
                          const char16_t *export_path, std::size_t export_path_length,
                          log_handle_t *log_handle, libpff_error_t **error);

// Recipients, body, then attachments into the attachment directory.
item_exporter export_handle_export_email;

// Clears the appointment holders; attachments, body, then the appointment
// values.
item_exporter export_handle_export_appointment;

// Clears the contact holders; recipients (which empties To, CC and BCC),
// the contact values, then the body.
item_exporter export_handle_export_contact;

// Resets the task holders; the task values, then the body.
item_exporter export_handle_export_task;

// The body-only kinds.
item_exporter export_handle_export_activity;
item_exporter export_handle_export_document;
item_exporter export_handle_export_meeting;
item_exporter export_handle_export_note;
item_exporter export_handle_export_rss_feed;

} // namespace korvel
