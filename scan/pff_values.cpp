#include "scan/pff_values.h"

#include "scan/code_page.h"

#include <algorithm>
#include <vector>

namespace korvel {

namespace {

// The fixed-size value of entry_type, got with libpff's getter for its value
// type. Returns 1, 0 when the item has no such value, or -1.
template <typename Value, typename Getter>
int read_fixed(libpff_item_t *item, std::uint32_t entry_type, std::uint32_t value_type,
               Value *value, Getter get)
{
    if (item == nullptr || value == nullptr) {
        return -1;
    }
    record_entry_lookup holder;
    const int result = holder.find(item, 0, entry_type, value_type, 0);
    if (result != 1) {
        return result;
    }
    error_slot error;
    return get(holder.entry(), value, error.get()) == 1 ? 1 : -1;
}

// The 8-bit value of entry_type decoded as the default code page: what the
// text is when libpff cannot decode it in the code page the item names (one
// iconv does not know), so that it is never dropped. Returns 1, or 0 when
// there is no 8-bit value.
int read_8bit_as_default(libpff_item_t *item, std::uint32_t entry_type, std::string *text)
{
    record_entry_lookup holder;
    if (holder.find(item, 0, entry_type, 0x001E, 0) != 1) {
        return 0;
    }
    error_slot error;
    std::size_t size = 0;
    if (libpff_record_entry_get_data_size(holder.entry(), &size, error.get()) != 1 ||
        size > 0x7FFFFFFF) {
        return 0;
    }
    std::vector<std::uint8_t> bytes(size);
    if (size != 0 &&
        libpff_record_entry_get_data(holder.entry(), bytes.data(), size, error.get()) != 1) {
        return 0;
    }
    code_page_decoder decoder;
    std::size_t length = 0;
    while (length < bytes.size() && bytes[length] != 0) {
        ++length;
    }
    *text =
        decoder.decode_utf8(std::span<const std::uint8_t>(bytes.data(), length), default_code_page);
    return 1;
}

} // namespace

int read_utf8_size(libpff_item_t *item, std::uint32_t entry_type, std::size_t *size)
{
    if (item == nullptr || size == nullptr) {
        return -1;
    }
    error_slot error;
    int result =
        libpff_message_get_entry_value_utf8_string_size(item, entry_type, size, error.get());
    if (result == -1) {
        std::string text;
        if (read_8bit_as_default(item, entry_type, &text) == 1) {
            *size = text.size() + 1;
            return 1;
        }
    }
    return result == 1 ? 1 : (result == 0 ? 0 : -1);
}

int read_utf8(libpff_item_t *item, std::uint32_t entry_type, std::uint8_t *buffer, std::size_t size)
{
    if (item == nullptr || buffer == nullptr || size == 0) {
        return -1;
    }
    error_slot error;
    int result =
        libpff_message_get_entry_value_utf8_string(item, entry_type, buffer, size, error.get());
    std::string text;
    if (result == -1 && read_8bit_as_default(item, entry_type, &text) == 1) {
        // Whole characters only: the caller sized the buffer for all of it.
        const std::size_t length = std::min(text.size(), size - 1);
        std::copy(text.begin(), text.begin() + static_cast<long>(length), buffer);
        buffer[length] = 0;
        return 1;
    }
    if (result != 1) {
        buffer[0] = 0;
        return result == 0 ? 0 : -1;
    }
    // libpff terminates the text; make sure a damaged value cannot leave it open.
    buffer[size - 1] = 0;
    return 1;
}

int read_utf8_string(libpff_item_t *item, std::uint32_t entry_type, std::string *text)
{
    if (text == nullptr) {
        return -1;
    }
    text->clear();
    std::size_t size = 0;
    int result = read_utf8_size(item, entry_type, &size);
    if (result != 1) {
        return result;
    }
    if (size == 0) {
        return 1;
    }
    if (size > 0x7FFFFFFF) {
        return -1;
    }
    std::vector<std::uint8_t> buffer(size);
    result = read_utf8(item, entry_type, buffer.data(), buffer.size());
    if (result != 1) {
        return result;
    }
    std::size_t length = 0;
    while (length < buffer.size() && buffer[length] != 0) {
        ++length;
    }
    text->assign(reinterpret_cast<const char *>(buffer.data()), length);
    return 1;
}

int read_int32(libpff_item_t *item, std::uint32_t entry_type, std::uint32_t *value)
{
    return read_fixed(item, entry_type, value_type_int32, value,
                      libpff_record_entry_get_data_as_32bit_integer);
}

std::uint32_t read_code_page(libpff_item_t *item)
{
    for (std::uint32_t tag : {0x3FFDu, 0x3FDEu}) {
        std::uint32_t value = 0;
        if (read_int32(item, tag, &value) == 1 && value != 0) {
            return value;
        }
    }
    return default_code_page;
}

int read_filetime(libpff_item_t *item, std::uint32_t entry_type, std::uint64_t *value)
{
    return read_fixed(item, entry_type, value_type_filetime, value,
                      libpff_record_entry_get_data_as_filetime);
}

int read_boolean(libpff_item_t *item, std::uint32_t entry_type, bool *value)
{
    if (value == nullptr) {
        return -1;
    }
    std::uint8_t boolean = 0;
    const int result = read_fixed(item, entry_type, value_type_boolean, &boolean,
                                  libpff_record_entry_get_data_as_boolean);
    if (result == 1) {
        *value = boolean != 0;
    }
    return result;
}

int read_double(libpff_item_t *item, std::uint32_t entry_type, double *value)
{
    return read_fixed(item, entry_type, value_type_double, value,
                      libpff_record_entry_get_data_as_floating_point);
}

int release_item(libpff_item_t **item)
{
    error_slot error;
    return libpff_item_free(item, error.get()) == 1 ? 1 : -1;
}

record_entry_lookup::~record_entry_lookup()
{
    if (m_entry != nullptr) {
        libpff_record_entry_free(&m_entry, nullptr);
    }
    if (m_set != nullptr) {
        libpff_record_set_free(&m_set, nullptr);
    }
}

int record_entry_lookup::open_set(libpff_item_t *item, int set_index, libpff_error_t **error)
{
    if (item == nullptr || m_set != nullptr) {
        return -1;
    }
    return libpff_item_get_record_set_by_index(item, set_index, &m_set, error) == 1 ? 1 : -1;
}

int record_entry_lookup::find(libpff_item_t *item, int set_index, std::uint32_t entry_type,
                              std::uint32_t value_type, std::uint8_t flags, libpff_error_t **error)
{
    if (open_set(item, set_index, error) != 1) {
        return -1;
    }
    const int result =
        libpff_record_set_get_entry_by_type(m_set, entry_type, value_type, &m_entry, flags, error);
    if (result == 1 && m_entry != nullptr) {
        return 1;
    }
    return result == 0 ? 0 : -1;
}

int record_entry_lookup::find_by_name(libpff_item_t *item, std::string_view name,
                                      libpff_error_t **error)
{
    if (open_set(item, 0, error) != 1) {
        return -1;
    }
    const int result = libpff_record_set_get_entry_by_utf8_name(
        m_set, reinterpret_cast<const std::uint8_t *>(name.data()), name.size(), 0, &m_entry,
        LIBPFF_ENTRY_VALUE_FLAG_MATCH_ANY_VALUE_TYPE, error);
    if (result == 1 && m_entry != nullptr) {
        return 1;
    }
    return result == 0 ? 0 : -1;
}

std::uint32_t record_entry_lookup::value_type() const
{
    std::uint32_t type = 0;
    error_slot error;
    if (m_entry == nullptr ||
        libpff_record_entry_get_value_type(m_entry, &type, error.get()) != 1) {
        return 0;
    }
    return type;
}

} // namespace korvel
