#include "format/encoding.h"

#include <array>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace korvel::format {

namespace {

// The encoding half of the format's byte substitution table.
constexpr std::uint8_t permute_table[256] = {
    65,  54,  19,  98,  168, 33,  110, 187, 244, 22,  204, 4,   127, 100, 232, 93,  30,  242, 203,
    42,  116, 197, 94,  53,  210, 149, 71,  158, 150, 45,  154, 136, 76,  125, 132, 63,  219, 172,
    49,  182, 72,  95,  246, 196, 216, 57,  139, 231, 35,  59,  56,  142, 200, 193, 223, 37,  177,
    32,  165, 70,  96,  78,  156, 251, 170, 211, 86,  81,  69,  124, 85,  0,   7,   201, 43,  157,
    133, 155, 9,   160, 143, 173, 179, 15,  99,  171, 137, 75,  215, 167, 21,  90,  113, 102, 66,
    191, 38,  74,  107, 152, 250, 234, 119, 83,  178, 112, 5,   44,  253, 89,  58,  134, 126, 206,
    6,   235, 130, 120, 87,  199, 141, 67,  175, 180, 28,  212, 91,  205, 226, 233, 39,  79,  195,
    8,   114, 128, 207, 176, 239, 245, 40,  109, 190, 48,  77,  52,  146, 213, 14,  60,  34,  50,
    229, 228, 249, 159, 194, 209, 10,  129, 18,  225, 238, 145, 131, 118, 227, 151, 230, 97,  138,
    23,  121, 164, 183, 220, 144, 122, 92,  140, 2,   166, 202, 105, 222, 80,  26,  17,  147, 185,
    82,  135, 88,  252, 237, 29,  55,  73,  27,  106, 224, 41,  51,  153, 189, 108, 217, 148, 243,
    64,  84,  111, 240, 198, 115, 184, 214, 62,  101, 24,  68,  31,  221, 103, 16,  241, 12,  25,
    236, 174, 3,   161, 20,  123, 169, 11,  255, 248, 163, 192, 162, 1,   247, 46,  188, 36,  104,
    117, 13,  254, 186, 47,  181, 208, 218, 61};

std::array<std::uint8_t, 256> make_decode_table()
{
    std::array<std::uint8_t, 256> inverse{};
    for (std::size_t i = 0; i < 256; ++i) {
        inverse[permute_table[i]] = static_cast<std::uint8_t>(i);
    }
    return inverse;
}

const std::array<std::uint8_t, 256> decode_table = make_decode_table();

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define KORVEL_SUBSTITUTE_AVX2 1

// 32 bytes at a time: the table as sixteen rows of sixteen, every row looked
// up by the low nibble with one shuffle, then the row the high nibble names
// picked by a tree of blends on its four bits (bit 7 last, where it stands).
// About one and a half instructions a byte against five for the byte loop; the
// writer encodes every byte of attachment data it writes.
__attribute__((target("avx2"))) std::size_t substitute_avx2(const std::uint8_t *table,
                                                             const std::uint8_t *in,
                                                             std::uint8_t *out, std::size_t size)
{
    __m256i rows[16];
    for (int k = 0; k < 16; ++k) {
        rows[k] = _mm256_broadcastsi128_si256(
            _mm_loadu_si128(reinterpret_cast<const __m128i *>(table + 16 * k)));
    }
    const __m256i low_mask = _mm256_set1_epi8(0x0F);
    // Rows 2k and 2k + 1 looked up, then the one bit 4 of the byte names.
    const auto pair = [&rows](int k, __m256i low, __m256i bit4) __attribute__((target("avx2")))
    {
        return _mm256_blendv_epi8(_mm256_shuffle_epi8(rows[2 * k], low),
                                  _mm256_shuffle_epi8(rows[2 * k + 1], low), bit4);
    };
    std::size_t i = 0;
    for (; i + 32 <= size; i += 32) {
        const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(in + i));
        const __m256i low = _mm256_and_si256(x, low_mask);
        // A blend takes each byte's top bit: bits 4, 5 and 6 shifted there.
        const __m256i bit4 = _mm256_slli_epi16(x, 3);
        const __m256i bit5 = _mm256_slli_epi16(x, 2);
        const __m256i bit6 = _mm256_slli_epi16(x, 1);
        const __m256i rows0_3 = _mm256_blendv_epi8(pair(0, low, bit4), pair(1, low, bit4), bit5);
        const __m256i rows4_7 = _mm256_blendv_epi8(pair(2, low, bit4), pair(3, low, bit4), bit5);
        const __m256i rows8_11 = _mm256_blendv_epi8(pair(4, low, bit4), pair(5, low, bit4), bit5);
        const __m256i rows12_15 =
            _mm256_blendv_epi8(pair(6, low, bit4), pair(7, low, bit4), bit5);
        const __m256i rows0_7 = _mm256_blendv_epi8(rows0_3, rows4_7, bit6);
        const __m256i rows8_15 = _mm256_blendv_epi8(rows8_11, rows12_15, bit6);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + i),
                            _mm256_blendv_epi8(rows0_7, rows8_15, x));
    }
    return i;
}

bool have_avx2()
{
    static const bool yes = __builtin_cpu_supports("avx2");
    return yes;
}
#endif

void substitute(const std::uint8_t *table, const std::uint8_t *in, std::uint8_t *out,
                std::size_t size)
{
    std::size_t i = 0;
#if defined(KORVEL_SUBSTITUTE_AVX2)
    if (size >= 32 && have_avx2()) {
        i = substitute_avx2(table, in, out, size);
    }
#endif
    for (; i < size; ++i) {
        out[i] = table[in[i]];
    }
}

} // namespace

void permute_encode(std::uint8_t *data, std::size_t size)
{
    substitute(permute_table, data, data, size);
}

void permute_encode(const std::uint8_t *in, std::uint8_t *out, std::size_t size)
{
    substitute(permute_table, in, out, size);
}

void permute_decode(std::uint8_t *data, std::size_t size)
{
    substitute(decode_table.data(), data, data, size);
}

} // namespace korvel::format
