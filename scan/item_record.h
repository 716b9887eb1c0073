// The item records: one per listed item of the selected folder, found again by
// its sequence number, and the header extraction that makes them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <libpff.h>

#include "scan/export_handle.h"
#include "scan/recovered_items.h"

namespace korvel {

// libpff item types the engine tells apart.
enum item_type : std::uint8_t
{
    item_type_activity = 1,
    item_type_appointment = 2,
    item_type_contact = 8,
    item_type_document = 10,
    item_type_email = 11,
    item_type_email_smime = 12,
    item_type_folder = 14,
    item_type_meeting = 15,
    item_type_note = 17,
    item_type_rss_feed = 20,
    item_type_task = 26,
};

// How the folder-load dispatcher handles a kind.
enum class kind_handling
{
    record,  // a row and a record
    name,    // the kind name is set, nothing else
    folder,  // handed to the folder export
    nothing, // unlisted type: the kind name stays as it was
};

struct item_kind
{
    std::uint8_t type;
    const char16_t *name;
    kind_handling handling;
};

// The kinds table. Returns nullptr for an unlisted type.
const item_kind *item_kind_for_type(std::uint8_t type);

// Asks libpff for the item's type and, for a listed kind, makes its name the
// session's kind name. Returns the kind, or nullptr when libpff cannot tell
// the type or the type is unlisted (the kind name then stays as it was).
const item_kind *export_handle_name_kind(export_handle_t *export_handle, libpff_item_t *item,
                                         std::uint8_t *type);

struct item_record
{
    // The folder the item was listed from (not owned; kept by its folder node).
    libpff_item_t *parent;
    // The record sequence number, shown in list column 0.
    std::int32_t sequence;
    // The walk path after path cleaning.
    std::u16string path;
    // The kind name ("email", "contact", ...).
    std::u16string kind;
    // List column 2: sender, full name, entry type or subject by kind.
    std::u16string from;
    // List column 3: subject, company, location or task status by kind.
    std::u16string subject;
    // The delivery time as date text, or empty.
    std::u16string date;
    // "N  Bytes", absent when the message has no size.
    std::optional<std::u16string> size;
    // The flag word, absent when the message has no flags.
    std::optional<std::u16string> flags;
    std::u16string priority;
    std::u16string sensitivity;
    // Absent for an importance other than 0, 1 or 2.
    std::optional<std::u16string> importance;
    // The item's position among the messages of parent, or in its source's
    // list of recovered items.
    std::int32_t index;
    // none for a folder's item; else the recovered list that holds it (parent
    // is then nullptr).
    recovered_source source;
    item_record *next;
};

// The records made since the last folder selection, in the order made.
struct item_record_list
{
    item_record *head;
    // Appends link here, so a folder of any size lists in linear time.
    item_record *tail;
    std::size_t count;
};

// Appends record at the tail (a copy, or the record itself when moved).
// Returns 1, or -1 when memory ran out.
int item_record_list_append(item_record_list *list, const item_record &record);
int item_record_list_append(item_record_list *list, item_record &&record);

// Releases every record.
void item_record_list_free(item_record_list *list);

// The record with the given sequence number, or nullptr.
item_record *item_record_list_find(const item_record_list *list, std::int32_t sequence);

// Makes the row and the record of one listed item.
// Returns 1 when both were added, -1 when the handle is missing or a buffer
// could not be had (nothing is added then).
int export_handle_export_message_header(export_handle_t *export_handle, libpff_item_t *item,
                                        const char16_t *export_path, std::uint8_t item_type,
                                        int index, libpff_error_t **error);

// Removes ".export"-free walk paths' awkward characters (see the header
// extraction's path rule).
std::u16string sanitize_path_text(std::u16string_view path);

// Turns a subject's bytes into list text: drops control bytes, zero bytes and
// backslashes, decodes UTF-8 and widens any other byte as Latin-1.
// byte_count counts the terminating zero byte.
std::u16string sanitize_byte_text(const std::uint8_t *bytes, std::size_t byte_count);

} // namespace korvel
