// Reading one property of an item through libpff, from record set 0 without
// flags (strings through the message calls, which honour the message code
// page). Every reader answers 1 (read), 0 (absent) or -1 (error) and frees
// libpff's error itself: a damaged property is the caller's fallback case,
// never a reason to stop.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include <libpff.h>

#include "scan/names.h"

namespace korvel {

// The UTF-8 size of a string property, counting the terminating zero.
int read_utf8_size(libpff_item_t *item, std::uint32_t entry_type, std::size_t *size);

// The UTF-8 text of a string property into buffer[0, size).
int read_utf8(libpff_item_t *item, std::uint32_t entry_type, std::uint8_t *buffer,
              std::size_t size);

// The whole UTF-8 text of a string property (size query and read in one).
int read_utf8_string(libpff_item_t *item, std::uint32_t entry_type, std::string *text);

int read_int32(libpff_item_t *item, std::uint32_t entry_type, std::uint32_t *value);
// The code page of the item's 8-bit text: PidTagMessageCodepage, else
// PidTagInternetCodepage, else default_code_page (scan/code_page.h).
std::uint32_t read_code_page(libpff_item_t *item);
int read_filetime(libpff_item_t *item, std::uint32_t entry_type, std::uint64_t *value);
int read_boolean(libpff_item_t *item, std::uint32_t entry_type, bool *value);
int read_double(libpff_item_t *item, std::uint32_t entry_type, double *value);

// Frees an item; answers libpff's result (1, or -1).
int release_item(libpff_item_t **item);

// Owns a libpff item for a scope.
class item_holder
{
public:
    item_holder() = default;
    explicit item_holder(libpff_item_t *item) : m_item(item) {}
    ~item_holder() { release(); }
    item_holder(const item_holder &) = delete;
    item_holder &operator=(const item_holder &) = delete;

    libpff_item_t *get() const { return m_item; }
    libpff_item_t **out()
    {
        release();
        return &m_item;
    }
    // Frees the item now; answers 1, or -1 when libpff failed.
    int release() { return m_item != nullptr ? release_item(&m_item) : 1; }
    libpff_item_t *take()
    {
        libpff_item_t *item = m_item;
        m_item = nullptr;
        return item;
    }

private:
    libpff_item_t *m_item = nullptr;
};

// A libpff error slot that frees what it holds.
class error_slot
{
public:
    error_slot() = default;
    ~error_slot() { clear(); }
    error_slot(const error_slot &) = delete;
    error_slot &operator=(const error_slot &) = delete;

    libpff_error_t **get()
    {
        clear();
        return &m_error;
    }
    void clear()
    {
        if (m_error != nullptr) {
            libpff_error_free(&m_error);
        }
    }

private:
    libpff_error_t *m_error = nullptr;
};

// One entry of one of an item's record sets, the set and the entry freed with
// it: how the engine and the conversions find a stored value by its tag or
// name. Each find answers 1 (found), 0 (absent) or -1 (a libpff error, in
// *error when given); use one lookup for one find.
class record_entry_lookup
{
public:
    record_entry_lookup() = default;
    ~record_entry_lookup();
    record_entry_lookup(const record_entry_lookup &) = delete;
    record_entry_lookup &operator=(const record_entry_lookup &) = delete;

    // entry_type with value_type in record set set_index. flags as libpff's:
    // 0 asks for value_type exactly, LIBPFF_ENTRY_VALUE_FLAG_MATCH_ANY_VALUE_TYPE
    // for any (told by value_type() after); named properties go through the
    // name-to-identifier map.
    int find(libpff_item_t *item, int set_index, std::uint32_t entry_type, std::uint32_t value_type,
             std::uint8_t flags, libpff_error_t **error = nullptr);
    // A named property by its UTF-8 name, of any value type, in record set 0.
    int find_by_name(libpff_item_t *item, std::string_view name, libpff_error_t **error = nullptr);

    // The found entry's value type, or 0 when libpff cannot tell it.
    std::uint32_t value_type() const;
    libpff_record_entry_t *entry() const { return m_entry; }

private:
    int open_set(libpff_item_t *item, int set_index, libpff_error_t **error);

    libpff_record_set_t *m_set = nullptr;
    libpff_record_entry_t *m_entry = nullptr;
};

} // namespace korvel
