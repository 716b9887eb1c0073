// Reading the values of contacts, appointments and tasks through libpff for
// the vCard and iCalendar conversions: record set set_index (0 for the item
// itself, one set per row for a recipient table), no flags, named
// properties by their numeric id through the file's name-to-id map. Every
// reader answers 1 (read), 0 (absent) or -1 (damaged) and frees libpff's
// error itself. Text comes back as valid UTF-8: 8-bit values are taken as
// the platform's 8-bit code page (UTF-8, else Windows-1252 byte by byte).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <libpff.h>

#include "format/multi_value.h"

namespace korvel::convert {

// Binary values longer than this are damage, not data.
inline constexpr std::size_t pim_binary_limit = 16 * 1024 * 1024;

// A string property (either string type) of the item's record set 0; 8-bit
// text decoded in the item's code page (see read_code_page).
int pim_read_text(libpff_item_t *item, std::uint32_t entry_type, std::string &text);
// PidTagSubject as people read it (without the stored prefix marker); empty
// when absent or unreadable.
std::string pim_read_subject(libpff_item_t *item);
// A string property (either string type) of record set set_index; 8-bit
// text in code_page, 0 for the item's own (rows of a recipient table and
// attachments take their message's).
int pim_read_text_in_set(libpff_item_t *item, int set_index, std::uint32_t entry_type,
                         std::string &text, std::uint32_t code_page = 0);
int pim_read_int32_in_set(libpff_item_t *item, int set_index, std::uint32_t entry_type,
                          std::uint32_t &value);
// A binary property (up to pim_binary_limit bytes).
int pim_read_binary(libpff_item_t *item, std::uint32_t entry_type, std::vector<std::uint8_t> &data);
// A multi-valued binary property.
int pim_read_binary_list(libpff_item_t *item, std::uint32_t entry_type,
                         std::vector<std::vector<std::uint8_t>> &values);
// A multi-valued string property named by a string (PidNameKeywords is
// "Keywords").
int pim_read_text_list_by_name(libpff_item_t *item, std::string_view name,
                               std::vector<std::string> &values);
// The plain-text body.
int pim_read_body(libpff_item_t *item, std::string &text);

// One row of an item's recipient table.
struct pim_recipient
{
    std::string name;
    // The SMTP address when the row has one (PidTagSmtpAddress, else
    // PidTagEmailAddress of an SMTP row); may be empty.
    std::string address;
    // PidTagRecipientType: 1 To, 2 Cc, 3 Bcc (high flag bits cleared).
    std::uint32_t type = 0;
    // PidTagRecipientFlags (0x0002: the meeting's organiser).
    std::uint32_t flags = 0;
};
int pim_read_recipients(libpff_item_t *item, std::vector<pim_recipient> &recipients);

// Splits the stored form of a variable-size multi-value.
using format::parse_multi_value;

// Bytes as valid UTF-8 (the platform's 8-bit rule), stopping at a zero.
std::string pim_8bit_to_utf8(std::string_view bytes);

// A one-off entry id (a distribution list member): its display name,
// address type and address. Returns false when the bytes are not one.
struct one_off_entry
{
    std::string name;
    std::string address_type;
    std::string address;
};
bool parse_one_off_entry_id(const std::vector<std::uint8_t> &bytes, one_off_entry &entry);

// Lowercase hexadecimal of bytes.
std::string hex_text(const std::vector<std::uint8_t> &bytes);

// True when text starts with prefix, compared without regard to ASCII case,
// and either ends there or goes on with a '.' (a sub-class).
bool message_class_is(std::string_view text, std::string_view prefix);

// The item's message class (PidTagMessageClass), "" when absent.
std::string pim_message_class(libpff_item_t *item);

} // namespace korvel::convert
