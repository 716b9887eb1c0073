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

// Earlier places in the stream that start like a given one: chains of the
// positions with the same hash of their first three bytes.
class match_finder
{
public:
    explicit match_finder(const std::vector<std::uint8_t> &s) : m_s(s), m_prev(s.size(), -1) {}

    // Makes position i findable by later ones.
    void insert(std::size_t i)
    {
        if (i + 2 < m_s.size()) {
            std::size_t h = hash3(i);
            m_prev[i] = m_head[h];
            m_head[h] = static_cast<std::int64_t>(i);
        }
    }

    struct match
    {
        std::size_t length = 0;
        std::size_t position = 0;
    };
    // The longest earlier run (up to 17 bytes, the most a reference holds)
    // equal to the bytes at i and still inside the dictionary.
    match longest(std::size_t i) const
    {
        match best;
        if (i + 2 >= m_s.size()) {
            return best;
        }
        int depth = 0;
        for (std::int64_t c = m_head[hash3(i)]; c >= 0 && depth < 48;
             c = m_prev[static_cast<std::size_t>(c)], ++depth) {
            std::size_t cand = static_cast<std::size_t>(c);
            // The byte 4096 back is being overwritten, so distances stop at 4095.
            if (i - cand >= dict_size) {
                break;
            }
            std::size_t len = 0;
            while (len < 17 && i + len < m_s.size() && m_s[cand + len] == m_s[i + len]) {
                ++len;
            }
            if (len > best.length) {
                best = {len, cand};
                if (len == 17) {
                    break;
                }
            }
        }
        return best;
    }

private:
    static constexpr std::size_t hash_size = 1u << 14;

    std::size_t hash3(std::size_t i) const
    {
        return ((static_cast<std::size_t>(m_s[i]) << 10) ^
                (static_cast<std::size_t>(m_s[i + 1]) << 5) ^ m_s[i + 2]) &
               (hash_size - 1);
    }

    const std::vector<std::uint8_t> &m_s;
    std::vector<std::int64_t> m_head = std::vector<std::int64_t>(hash_size, -1);
    std::vector<std::int64_t> m_prev;
};

// The compressed stream after its 16-byte header: runs of eight tokens, each
// run after a control byte whose bits say which tokens are references.
class token_writer
{
public:
    token_writer() : m_out(16, 0) {}

    void literal(std::uint8_t byte)
    {
        token(false);
        m_out.push_back(byte);
    }
    void reference(std::size_t offset, std::size_t length)
    {
        token(true);
        std::uint16_t ref = static_cast<std::uint16_t>(((offset % dict_size) << 4) | (length - 2));
        m_out.push_back(static_cast<std::uint8_t>(ref >> 8));
        m_out.push_back(static_cast<std::uint8_t>(ref));
    }
    std::vector<std::uint8_t> &bytes() { return m_out; }

private:
    void token(bool reference)
    {
        if (m_bit == 8) {
            m_control_at = m_out.size();
            m_out.push_back(0);
            m_bit = 0;
        }
        if (reference) {
            m_out[m_control_at] = static_cast<std::uint8_t>(m_out[m_control_at] | (1u << m_bit));
        }
        ++m_bit;
    }

    std::vector<std::uint8_t> m_out;
    std::size_t m_control_at = 0;
    int m_bit = 8;
};

} // namespace

std::vector<std::uint8_t> rtf_compress(std::string_view rtf)
{
    // Work on the prebuffer followed by the text: position k of this stream
    // sits at dictionary offset k % 4096.
    // Sized once and copied into, as below (g++ 12's -O3 array-bounds check).
    std::vector<std::uint8_t> s(prebuffer_size + rtf.size());
    std::copy(prebuffer, prebuffer + prebuffer_size, s.begin());
    std::copy(rtf.begin(), rtf.end(), s.begin() + static_cast<std::ptrdiff_t>(prebuffer_size));
    const std::size_t n = s.size();

    match_finder finder(s);
    for (std::size_t i = 0; i < prebuffer_size; ++i) {
        finder.insert(i);
    }
    token_writer tokens;
    std::size_t i = prebuffer_size;
    while (i < n) {
        const match_finder::match best = finder.longest(i);
        if (best.length >= 2) {
            tokens.reference(best.position, best.length);
            for (std::size_t k = 0; k < best.length; ++k) {
                finder.insert(i + k);
            }
            i += best.length;
        } else {
            tokens.literal(s[i]);
            finder.insert(i);
            ++i;
        }
    }
    // The end marker is a reference to the current write offset (its length
    // field 0).
    tokens.reference(n, 2);

    std::vector<std::uint8_t> &out = tokens.bytes();
    put32(out.data(), static_cast<std::uint32_t>(out.size() - 4));
    put32(out.data() + 4, static_cast<std::uint32_t>(rtf.size()));
    put32(out.data() + 8, magic_compressed);
    put32(out.data() + 12, format::crc32(0, out.data() + 16, out.size() - 16));
    return std::move(out);
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
