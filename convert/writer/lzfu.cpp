#include "convert/writer/lzfu.h"

#include "format/crc.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace korvel::convert {

namespace {

constexpr char prebuffer[] = "{\\rtf1\\ansi\\mac\\deff0\\deftab720{\\fonttbl;}{\\f0\\fnil \\froman "
                             "\\fswiss \\fmodern \\fscript \\fdecor MS Sans SerifSymbolArialTimes "
                             "New RomanCourier{\\colortbl\\red0\\green0\\blue0\r\n\\par "
                             "\\pard\\plain\\f0\\fs20\\b\\i\\u\\tab\\tx";
constexpr std::size_t prebuffer_size = sizeof prebuffer - 1; // 207
constexpr std::size_t dict_size = 4096;
constexpr std::uint32_t magic_compressed = 0x75465A4C;
constexpr std::uint32_t magic_uncompressed = 0x414C454D;

void put32(std::uint8_t *p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}
std::uint32_t get32(const std::uint8_t *p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

} // namespace

std::vector<std::uint8_t> rtf_compress(std::string_view rtf)
{
    // Work on the prebuffer followed by the text: position k of this stream
    // sits at dictionary offset k % 4096.
    std::vector<std::uint8_t> s(prebuffer, prebuffer + prebuffer_size);
    s.insert(s.end(), rtf.begin(), rtf.end());
    const std::size_t n = s.size();

    constexpr std::size_t hash_size = 1u << 14;
    std::vector<std::int64_t> head(hash_size, -1);
    std::vector<std::int64_t> prev(n, -1);
    auto hash3 = [&](std::size_t i) {
        return ((static_cast<std::size_t>(s[i]) << 10) ^ (static_cast<std::size_t>(s[i + 1]) << 5) ^
                s[i + 2]) &
               (hash_size - 1);
    };
    auto insert = [&](std::size_t i) {
        if (i + 2 < n) {
            std::size_t h = hash3(i);
            prev[i] = head[h];
            head[h] = static_cast<std::int64_t>(i);
        }
    };
    for (std::size_t i = 0; i < prebuffer_size; ++i) {
        insert(i);
    }

    std::vector<std::uint8_t> out(16, 0);
    std::size_t control_at = 0;
    int bit = 8;
    auto token = [&](bool reference) {
        if (bit == 8) {
            control_at = out.size();
            out.push_back(0);
            bit = 0;
        }
        if (reference) {
            out[control_at] = static_cast<std::uint8_t>(out[control_at] | (1u << bit));
        }
        ++bit;
    };
    std::size_t i = prebuffer_size;
    while (i < n) {
        std::size_t best_len = 0;
        std::size_t best_pos = 0;
        if (i + 2 < n) {
            int depth = 0;
            for (std::int64_t c = head[hash3(i)]; c >= 0 && depth < 48; c = prev[static_cast<std::size_t>(c)], ++depth) {
                std::size_t cand = static_cast<std::size_t>(c);
                // The byte 4096 back is being overwritten, so distances stop at 4095.
                if (i - cand >= dict_size) {
                    break;
                }
                std::size_t len = 0;
                while (len < 17 && i + len < n && s[cand + len] == s[i + len]) {
                    ++len;
                }
                if (len > best_len) {
                    best_len = len;
                    best_pos = cand;
                    if (len == 17) {
                        break;
                    }
                }
            }
        }
        if (best_len >= 2) {
            token(true);
            std::uint16_t ref = static_cast<std::uint16_t>(((best_pos % dict_size) << 4) | (best_len - 2));
            out.push_back(static_cast<std::uint8_t>(ref >> 8));
            out.push_back(static_cast<std::uint8_t>(ref));
            for (std::size_t k = 0; k < best_len; ++k) {
                insert(i + k);
            }
            i += best_len;
        } else {
            token(false);
            out.push_back(s[i]);
            insert(i);
            ++i;
        }
    }
    // The end marker is a reference to the current write offset.
    token(true);
    std::uint16_t end = static_cast<std::uint16_t>((n % dict_size) << 4);
    out.push_back(static_cast<std::uint8_t>(end >> 8));
    out.push_back(static_cast<std::uint8_t>(end));

    put32(out.data(), static_cast<std::uint32_t>(out.size() - 4));
    put32(out.data() + 4, static_cast<std::uint32_t>(rtf.size()));
    put32(out.data() + 8, magic_compressed);
    put32(out.data() + 12, format::crc32(0, out.data() + 16, out.size() - 16));
    return out;
}

std::vector<std::uint8_t> rtf_store_uncompressed(std::string_view rtf)
{
    // Sized once and copied into: growing it by insert trips g++ 12's -O3
    // array-bounds check on the 16-byte header.
    std::vector<std::uint8_t> out(16 + rtf.size(), 0);
    std::copy(rtf.begin(), rtf.end(), out.begin() + 16);
    put32(out.data(), static_cast<std::uint32_t>(out.size() - 4));
    put32(out.data() + 4, static_cast<std::uint32_t>(rtf.size()));
    put32(out.data() + 8, magic_uncompressed);
    return out;
}

bool rtf_decompress(const std::vector<std::uint8_t> &data, std::vector<std::uint8_t> &out)
{
    out.clear();
    if (data.size() < 16) {
        return false;
    }
    std::uint32_t comp_size = get32(data.data());
    std::uint32_t raw_size = get32(data.data() + 4);
    std::uint32_t magic = get32(data.data() + 8);
    std::size_t end = std::min<std::size_t>(data.size(), std::size_t{comp_size} + 4);
    if (magic == magic_uncompressed) {
        if (16 + std::size_t{raw_size} > data.size()) {
            return false;
        }
        out.assign(data.begin() + 16, data.begin() + 16 + raw_size);
        return true;
    }
    if (magic != magic_compressed) {
        return false;
    }
    std::array<std::uint8_t, dict_size> dict{};
    std::memcpy(dict.data(), prebuffer, prebuffer_size);
    std::size_t w = prebuffer_size;
    std::size_t p = 16;
    while (p < end) {
        std::uint8_t control = data[p++];
        for (int b = 0; b < 8 && p < end; ++b) {
            if (control & (1u << b)) {
                if (p + 1 >= end) {
                    return false;
                }
                std::size_t ref = (std::size_t{data[p]} << 8) | data[p + 1];
                p += 2;
                std::size_t off = ref >> 4;
                std::size_t len = (ref & 0xF) + 2;
                if (off == w % dict_size) {
                    return out.size() == raw_size;
                }
                for (std::size_t k = 0; k < len; ++k) {
                    std::uint8_t c = dict[(off + k) % dict_size];
                    dict[w % dict_size] = c;
                    ++w;
                    out.push_back(c);
                    if (out.size() > raw_size) {
                        return false;
                    }
                }
            } else {
                std::uint8_t c = data[p++];
                dict[w % dict_size] = c;
                ++w;
                out.push_back(c);
                if (out.size() > raw_size) {
                    return false;
                }
            }
        }
    }
    return false;
}

} // namespace korvel::convert
