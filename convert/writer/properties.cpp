// Property values in their stored form, guids, text and data sources.
#include "convert/writer/lzfu.h"
#include "convert/writer/pst_writer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <type_traits>

#include "format/layout.h"
#include "scan/names.h"
#include "scan/text.h"

namespace korvel::convert {

namespace {

template <typename T> std::uint64_t bits_of(T v)
{
    std::uint64_t out = 0;
    std::memcpy(&out, &v, sizeof v);
    return out;
}

// The unsigned integer of Stored's width a value is written as (a float or
// double by its bits).
template <typename Stored, typename T> Stored stored_as(T v)
{
    if constexpr (std::is_floating_point_v<T>) {
        return static_cast<Stored>(bits_of(v));
    } else {
        return static_cast<Stored>(v);
    }
}

// A fixed-size value as it is stored: little-endian, Stored wide.
template <typename Stored, typename T> std::vector<std::uint8_t> le_bytes(T v)
{
    std::vector<std::uint8_t> b;
    format::append_le<Stored>(b, stored_as<Stored>(v));
    return b;
}

// The values of a multi-valued fixed-size property, one after another.
template <typename Stored, typename T> std::vector<std::uint8_t> le_array(const std::vector<T> &v)
{
    std::vector<std::uint8_t> b;
    for (T x : v) {
        format::append_le<Stored>(b, stored_as<Stored>(x));
    }
    return b;
}

std::vector<std::uint8_t> utf16_bytes(std::u16string_view s)
{
    std::vector<std::uint8_t> out;
    out.reserve(s.size() * 2);
    for (char16_t c : s) {
        format::append_le<std::uint16_t>(out, static_cast<std::uint16_t>(c));
    }
    return out;
}
std::uint64_t splitmix(std::uint64_t x)
{
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

} // namespace

guid guid::parse(std::string_view text)
{
    std::string hex;
    for (char c : text) {
        if (c == '{' || c == '}' || c == '-') {
            continue;
        }
        hex.push_back(c);
    }
    if (hex.size() != 32) {
        throw std::invalid_argument("not a GUID: " + std::string(text));
    }
    std::uint8_t raw[16];
    for (std::size_t i = 0; i < 16; ++i) {
        auto nibble = [&](char c) -> int {
            const int digit = hex_digit(c);
            if (digit < 0) {
                throw std::invalid_argument("not a GUID: " + std::string(text));
            }
            return digit;
        };
        raw[i] = static_cast<std::uint8_t>(nibble(hex[2 * i]) * 16 + nibble(hex[2 * i + 1]));
    }
    guid g;
    const int order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    for (std::size_t i = 0; i < 16; ++i) {
        g.bytes[i] = raw[order[i]];
    }
    return g;
}

namespace psets {
const guid mapi = guid::parse("00020328-0000-0000-C000-000000000046");
const guid public_strings = guid::parse("00020329-0000-0000-C000-000000000046");
const guid common = guid::parse("00062008-0000-0000-C000-000000000046");
const guid address = guid::parse("00062004-0000-0000-C000-000000000046");
const guid appointment = guid::parse("00062002-0000-0000-C000-000000000046");
const guid task = guid::parse("00062003-0000-0000-C000-000000000046");
const guid log = guid::parse("0006200A-0000-0000-C000-000000000046");
const guid note = guid::parse("0006200E-0000-0000-C000-000000000046");
const guid internet_headers = guid::parse("00020386-0000-0000-C000-000000000046");
} // namespace psets

std::u16string utf8_to_utf16(std::string_view s)
{
    std::u16string out;
    std::size_t i = 0;
    auto cont = [&](std::size_t k) {
        return k < s.size() && (static_cast<unsigned char>(s[k]) & 0xC0) == 0x80;
    };
    while (i < s.size()) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        std::uint32_t cp = 0xFFFD;
        std::size_t len = 1;
        if (c < 0x80) {
            cp = c;
        } else if (c >= 0xC2 && c < 0xE0 && cont(i + 1)) {
            cp = ((c & 0x1Fu) << 6) | (static_cast<unsigned char>(s[i + 1]) & 0x3Fu);
            len = 2;
        } else if (c >= 0xE0 && c < 0xF0 && cont(i + 1) && cont(i + 2)) {
            cp = ((c & 0x0Fu) << 12) | ((static_cast<unsigned char>(s[i + 1]) & 0x3Fu) << 6) |
                 (static_cast<unsigned char>(s[i + 2]) & 0x3Fu);
            len = 3;
            if (cp < 0x800 || (cp >= 0xD800 && cp < 0xE000)) {
                cp = 0xFFFD;
            }
        } else if (c >= 0xF0 && c < 0xF5 && cont(i + 1) && cont(i + 2) && cont(i + 3)) {
            cp = ((c & 0x07u) << 18) | ((static_cast<unsigned char>(s[i + 1]) & 0x3Fu) << 12) |
                 ((static_cast<unsigned char>(s[i + 2]) & 0x3Fu) << 6) |
                 (static_cast<unsigned char>(s[i + 3]) & 0x3Fu);
            len = 4;
            if (cp < 0x10000 || cp > 0x10FFFF) {
                cp = 0xFFFD;
            }
        }
        append_code_point(out, cp);
        i += len;
    }
    return out;
}

std::uint64_t filetime_from_unix(std::int64_t seconds)
{
    return static_cast<std::uint64_t>((seconds + 11644473600LL) * 10000000LL);
}

property_bag &property_bag::set_raw(const property_key &key, std::uint16_t type,
                                    std::vector<std::uint8_t> value)
{
    for (property &p : m_items) {
        if (p.key == key) {
            p.type = type;
            p.value = std::move(value);
            return *this;
        }
    }
    m_items.push_back({key, type, std::move(value)});
    return *this;
}

property_bag &property_bag::set_short(const property_key &key, std::int16_t v)
{
    return set_raw(key, pt_short, le_bytes<std::uint16_t>(v));
}
property_bag &property_bag::set_long(const property_key &key, std::int32_t v)
{
    return set_raw(key, pt_long, le_bytes<std::uint32_t>(v));
}
property_bag &property_bag::set_boolean(const property_key &key, bool v)
{
    return set_raw(key, pt_boolean, {static_cast<std::uint8_t>(v ? 1 : 0)});
}
property_bag &property_bag::set_float(const property_key &key, float v)
{
    return set_raw(key, pt_float, le_bytes<std::uint32_t>(v));
}
property_bag &property_bag::set_double(const property_key &key, double v)
{
    return set_raw(key, pt_double, le_bytes<std::uint64_t>(v));
}
property_bag &property_bag::set_i8(const property_key &key, std::int64_t v)
{
    return set_raw(key, pt_i8, le_bytes<std::uint64_t>(v));
}
property_bag &property_bag::set_currency(const property_key &key, std::int64_t v)
{
    return set_raw(key, pt_currency, le_bytes<std::uint64_t>(v));
}
property_bag &property_bag::set_systime(const property_key &key, std::uint64_t filetime)
{
    return set_raw(key, pt_systime, le_bytes<std::uint64_t>(filetime));
}
property_bag &property_bag::set_error(const property_key &key, std::uint32_t v)
{
    return set_raw(key, pt_error, le_bytes<std::uint32_t>(v));
}
property_bag &property_bag::set_unicode(const property_key &key, std::string_view utf8)
{
    return set_raw(key, pt_unicode, utf16_bytes(utf8_to_utf16(utf8)));
}
property_bag &property_bag::set_unicode(const property_key &key, std::u8string_view utf8)
{
    return set_unicode(key,
                       std::string_view(reinterpret_cast<const char *>(utf8.data()), utf8.size()));
}
property_bag &property_bag::set_unicode(const property_key &key, std::u16string_view utf16)
{
    return set_raw(key, pt_unicode, utf16_bytes(utf16));
}
property_bag &property_bag::set_string8(const property_key &key, std::string_view bytes)
{
    return set_raw(key, pt_string8, std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
}
property_bag &property_bag::set_binary(const property_key &key,
                                       std::span<const std::uint8_t> bytes)
{
    return set_raw(key, pt_binary, std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
}
property_bag &property_bag::set_binary(const property_key &key, std::string_view bytes)
{
    return set_raw(key, pt_binary, std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
}
property_bag &property_bag::set_guid(const property_key &key, const guid &v)
{
    return set_raw(key, pt_clsid, std::vector<std::uint8_t>(v.bytes.begin(), v.bytes.end()));
}
property_bag &property_bag::set_mv_short(const property_key &key, const std::vector<std::int16_t> &v)
{
    return set_raw(key, pt_mv | pt_short, le_array<std::uint16_t>(v));
}
property_bag &property_bag::set_mv_long(const property_key &key, const std::vector<std::int32_t> &v)
{
    return set_raw(key, pt_mv | pt_long, le_array<std::uint32_t>(v));
}
property_bag &property_bag::set_mv_float(const property_key &key, const std::vector<float> &v)
{
    return set_raw(key, pt_mv | pt_float, le_array<std::uint32_t>(v));
}
property_bag &property_bag::set_mv_double(const property_key &key, const std::vector<double> &v)
{
    return set_raw(key, pt_mv | pt_double, le_array<std::uint64_t>(v));
}
property_bag &property_bag::set_mv_i8(const property_key &key, const std::vector<std::int64_t> &v)
{
    return set_raw(key, pt_mv | pt_i8, le_array<std::uint64_t>(v));
}
property_bag &property_bag::set_mv_systime(const property_key &key,
                                           const std::vector<std::uint64_t> &v)
{
    return set_raw(key, pt_mv | pt_systime, le_array<std::uint64_t>(v));
}
property_bag &property_bag::set_mv_guid(const property_key &key, const std::vector<guid> &v)
{
    std::vector<std::uint8_t> b;
    for (const auto &x : v) {
        b.insert(b.end(), x.bytes.begin(), x.bytes.end());
    }
    return set_raw(key, pt_mv | pt_clsid, b);
}
property_bag &property_bag::set_mv_unicode(const property_key &key,
                                           const std::vector<std::string> &utf8)
{
    std::vector<std::vector<std::uint8_t>> items;
    for (const auto &s : utf8) {
        items.push_back(utf16_bytes(utf8_to_utf16(s)));
    }
    return set_raw(key, pt_mv | pt_unicode, mv_variable_join(items));
}
property_bag &property_bag::set_mv_string8(const property_key &key,
                                           const std::vector<std::string> &bytes)
{
    std::vector<std::vector<std::uint8_t>> items;
    for (const auto &s : bytes) {
        items.emplace_back(s.begin(), s.end());
    }
    return set_raw(key, pt_mv | pt_string8, mv_variable_join(items));
}
property_bag &property_bag::set_mv_binary(const property_key &key,
                                          const std::vector<std::vector<std::uint8_t>> &v)
{
    return set_raw(key, pt_mv | pt_binary, mv_variable_join(v));
}

property_bag &property_bag::set_body(std::string_view utf8) { return set_unicode(0x1000, utf8); }
property_bag &property_bag::set_html(std::string_view html) { return set_binary(0x1013, html); }
property_bag &property_bag::set_rtf(std::string_view rtf, bool compress)
{
    set_raw(0x1009, pt_binary, compress ? rtf_compress(rtf) : rtf_store_uncompressed(rtf));
    return set_boolean(0x0E1F, true);
}

property_bag &property_bag::erase(const property_key &key)
{
    m_items.erase(std::remove_if(m_items.begin(), m_items.end(),
                                 [&](const property &p) { return p.key == key; }),
                  m_items.end());
    return *this;
}

const property *property_bag::find(const property_key &key) const
{
    for (const property &p : m_items) {
        if (p.key == key) {
            return &p;
        }
    }
    return nullptr;
}

data_source data_source::from_bytes(std::vector<std::uint8_t> bytes)
{
    auto shared = std::make_shared<std::vector<std::uint8_t>>(std::move(bytes));
    data_source d;
    d.size = shared->size();
    d.read = [shared](std::uint64_t offset, std::span<std::uint8_t> out) {
        if (!out.empty()) {
            std::memcpy(out.data(), shared->data() + offset, out.size());
        }
    };
    return d;
}

data_source data_source::from_string(std::string_view bytes)
{
    return from_bytes(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
}

data_source data_source::from_file(const std::string &path)
{
    std::shared_ptr<std::FILE> f(std::fopen(path.c_str(), "rb"), [](std::FILE *p) {
        if (p) {
            std::fclose(p);
        }
    });
    if (!f || std::fseek(f.get(), 0, SEEK_END) != 0) {
        throw std::runtime_error("cannot read " + path);
    }
    long size = std::ftell(f.get());
    if (size < 0) {
        throw std::runtime_error("cannot read " + path);
    }
    data_source d;
    d.size = static_cast<std::uint64_t>(size);
    d.read = [f, path](std::uint64_t offset, std::span<std::uint8_t> out) {
        if (std::fseek(f.get(), static_cast<long>(offset), SEEK_SET) != 0 ||
            std::fread(out.data(), 1, out.size(), f.get()) != out.size()) {
            throw std::runtime_error("cannot read " + path);
        }
    };
    return d;
}

std::uint8_t pattern_byte(std::uint32_t seed, std::uint64_t offset)
{
    return static_cast<std::uint8_t>(splitmix((std::uint64_t{seed} << 40) ^ (offset / 8)) >>
                                     (8 * (offset % 8)));
}

data_source data_source::pattern(std::uint64_t size, std::uint32_t seed)
{
    data_source d;
    d.size = size;
    d.read = [seed](std::uint64_t offset, std::span<std::uint8_t> out) {
        std::size_t i = 0;
        while (i < out.size() && (offset + i) % 8 != 0) {
            out[i] = pattern_byte(seed, offset + i);
            ++i;
        }
        while (i + 8 <= out.size()) {
            std::uint64_t w = splitmix((std::uint64_t{seed} << 40) ^ ((offset + i) / 8));
            std::memcpy(out.data() + i, &w, 8);
            i += 8;
        }
        for (; i < out.size(); ++i) {
            out[i] = pattern_byte(seed, offset + i);
        }
    };
    return d;
}

message::message(std::string_view message_class)
{
    set_unicode(tag_message_class, message_class);
}

property_bag &message::add_recipient(std::int32_t type, std::string_view name,
                                     std::string_view email)
{
    property_bag r;
    r.set_long(tag_recipient_type, type);
    r.set_unicode(tag_display_name, name);
    r.set_long(tag_object_type, 6);  // mail user
    r.set_long(tag_display_type, 0); // mail user
    if (!email.empty()) {
        r.set_unicode(tag_address_type, std::string_view("SMTP"));
        r.set_unicode(tag_email_address, email);
        r.set_unicode(tag_smtp_address, email);
    }
    recipients.push_back(std::move(r));
    return recipients.back();
}

attachment &message::add_attachment(std::string_view filename, data_source content)
{
    attachment a;
    a.how = attachment::kind::by_value;
    a.set_unicode(tag_attach_long_filename, filename);
    a.set_unicode(tag_attach_filename, filename);
    a.data = std::move(content);
    attachments.push_back(std::move(a));
    return attachments.back();
}

message &message::add_embedded(std::string_view display_name, std::string_view message_class)
{
    attachment a;
    a.how = attachment::kind::embedded;
    a.set_unicode(tag_display_name, display_name);
    a.embedded = std::make_shared<message>(message_class);
    attachments.push_back(std::move(a));
    return *attachments.back().embedded;
}

attachment &message::add_reference(std::string_view filename, std::string_view path)
{
    attachment a;
    a.how = attachment::kind::by_reference;
    a.set_unicode(tag_attach_long_filename, filename);
    a.set_unicode(tag_attach_long_pathname, path);
    attachments.push_back(std::move(a));
    return attachments.back();
}

} // namespace korvel::convert
