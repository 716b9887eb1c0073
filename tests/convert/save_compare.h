// Compares a mailbox with its saved copy through libpff, reading both with
// plain libpff calls: every folder, message, property (tag or name, type,
// value bytes), recipient, attachment (data byte for byte) and embedded message
// of the source must be in the copy, equal.
#pragma once

#include <iconv.h>
#include <libpff.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "convert/save/pst_sink.h"
#include "format/layout.h"
#include "tests/convert/pff_read.h"

namespace korvel::testing::save_compare {

using pff::error_holder;

struct value
{
    std::uint32_t type = 0;
    std::vector<std::uint8_t> bytes;
    // Text of string kinds as libpff decodes it (8-bit in the file's code page).
    std::vector<std::string> text;
};

inline std::string hex(std::uint32_t v)
{
    char b[16];
    std::snprintf(b, sizeof b, "0x%04X", v);
    return b;
}

inline std::string guid_text(const std::uint8_t *g)
{
    std::string out;
    char b[4];
    for (int i = 0; i < 16; ++i) {
        std::snprintf(b, sizeof b, "%02x", g[i]);
        out += b;
    }
    return out;
}

inline std::vector<std::string> entry_text(libpff_record_entry_t *entry, std::uint32_t type)
{
    std::vector<std::string> out;
    error_holder e;
    std::uint32_t base = type & 0x0FFF;
    if (base != 0x001E && base != 0x001F) {
        return out;
    }
    if (type & 0x1000) {
        libpff_multi_value_t *mv = nullptr;
        if (libpff_record_entry_get_multi_value(entry, &mv, &e.error) != 1) {
            out.push_back("<no multi value>");
            return out;
        }
        int n = 0;
        libpff_multi_value_get_number_of_values(mv, &n, &e.error);
        for (int i = 0; i < n; ++i) {
            size_t size = 0;
            std::string s;
            if (libpff_multi_value_get_value_utf8_string_size(mv, i, &size, &e.error) == 1) {
                s.assign(size, '\0');
                libpff_multi_value_get_value_utf8_string(
                    mv, i, reinterpret_cast<std::uint8_t *>(s.data()), size, &e.error);
                s.resize(std::strlen(s.c_str()));
            }
            out.push_back(s);
        }
        libpff_multi_value_free(&mv, nullptr);
        return out;
    }
    size_t size = 0;
    std::string s;
    if (libpff_record_entry_get_data_as_utf8_string_size(entry, &size, &e.error) == 1) {
        s.assign(size, '\0');
        libpff_record_entry_get_data_as_utf8_string(
            entry, reinterpret_cast<std::uint8_t *>(s.data()), size, &e.error);
        s.resize(std::strlen(s.c_str()));
    }
    out.push_back(s);
    return out;
}

// 8-bit text as UTF-8, decoded with iconv in the Windows code page (1252 when
// iconv lacks it), one trailing NUL dropped; bytes that do not decode become
// U+FFFD. The save's own decoder is what is under test, so this is iconv alone.
inline std::string decode_text(std::vector<std::uint8_t> bytes, const std::string &charset)
{
    iconv_t cd = iconv_open("UTF-8", charset.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        cd = iconv_open("UTF-8", "CP1252");
    }
    std::string out;
    char *in = reinterpret_cast<char *>(bytes.data());
    std::size_t left = bytes.size();
    char buffer[256];
    while (left > 0) {
        char *at = buffer;
        std::size_t room = sizeof buffer;
        std::size_t r = iconv(cd, &in, &left, &at, &room);
        out.append(buffer, at);
        if (r == static_cast<std::size_t>(-1) && errno != E2BIG) {
            out += "\xEF\xBF\xBD";
            ++in;
            --left;
        }
    }
    iconv_close(cd);
    return out;
}

inline std::string decode_8bit(std::vector<std::uint8_t> bytes, std::uint32_t code_page)
{
    if (!bytes.empty() && bytes.back() == 0) {
        bytes.pop_back();
    }
    return decode_text(std::move(bytes), "CP" + std::to_string(code_page));
}

// The items of a stored multi-valued variable-size value.
inline std::vector<std::vector<std::uint8_t>> mv_items(const std::vector<std::uint8_t> &v)
{
    auto at = [&](std::size_t i) {
        return static_cast<std::size_t>(format::load_le<std::uint32_t>(v.data() + i));
    };
    std::vector<std::vector<std::uint8_t>> out;
    const std::size_t n = v.size() >= 4 ? at(0) : 0;
    for (std::size_t i = 0; i < n && 8 + 4 * i <= v.size(); ++i) {
        std::size_t begin = at(4 + 4 * i);
        std::size_t end = i + 1 < n ? at(8 + 4 * i) : v.size();
        if (begin <= end && end <= v.size()) {
            out.emplace_back(v.begin() + static_cast<long>(begin), v.begin() + static_cast<long>(end));
        }
    }
    return out;
}

// The code page an item's 8-bit text is in: PidTagMessageCodepage, else
// PidTagInternetCodepage, else 1252.
inline std::uint32_t code_page_of(const std::map<std::string, value> &props)
{
    for (const char *key : {"0x3FFD", "0x3FDE"}) {
        auto it = props.find(key);
        if (it != props.end() && it->second.bytes.size() == 4) {
            const std::uint32_t v = format::load_le<std::uint32_t>(it->second.bytes.data());
            if (v != 0) {
                return v;
            }
        }
    }
    return 1252;
}

// The entries of one record set by key: "0x0037" or "{guid}#0x8208" / "{guid}$Name".
inline std::map<std::string, value> read_set(libpff_item_t *item, int index,
                                             bool (*skip)(std::uint16_t, std::uint16_t))
{
    std::map<std::string, value> out;
    error_holder e;
    libpff_record_set_t *set = nullptr;
    if (libpff_item_get_record_set_by_index(item, index, &set, &e.error) != 1) {
        ADD_FAILURE() << "record set " << index << ": " << e.text();
        return out;
    }
    int n = 0;
    EXPECT_EQ(libpff_record_set_get_number_of_entries(set, &n, &e.error), 1);
    for (int i = 0; i < n; ++i) {
        libpff_record_entry_t *entry = nullptr;
        if (libpff_record_set_get_entry_by_index(set, i, &entry, &e.error) != 1) {
            ADD_FAILURE() << "entry " << i << ": " << e.text();
            continue;
        }
        std::uint32_t id = 0;
        std::uint32_t type = 0;
        libpff_record_entry_get_entry_type(entry, &id, &e.error);
        libpff_record_entry_get_value_type(entry, &type, &e.error);
        if (skip && skip(static_cast<std::uint16_t>(id), static_cast<std::uint16_t>(type))) {
            libpff_record_entry_free(&entry, nullptr);
            continue;
        }
        std::string key = hex(id);
        libpff_name_to_id_map_entry_t *named = nullptr;
        if (id >= 0x8000 &&
            libpff_record_entry_get_name_to_id_map_entry(entry, &named, &e.error) == 1 && named) {
            std::uint8_t g[16] = {};
            std::uint8_t kind = 0;
            libpff_name_to_id_map_entry_get_guid(named, g, 16, &e.error);
            libpff_name_to_id_map_entry_get_type(named, &kind, &e.error);
            key = "{" + guid_text(g) + "}";
            if (kind == LIBPFF_NAME_TO_ID_MAP_ENTRY_TYPE_STRING) {
                size_t size = 0;
                libpff_name_to_id_map_entry_get_utf8_string_size(named, &size, &e.error);
                std::string s(size, '\0');
                libpff_name_to_id_map_entry_get_utf8_string(
                    named, reinterpret_cast<std::uint8_t *>(s.data()), size, &e.error);
                key += "$" + std::string(s.c_str());
            } else {
                std::uint32_t number = 0;
                libpff_name_to_id_map_entry_get_number(named, &number, &e.error);
                key += "#" + hex(number);
            }
        }
        value v;
        v.type = type;
        size_t size = 0;
        libpff_record_entry_get_data_size(entry, &size, &e.error);
        v.bytes.resize(size);
        if (size > 0) {
            libpff_record_entry_get_data(entry, v.bytes.data(), size, &e.error);
        }
        v.text = entry_text(entry, type);
        out[key] = std::move(v);
        libpff_record_entry_free(&entry, nullptr);
    }
    libpff_record_set_free(&set, nullptr);
    return out;
}

// Every source entry is in the copy with the same type and bytes; 8-bit
// strings became Unicode with the same text, decoded in code_page.
inline void compare_sets(const std::map<std::string, value> &source,
                         const std::map<std::string, value> &copy, const std::string &where,
                         std::uint32_t code_page)
{
    for (const auto &[key, s] : source) {
        auto it = copy.find(key);
        if (it == copy.end()) {
            ADD_FAILURE() << where << ": property " << key << " missing from the copy";
            continue;
        }
        const value &c = it->second;
        if ((s.type & 0x0FFF) == 0x001E) {
            EXPECT_EQ(c.type, s.type + 1) << where << " " << key;
            std::vector<std::string> text;
            std::vector<std::string> copied = c.text;
            if (s.type & 0x1000) {
                for (auto &item : mv_items(s.bytes)) {
                    text.push_back(decode_8bit(item, code_page));
                }
                copied.clear();
                for (auto &item : mv_items(c.bytes)) {
                    copied.push_back(decode_text(item, "UTF-16LE"));
                }
            } else {
                text.push_back(decode_8bit(s.bytes, code_page));
            }
            EXPECT_EQ(copied, text) << where << " " << key << " (code page " << code_page << ")";
        } else {
            EXPECT_EQ(c.type, s.type) << where << " " << key;
            EXPECT_TRUE(c.bytes == s.bytes) << where << " " << key << " differs";
        }
    }
}

inline int count(libpff_item_t *item, int (*fn)(libpff_item_t *, int *, libpff_error_t **))
{
    error_holder e;
    int n = -1;
    EXPECT_EQ(fn(item, &n, &e.error), 1) << e.text();
    return n;
}

inline void compare_message(libpff_item_t *source, libpff_item_t *copy, const std::string &where);

inline void compare_attachment_data(libpff_item_t *source, libpff_item_t *copy,
                                    const std::string &where)
{
    error_holder e;
    size64_t ss = 0;
    size64_t cs = 0;
    ASSERT_EQ(libpff_attachment_get_data_size(source, &ss, &e.error), 1) << where;
    ASSERT_EQ(libpff_attachment_get_data_size(copy, &cs, &e.error), 1) << where;
    ASSERT_EQ(ss, cs) << where;
    libpff_attachment_data_seek_offset(source, 0, SEEK_SET, &e.error);
    libpff_attachment_data_seek_offset(copy, 0, SEEK_SET, &e.error);
    std::vector<std::uint8_t> a(1 << 16);
    std::vector<std::uint8_t> b(1 << 16);
    for (size64_t off = 0; off < ss;) {
        size_t want = static_cast<size_t>(std::min<size64_t>(a.size(), ss - off));
        ssize_t ra = libpff_attachment_data_read_buffer(source, a.data(), want, &e.error);
        ssize_t rb = libpff_attachment_data_read_buffer(copy, b.data(), want, &e.error);
        ASSERT_EQ(ra, static_cast<ssize_t>(want)) << where;
        ASSERT_EQ(rb, static_cast<ssize_t>(want)) << where;
        ASSERT_TRUE(std::equal(a.begin(), a.begin() + ra, b.begin())) << where << " @" << off;
        off += want;
    }
}

inline void compare_message(libpff_item_t *source, libpff_item_t *copy, const std::string &where)
{
    std::map<std::string, value> props =
        read_set(source, 0, convert::pst_sink_skips_message_property);
    // Recipients and attachments are in their message's code page.
    const std::uint32_t code_page = code_page_of(props);
    compare_sets(props, read_set(copy, 0, convert::pst_sink_skips_message_property), where,
                 code_page);
    error_holder e;
    pff::item sr;
    pff::item cr;
    int rs = libpff_message_get_recipients(source, sr.out(), &e.error);
    int rc = libpff_message_get_recipients(copy, cr.out(), &e.error);
    if (rs == 1) {
        int ns = 0;
        int nc = 0;
        libpff_item_get_number_of_record_sets(sr.get(), &ns, &e.error);
        if (rc == 1) {
            libpff_item_get_number_of_record_sets(cr.get(), &nc, &e.error);
        }
        EXPECT_EQ(nc, ns) << where << ": recipients";
        for (int i = 0; i < std::min(ns, nc); ++i) {
            compare_sets(read_set(sr.get(), i, convert::pst_sink_skips_message_property),
                         read_set(cr.get(), i, convert::pst_sink_skips_message_property),
                         where + ", recipient " + std::to_string(i + 1), code_page);
        }
    }
    int as = count(source, libpff_message_get_number_of_attachments);
    int ac = count(copy, libpff_message_get_number_of_attachments);
    EXPECT_EQ(ac, as) << where << ": attachments";
    for (int i = 0; i < std::min(as, ac); ++i) {
        std::string at = where + ", attachment " + std::to_string(i + 1);
        pff::item sa;
        pff::item ca;
        ASSERT_EQ(libpff_message_get_attachment(source, i, sa.out(), &e.error), 1) << at;
        ASSERT_EQ(libpff_message_get_attachment(copy, i, ca.out(), &e.error), 1) << at;
        compare_sets(read_set(sa.get(), 0, convert::pst_sink_skips_attachment_property),
                     read_set(ca.get(), 0, convert::pst_sink_skips_attachment_property), at,
                     code_page);
        int ts = 0;
        int tc = 0;
        libpff_attachment_get_type(sa.get(), &ts, &e.error);
        libpff_attachment_get_type(ca.get(), &tc, &e.error);
        EXPECT_EQ(tc, ts) << at;
        if (ts == LIBPFF_ATTACHMENT_TYPE_DATA && tc == ts) {
            compare_attachment_data(sa.get(), ca.get(), at);
        } else if (ts == LIBPFF_ATTACHMENT_TYPE_ITEM && tc == ts) {
            pff::item se;
            pff::item ce;
            ASSERT_EQ(libpff_attachment_get_item(sa.get(), se.out(), &e.error), 1) << at;
            ASSERT_EQ(libpff_attachment_get_item(ca.get(), ce.out(), &e.error), 1) << at;
            compare_message(se.get(), ce.get(), at + ", embedded");
        }
    }
}

struct totals
{
    int folders = 0;
    int messages = 0;
};

// Compares a folder and everything below it. extra_copy_folders: sub-folders
// the copy may have beyond the source's ("Recovered Items" at the top).
inline void compare_folder(libpff_item_t *source, libpff_item_t *copy, const std::string &where,
                           totals &t, int extra_copy_folders = 0)
{
    ++t.folders;
    // Folder text is in the store's code page, which the engine takes as 1252.
    compare_sets(read_set(source, 0, convert::pst_sink_skips_folder_property),
                 read_set(copy, 0, convert::pst_sink_skips_folder_property), where, 1252);
    error_holder e;
    for (bool associated : {false, true}) {
        auto count_fn = associated ? libpff_folder_get_number_of_sub_associated_contents
                                   : libpff_folder_get_number_of_sub_messages;
        auto get_fn =
            associated ? libpff_folder_get_sub_associated_content : libpff_folder_get_sub_message;
        int ns = count(source, count_fn);
        int nc = count(copy, count_fn);
        EXPECT_EQ(nc, ns) << where << (associated ? ": hidden items" : ": items");
        for (int i = 0; i < std::min(ns, nc); ++i) {
            pff::item sm;
            pff::item cm;
            ASSERT_EQ(get_fn(source, i, sm.out(), &e.error), 1) << where;
            ASSERT_EQ(get_fn(copy, i, cm.out(), &e.error), 1) << where;
            compare_message(sm.get(), cm.get(),
                            where + (associated ? ", hidden item " : ", item ") +
                                std::to_string(i + 1));
            t.messages += associated ? 0 : 1;
        }
    }
    int fs = count(source, libpff_folder_get_number_of_sub_folders);
    int fc = count(copy, libpff_folder_get_number_of_sub_folders);
    EXPECT_EQ(fc, fs + extra_copy_folders) << where << ": sub-folders";
    for (int i = 0; i < std::min(fs, fc); ++i) {
        pff::item sf;
        pff::item cf;
        ASSERT_EQ(libpff_folder_get_sub_folder(source, i, sf.out(), &e.error), 1) << where;
        ASSERT_EQ(libpff_folder_get_sub_folder(copy, i, cf.out(), &e.error), 1) << where;
        std::string name = sf.folder_name().value_or("");
        EXPECT_EQ(cf.folder_name().value_or(""), name) << where;
        compare_folder(sf.get(), cf.get(), where + "/" + name, t);
    }
}

} // namespace korvel::testing::save_compare
