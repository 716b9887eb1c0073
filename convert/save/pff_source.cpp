#include "convert/save/pff_source.h"


namespace korvel::convert {

namespace {

std::uint32_t read32(const std::uint8_t *p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

void append32(std::vector<std::uint8_t> &out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
}

std::span<const std::uint8_t> without_terminator(std::span<const std::uint8_t> bytes)
{
    if (!bytes.empty() && bytes.back() == 0) {
        return bytes.first(bytes.size() - 1);
    }
    return bytes;
}

} // namespace

std::vector<std::uint8_t> utf16_bytes(const std::u16string &text)
{
    std::vector<std::uint8_t> out;
    out.reserve(text.size() * 2);
    for (char16_t c : text) {
        out.push_back(static_cast<std::uint8_t>(c));
        out.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    return out;
}

std::uint32_t identifier_of(libpff_item_t *item)
{
    libpff_error_t *error = nullptr;
    std::uint32_t id = 0;
    if (libpff_item_get_identifier(item, &id, &error) != 1) {
        libpff_error_free(&error);
        return 0;
    }
    return id;
}

std::string pff_error_text(libpff_error_t *error)
{
    if (!error) {
        return {};
    }
    char buffer[1024] = {};
    libpff_error_sprint(error, buffer, sizeof buffer);
    std::string text(buffer);
    // "libpff_item_get_...: unable to read item values." reads better without the function.
    std::size_t colon = text.find(": ");
    if (text.rfind("lib", 0) == 0 && colon != std::string::npos && text.find(' ') == colon + 1) {
        text.erase(0, colon + 2);
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
    }
    return text;
}

namespace {

// The key of a named entry from its name-to-id map entry. Returns 1, or -1.
int named_key(libpff_name_to_id_map_entry_t *map_entry, property_key &key, std::string &why)
{
    libpff_error_t *error = nullptr;
    std::uint8_t kind = 0;
    guid set;
    if (libpff_name_to_id_map_entry_get_type(map_entry, &kind, &error) != 1 ||
        libpff_name_to_id_map_entry_get_guid(map_entry, set.bytes.data(), set.bytes.size(),
                                             &error) != 1) {
        why = pff_error_text(error);
        libpff_error_free(&error);
        return -1;
    }
    if (kind == LIBPFF_NAME_TO_ID_MAP_ENTRY_TYPE_STRING) {
        std::size_t size = 0;
        if (libpff_name_to_id_map_entry_get_utf16_string_size(map_entry, &size, &error) != 1 ||
            size == 0 || size > (1u << 20)) {
            why = error ? pff_error_text(error) : "bad name size";
            libpff_error_free(&error);
            return -1;
        }
        std::vector<std::uint16_t> name(size);
        if (libpff_name_to_id_map_entry_get_utf16_string(map_entry, name.data(), size, &error) !=
            1) {
            why = pff_error_text(error);
            libpff_error_free(&error);
            return -1;
        }
        while (!name.empty() && name.back() == 0) {
            name.pop_back();
        }
        key = property_key(set, std::u16string(name.begin(), name.end()));
        return 1;
    }
    std::uint32_t number = 0;
    if (libpff_name_to_id_map_entry_get_number(map_entry, &number, &error) != 1) {
        why = pff_error_text(error);
        libpff_error_free(&error);
        return -1;
    }
    key = property_key(set, number);
    return 1;
}

// Notes that none of the item's properties can be read, and frees the error.
// Returns -1.
int properties_unreadable(std::vector<source_problem> &problems, libpff_error_t **error)
{
    problems.push_back({"its properties cannot be read: " + pff_error_text(*error)});
    libpff_error_free(error);
    return -1;
}

std::string hex4(std::uint32_t v)
{
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%04X", v);
    return buffer;
}

} // namespace

int read_record_set(libpff_record_set_t *record_set,
                    bool (*skip)(std::uint16_t id, std::uint16_t type),
                    std::vector<source_entry> &entries, std::vector<source_problem> &problems)
{
    libpff_error_t *error = nullptr;
    int count = 0;
    if (libpff_record_set_get_number_of_entries(record_set, &count, &error) != 1) {
        return properties_unreadable(problems, &error);
    }
    for (int i = 0; i < count; ++i) {
        libpff_record_entry_t *entry = nullptr;
        if (libpff_record_set_get_entry_by_index(record_set, i, &entry, &error) != 1) {
            problems.push_back(
                {"property " + std::to_string(i) + " cannot be read: " + pff_error_text(error)});
            libpff_error_free(&error);
            continue;
        }
        std::uint32_t entry_type = 0;
        std::uint32_t value_type = 0;
        std::size_t size = 0;
        source_entry out{std::uint16_t{0}, 0, {}};
        std::string why;
        bool ok = libpff_record_entry_get_entry_type(entry, &entry_type, &error) == 1 &&
                  libpff_record_entry_get_value_type(entry, &value_type, &error) == 1;
        if (ok && entry_type > 0xFFFF) {
            ok = false;
            why = "bad property id";
        }
        if (ok && skip &&
            skip(static_cast<std::uint16_t>(entry_type), static_cast<std::uint16_t>(value_type))) {
            libpff_record_entry_free(&entry, nullptr);
            continue;
        }
        if (ok && entry_type >= 0x8000) {
            libpff_name_to_id_map_entry_t *map_entry = nullptr;
            int r = libpff_record_entry_get_name_to_id_map_entry(entry, &map_entry, &error);
            if (r != 1 || !map_entry) {
                ok = false;
                why = "named property " + hex4(entry_type) + " has no name in the mailbox";
            } else if (named_key(map_entry, out.key, why) != 1) {
                ok = false;
                why = "named property " + hex4(entry_type) + ": " + why;
            }
        } else if (ok) {
            out.key = property_key(static_cast<std::uint16_t>(entry_type));
        }
        if (ok) {
            ok = libpff_record_entry_get_data_size(entry, &size, &error) == 1;
        }
        if (ok) {
            out.type = static_cast<std::uint16_t>(value_type);
            out.value.resize(size);
            ok = size == 0 ||
                 libpff_record_entry_get_data(entry, out.value.data(), size, &error) == 1;
        }
        if (!ok) {
            if (why.empty()) {
                why = "property " + hex4(entry_type) + " cannot be read: " + pff_error_text(error);
            }
            problems.push_back({why});
        } else {
            entries.push_back(std::move(out));
        }
        libpff_error_free(&error);
        libpff_record_entry_free(&entry, nullptr);
    }
    return 1;
}

int read_item_record_set(libpff_item_t *item, int index,
                         bool (*skip)(std::uint16_t id, std::uint16_t type),
                         std::vector<source_entry> &entries, std::vector<source_problem> &problems)
{
    libpff_error_t *error = nullptr;
    int count = 0;
    if (libpff_item_get_number_of_record_sets(item, &count, &error) != 1) {
        return properties_unreadable(problems, &error);
    }
    if (index >= count) {
        return 0;
    }
    libpff_record_set_t *record_set = nullptr;
    if (libpff_item_get_record_set_by_index(item, index, &record_set, &error) != 1) {
        return properties_unreadable(problems, &error);
    }
    int result = read_record_set(record_set, skip, entries, problems);
    libpff_record_set_free(&record_set, nullptr);
    return result;
}

std::uint32_t entries_code_page(const std::vector<source_entry> &entries, std::uint32_t fallback)
{
    for (std::uint32_t wanted : {tag_message_codepage, tag_internet_code_page}) {
        for (const source_entry &e : entries) {
            if (!e.key.named && e.key.id == wanted && e.type == pt_long && e.value.size() == 4) {
                std::uint32_t code_page = read32(e.value.data());
                if (code_page != 0) {
                    return code_page;
                }
            }
        }
    }
    return fallback;
}

void entries_to_bag(std::vector<source_entry> &entries, std::uint32_t code_page,
                    code_page_decoder &decoder, property_bag &bag)
{
    for (source_entry &e : entries) {
        if (e.type == pt_string8) {
            bag.set_raw(e.key, pt_unicode,
                        utf16_bytes(decoder.decode(without_terminator(e.value), code_page)));
        } else if (e.type == (pt_string8 | pt_mv)) {
            // Count, offsets from the start of the value, then the strings.
            const std::vector<std::uint8_t> &v = e.value;
            std::uint32_t n = v.size() >= 4 ? read32(v.data()) : 0;
            if (v.size() < 4 || n > (v.size() - 4) / 4) {
                bag.set_raw(e.key, e.type, std::move(e.value)); // not a list: as stored
                continue;
            }
            std::vector<std::u16string> texts;
            for (std::uint32_t i = 0; i < n; ++i) {
                std::size_t begin = read32(v.data() + 4 + 4 * i);
                std::size_t end = i + 1 < n ? read32(v.data() + 8 + 4 * i) : v.size();
                begin = std::min(begin, v.size());
                end = std::min(std::max(end, begin), v.size());
                texts.push_back(decoder.decode(without_terminator(std::span<const std::uint8_t>(
                                                   v.data() + begin, end - begin)),
                                               code_page));
            }
            std::vector<std::uint8_t> out;
            append32(out, n);
            std::uint32_t offset = 4 + 4 * n;
            for (const std::u16string &t : texts) {
                append32(out, offset);
                offset += static_cast<std::uint32_t>(t.size() * 2);
            }
            for (const std::u16string &t : texts) {
                std::vector<std::uint8_t> b = utf16_bytes(t);
                out.insert(out.end(), b.begin(), b.end());
            }
            bag.set_raw(e.key, pt_unicode | pt_mv, std::move(out));
        } else {
            bag.set_raw(e.key, e.type, std::move(e.value));
        }
    }
    entries.clear();
}

} // namespace korvel::convert
