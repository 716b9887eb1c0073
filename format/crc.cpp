#include "format/crc.h"

#include <zlib.h>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace korvel::format {

namespace {

// zlib's CRC-32 is the same reflected 0xEDB88320 code with the value inverted
// on the way in and out; inverting around it gives the format's plain one.
std::uint32_t crc32_zlib(std::uint32_t crc, const std::uint8_t *data, std::size_t size)
{
    return ~static_cast<std::uint32_t>(::crc32_z(~crc, data, size));
}

#if defined(__x86_64__)

// Carry-less multiplication folds 64 bytes a step into four 128-bit
// remainders of the same CRC, then those into one and down to 32 bits (a
// Barrett reduction). The constants are powers of x modulo the CRC's
// polynomial, bit-reflected like the CRC itself: x^(512+32) and x^(512-32)
// for the 64-byte fold, x^(128+32) and x^(128-32) for the 16-byte one, x^64
// for the last 32 bits, then the polynomial and its Barrett quotient.
// Takes a multiple of 16 bytes, at least 64.
__attribute__((target("pclmul,sse4.1"))) std::uint32_t
crc32_folded(std::uint32_t crc, const std::uint8_t *data, std::size_t size)
{
    const __m128i fold_64 = _mm_set_epi64x(0x1c6e41596, 0x154442bd4);
    const __m128i fold_16 = _mm_set_epi64x(0x0ccaa009e, 0x1751997d0);
    const __m128i last_32 = _mm_set_epi64x(0, 0x163cd6124);
    const __m128i barrett = _mm_set_epi64x(0x1f7011641, 0x1db710641);
    const __m128i low_32 = _mm_set_epi32(0, 0, 0, -1);
    auto load = [](const std::uint8_t *p) __attribute__((target("sse2"))) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
    };
    // x times x^n, folded onto next: x's high half takes one constant, its low the other.
    auto fold = [](__m128i x, __m128i k, __m128i next) __attribute__((target("pclmul"))) {
        return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00),
                                           _mm_clmulepi64_si128(x, k, 0x11)),
                             next);
    };

    __m128i x0 = _mm_xor_si128(load(data), _mm_cvtsi32_si128(static_cast<int>(crc)));
    __m128i x1 = load(data + 16);
    __m128i x2 = load(data + 32);
    __m128i x3 = load(data + 48);
    data += 64;
    size -= 64;
    for (; size >= 64; data += 64, size -= 64) {
        x0 = fold(x0, fold_64, load(data));
        x1 = fold(x1, fold_64, load(data + 16));
        x2 = fold(x2, fold_64, load(data + 32));
        x3 = fold(x3, fold_64, load(data + 48));
    }
    __m128i x = fold(x0, fold_16, x1);
    x = fold(x, fold_16, x2);
    x = fold(x, fold_16, x3);
    for (; size >= 16; data += 16, size -= 16) {
        x = fold(x, fold_16, load(data));
    }
    // 128 bits to 64 (with 32 zero bits appended), then to 32.
    x = _mm_xor_si128(_mm_clmulepi64_si128(x, fold_16, 0x10), _mm_srli_si128(x, 8));
    x = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x, low_32), last_32, 0x00),
                      _mm_srli_si128(x, 4));
    __m128i t = _mm_and_si128(_mm_clmulepi64_si128(_mm_and_si128(x, low_32), barrett, 0x10),
                              low_32);
    t = _mm_clmulepi64_si128(t, barrett, 0x00);
    return static_cast<std::uint32_t>(_mm_extract_epi32(_mm_xor_si128(x, t), 1));
}

bool have_pclmul()
{
    static const bool yes = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
    return yes;
}

#endif

} // namespace

// Block CRCs are the writer's and the recovery scan's hottest loop: where the
// machine has carry-less multiplication, whole blocks go through it (about
// ten times zlib's speed); the rest, and other machines, take zlib's, which
// beats a byte-wise table here.
std::uint32_t crc32(std::uint32_t crc, const std::uint8_t *data, std::size_t size)
{
    if (size == 0) {
        return crc;
    }
#if defined(__x86_64__)
    if (size >= 64 && have_pclmul()) {
        const std::size_t folded = size & ~std::size_t{15};
        crc = crc32_folded(crc, data, folded);
        data += folded;
        size -= folded;
        if (size == 0) {
            return crc;
        }
    }
#endif
    return crc32_zlib(crc, data, size);
}

} // namespace korvel::format
