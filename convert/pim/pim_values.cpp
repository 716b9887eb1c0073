#include "convert/pim/pim_values.h"

#include <new>

#include "scan/code_page.h"
#include "scan/names.h"
#include "scan/pff_values.h"
#include "scan/text.h"

namespace korvel::convert {

namespace {

// The stored bytes of an entry (up to limit).
int entry_bytes(libpff_record_entry_t *entry, std::vector<std::uint8_t> &data,
                std::size_t limit = pim_binary_limit)
{
    data.clear();
    error_slot error;
    std::size_t size = 0;
    if (libpff_record_entry_get_data_size(entry, &size, error.get()) != 1 || size > limit) {
        return -1;
    }
    if (size == 0) {
        return 1;
    }
    try {
        data.resize(size);
    } catch (const std::bad_alloc &) {
        return -1;
    }
    if (libpff_record_entry_get_data(entry, data.data(), data.size(), error.get()) != 1) {
        data.clear();
        return -1;
    }
    return 1;
}

// UTF-16LE bytes up to the first zero unit as UTF-8 (a lone surrogate
// becomes U+FFFD).
std::string utf16le_to_utf8(const std::vector<std::uint8_t> &bytes)
{
    return korvel::utf16le_to_utf8(bytes.data(), bytes.size());
}

// 8-bit text in the code page as UTF-8, up to the first zero.
std::string decode_8bit_text(const std::vector<std::uint8_t> &bytes, std::uint32_t code_page)
{
    // One decoder per thread keeps its iconv handles for the walk.
    thread_local code_page_decoder decoder;
    std::size_t length = 0;
    while (length < bytes.size() && bytes[length] != 0) {
        ++length;
    }
    return decoder.decode_utf8(std::span<const std::uint8_t>(bytes.data(), length), code_page);
}

// The text of a string entry as valid UTF-8. Both kinds are decoded here
// from their stored bytes: libpff 20180714 turns Unicode characters beyond
// the first 65536 (emoji, say) into other ones, and decodes 8-bit text in the
// file's code page, not in the code page of the item it belongs to.
int entry_text(libpff_record_entry_t *entry, std::uint32_t value_type, std::string &text,
               std::uint32_t code_page, std::size_t limit = pim_binary_limit)
{
    text.clear();
    std::vector<std::uint8_t> bytes;
    if (entry_bytes(entry, bytes, limit) != 1) {
        return -1;
    }
    text = value_type == value_type_unicode ? utf16le_to_utf8(bytes)
                                            : decode_8bit_text(bytes, code_page);
    return 1;
}

// Bodies may be larger than any other value.
constexpr std::size_t body_limit = 256 * 1024 * 1024;

int read_text_in_set(libpff_item_t *item, int set_index, std::uint32_t entry_type,
                     std::string &text, std::uint32_t code_page, std::size_t limit)
{
    text.clear();
    record_entry_lookup holder;
    const int result =
        holder.find(item, set_index, entry_type, 0, LIBPFF_ENTRY_VALUE_FLAG_MATCH_ANY_VALUE_TYPE);
    if (result != 1) {
        return result;
    }
    const std::uint32_t type = holder.value_type();
    if (type != value_type_string8 && type != value_type_unicode) {
        return 0;
    }
    if (type == value_type_string8 && code_page == 0) {
        code_page = read_code_page(item);
    }
    return entry_text(holder.entry(), type, text, code_page, limit);
}

} // namespace

std::string pim_8bit_to_utf8(std::string_view bytes)
{
    return utf16_to_utf8(decode_8bit(bytes));
}

int pim_read_text_in_set(libpff_item_t *item, int set_index, std::uint32_t entry_type,
                         std::string &text, std::uint32_t code_page)
{
    return read_text_in_set(item, set_index, entry_type, text, code_page, pim_binary_limit);
}

int pim_read_text(libpff_item_t *item, std::uint32_t entry_type, std::string &text)
{
    return pim_read_text_in_set(item, 0, entry_type, text);
}

std::string pim_read_subject(libpff_item_t *item)
{
    std::string subject;
    if (pim_read_text(item, tag_subject, subject) != 1) {
        return {};
    }
    return subject_without_marker(subject);
}

int pim_read_int32_in_set(libpff_item_t *item, int set_index, std::uint32_t entry_type,
                          std::uint32_t &value)
{
    record_entry_lookup holder;
    const int result = holder.find(item, set_index, entry_type, value_type_int32, 0);
    if (result != 1) {
        return result;
    }
    error_slot error;
    return libpff_record_entry_get_data_as_32bit_integer(holder.entry(), &value, error.get()) == 1
               ? 1
               : -1;
}

int pim_read_binary(libpff_item_t *item, std::uint32_t entry_type, std::vector<std::uint8_t> &data)
{
    data.clear();
    record_entry_lookup holder;
    const int result = holder.find(item, 0, entry_type, value_type_binary, 0);
    if (result != 1) {
        return result;
    }
    return entry_bytes(holder.entry(), data);
}

// libpff's own multi-value reader answers no values for these (and
// clears the count in its copy of the data): the stored bytes are read
// and split here instead.
int pim_read_binary_list(libpff_item_t *item, std::uint32_t entry_type,
                         std::vector<std::vector<std::uint8_t>> &values)
{
    values.clear();
    record_entry_lookup holder;
    const int result = holder.find(item, 0, entry_type, value_type_mv_binary, 0);
    if (result != 1) {
        return result;
    }
    std::vector<std::uint8_t> data;
    if (entry_bytes(holder.entry(), data) != 1 || !parse_multi_value(data, values)) {
        return -1;
    }
    return 1;
}

int pim_read_text_list_by_name(libpff_item_t *item, std::string_view name,
                               std::vector<std::string> &values)
{
    values.clear();
    record_entry_lookup holder;
    const int result = holder.find_by_name(item, name);
    if (result != 1) {
        return result;
    }
    const std::uint32_t type = holder.value_type();
    if (type != value_type_mv_unicode && type != value_type_mv_string8) {
        return 0;
    }
    std::vector<std::uint8_t> data;
    std::vector<std::vector<std::uint8_t>> items;
    if (entry_bytes(holder.entry(), data) != 1 || !parse_multi_value(data, items)) {
        return -1;
    }
    const std::uint32_t code_page =
        type == value_type_mv_string8 ? read_code_page(item) : default_code_page;
    for (const auto &bytes : items) {
        if (type == value_type_mv_string8) {
            values.push_back(decode_8bit_text(bytes, code_page));
            continue;
        }
        values.push_back(utf16le_to_utf8(bytes));
    }
    return 1;
}

int pim_read_body(libpff_item_t *item, std::string &text)
{
    // PidTagBody, read as every other text (see entry_text).
    return read_text_in_set(item, 0, 0x1000, text, 0, body_limit);
}

int pim_read_recipients(libpff_item_t *item, std::vector<pim_recipient> &recipients)
{
    recipients.clear();
    if (item == nullptr) {
        return -1;
    }
    item_holder table;
    error_slot error;
    const int result = libpff_message_get_recipients(item, table.out(), error.get());
    if (result == 0 || (result == 1 && table.get() == nullptr)) {
        return 0;
    }
    if (result != 1) {
        return -1;
    }
    int count = 0;
    if (libpff_item_get_number_of_record_sets(table.get(), &count, error.get()) != 1) {
        return -1;
    }
    // The rows' 8-bit text is in their message's code page.
    const std::uint32_t code_page = read_code_page(item);
    for (int index = 0; index < count; ++index) {
        pim_recipient recipient;
        pim_read_text_in_set(table.get(), index, tag_display_name, recipient.name, code_page);
        std::uint32_t type = 0;
        if (pim_read_int32_in_set(table.get(), index, tag_recipient_type, type) == 1) {
            // The high bit marks a row already answered; the kind is below.
            recipient.type = type & 0x0F;
        }
        if (pim_read_int32_in_set(table.get(), index, tag_recipient_flags, type) == 1) {
            recipient.flags = type;
        }
        std::string smtp;
        if (pim_read_text_in_set(table.get(), index, tag_smtp_address, smtp, code_page) == 1 &&
            !smtp.empty()) {
            recipient.address = smtp;
        } else {
            std::string address_type;
            std::string address;
            pim_read_text_in_set(table.get(), index, tag_address_type, address_type, code_page);
            if (pim_read_text_in_set(table.get(), index, tag_email_address, address, code_page) ==
                    1 &&
                (address_type.empty() || message_class_is(address_type, "SMTP")) &&
                address.find('@') != std::string::npos) {
                recipient.address = address;
            }
        }
        recipients.push_back(std::move(recipient));
    }
    return 1;
}

bool parse_one_off_entry_id(const std::vector<std::uint8_t> &bytes, one_off_entry &entry)
{
    static const std::uint8_t one_off_provider[16] = {0x81, 0x2B, 0x1F, 0xA4, 0xBE, 0xA3,
                                                      0x10, 0x19, 0x9D, 0x6E, 0x00, 0xDD,
                                                      0x01, 0x0F, 0x54, 0x02};
    entry = one_off_entry{};
    // Flags (4), provider (16), version (2), flags (2), then three strings.
    if (bytes.size() < 24) {
        return false;
    }
    for (std::size_t index = 0; index < 16; ++index) {
        if (bytes[4 + index] != one_off_provider[index]) {
            return false;
        }
    }
    const unsigned flags = static_cast<unsigned>(bytes[22] | (bytes[23] << 8));
    const bool unicode = (flags & 0x8000U) != 0;
    std::size_t at = 24;
    auto next = [&](std::string &value) {
        if (unicode) {
            std::u16string text;
            while (at + 1 < bytes.size()) {
                const auto unit = static_cast<char16_t>(bytes[at] | (bytes[at + 1] << 8));
                at += 2;
                if (unit == 0) {
                    value = utf16_to_utf8(text);
                    return true;
                }
                text.push_back(unit);
            }
            return false;
        }
        const std::size_t start = at;
        while (at < bytes.size()) {
            if (bytes[at++] == 0) {
                value = pim_8bit_to_utf8(std::string_view(
                    reinterpret_cast<const char *>(bytes.data() + start), at - 1 - start));
                return true;
            }
        }
        return false;
    };
    return next(entry.name) && next(entry.address_type) && next(entry.address);
}

std::string hex_text(const std::vector<std::uint8_t> &bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (std::uint8_t byte : bytes) {
        out += digits[byte >> 4];
        out += digits[byte & 0x0F];
    }
    return out;
}

bool message_class_is(std::string_view text, std::string_view prefix)
{
    if (text.size() < prefix.size()) {
        return false;
    }
    for (std::size_t index = 0; index < prefix.size(); ++index) {
        auto lower = [](char c) {
            return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
        };
        if (lower(text[index]) != lower(prefix[index])) {
            return false;
        }
    }
    return text.size() == prefix.size() || text[prefix.size()] == '.';
}

std::string pim_message_class(libpff_item_t *item)
{
    std::string text;
    if (pim_read_text(item, tag_message_class, text) != 1) {
        text.clear();
    }
    return text;
}

} // namespace korvel::convert
