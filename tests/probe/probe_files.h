// What the export and preview probes print about files: SHA-256 digests and
// one line per file of a directory.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace korvel::probe {

// SHA-256 of a byte stream, fed in pieces.
class sha256
{
public:
    void update(const std::uint8_t *data, std::size_t size)
    {
        for (std::size_t i = 0; i < size; ++i) {
            m_block[m_block_size++] = data[i];
            if (m_block_size == 64) {
                compress();
                m_block_size = 0;
            }
        }
        m_length += size;
    }

    std::string hex_digest()
    {
        const std::uint64_t bits = m_length * 8;
        const std::uint8_t one = 0x80;
        update(&one, 1);
        const std::uint8_t zero = 0;
        while (m_block_size != 56) {
            update(&zero, 1);
        }
        for (int shift = 56; shift >= 0; shift -= 8) {
            const auto byte = static_cast<std::uint8_t>(bits >> shift);
            update(&byte, 1);
        }
        static const char digits[] = "0123456789abcdef";
        std::string text;
        for (std::uint32_t word : m_state) {
            for (int shift = 28; shift >= 0; shift -= 4) {
                text += digits[(word >> shift) & 0xF];
            }
        }
        return text;
    }

private:
    static std::uint32_t rotate(std::uint32_t value, int count)
    {
        return (value >> count) | (value << (32 - count));
    }

    void compress()
    {
        static constexpr std::array<std::uint32_t, 64> k = {
            0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4,
            0xab1c5ed5, 0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe,
            0x9bdc06a7, 0xc19bf174, 0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f,
            0x4a7484aa, 0x5cb0a9dc, 0x76f988da, 0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7,
            0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967, 0x27b70a85, 0x2e1b2138, 0x4d2c6dfc,
            0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85, 0xa2bfe8a1, 0xa81a664b,
            0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070, 0x19a4c116,
            0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
            0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7,
            0xc67178f2};
        std::array<std::uint32_t, 64> w{};
        for (std::size_t i = 0; i < 16; ++i) {
            w[i] = static_cast<std::uint32_t>(m_block[4 * i] << 24) |
                   static_cast<std::uint32_t>(m_block[4 * i + 1] << 16) |
                   static_cast<std::uint32_t>(m_block[4 * i + 2] << 8) |
                   static_cast<std::uint32_t>(m_block[4 * i + 3]);
        }
        for (std::size_t i = 16; i < 64; ++i) {
            const std::uint32_t s0 =
                rotate(w[i - 15], 7) ^ rotate(w[i - 15], 18) ^ (w[i - 15] >> 3);
            const std::uint32_t s1 = rotate(w[i - 2], 17) ^ rotate(w[i - 2], 19) ^ (w[i - 2] >> 10);
            w[i] = w[i - 16] + s0 + w[i - 7] + s1;
        }
        std::array<std::uint32_t, 8> v = m_state;
        for (std::size_t i = 0; i < 64; ++i) {
            const std::uint32_t s1 = rotate(v[4], 6) ^ rotate(v[4], 11) ^ rotate(v[4], 25);
            const std::uint32_t choose = (v[4] & v[5]) ^ (~v[4] & v[6]);
            const std::uint32_t t1 = v[7] + s1 + choose + k[i] + w[i];
            const std::uint32_t s0 = rotate(v[0], 2) ^ rotate(v[0], 13) ^ rotate(v[0], 22);
            const std::uint32_t majority = (v[0] & v[1]) ^ (v[0] & v[2]) ^ (v[1] & v[2]);
            const std::uint32_t t2 = s0 + majority;
            v[7] = v[6];
            v[6] = v[5];
            v[5] = v[4];
            v[4] = v[3] + t1;
            v[3] = v[2];
            v[2] = v[1];
            v[1] = v[0];
            v[0] = t1 + t2;
        }
        for (std::size_t i = 0; i < 8; ++i) {
            m_state[i] += v[i];
        }
    }

    std::array<std::uint32_t, 8> m_state = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                            0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    std::array<std::uint8_t, 64> m_block{};
    std::size_t m_block_size = 0;
    std::uint64_t m_length = 0;
};

// Tabs and line breaks inside a value would break the line format.
std::string escaped(const std::string &text);

// Every regular file below directory, sorted by its relative name:
// file<TAB>name<TAB>size<TAB>sha256.
void print_files(const std::string &directory);

} // namespace korvel::probe
