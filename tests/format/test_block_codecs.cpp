// The block CRC and the permute encoding take whole words (and vector
// registers where the machine has them); on random blocks of random lengths
// at random alignments they must give what one byte at a time gives.
#include "format/crc.h"
#include "format/encoding.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace format = korvel::format;

namespace {

// The format's CRC one bit at a time, straight from the polynomial.
std::uint32_t crc_bitwise(std::uint32_t crc, const std::uint8_t *data, std::size_t size)
{
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1u) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
        }
    }
    return crc;
}

} // namespace

TEST(BlockCodecs, CrcAndEncodingMatchTheByteAtATimeVersionsOnRandomBlocks)
{
    std::mt19937 random(20261208);
    std::vector<std::uint8_t> source(8192 + 128);
    std::vector<std::uint8_t> target(8192 + 128);
    for (int round = 0; round < 400; ++round) {
        for (std::uint8_t &b : source) {
            b = static_cast<std::uint8_t>(random());
        }
        // Lengths around the word and vector widths, and up to a whole block.
        const std::size_t size = round < 100 ? static_cast<std::size_t>(round)
                                             : random() % 8177;
        const std::size_t from = random() % 64;
        const std::size_t to = random() % 64;
        const std::uint32_t seed = round % 3 == 0 ? 0 : static_cast<std::uint32_t>(random());
        const std::uint8_t *in = source.data() + from;

        ASSERT_EQ(format::crc32(seed, in, size), crc_bitwise(seed, in, size))
            << "size " << size << " at " << from;
        // Continuing a CRC over a split is the CRC of the whole.
        const std::size_t split = size == 0 ? 0 : random() % size;
        ASSERT_EQ(format::crc32(format::crc32(seed, in, split), in + split, size - split),
                  crc_bitwise(seed, in, size));

        std::vector<std::uint8_t> expected(in, in + size);
        for (std::uint8_t &b : expected) {
            format::permute_encode(&b, 1);
        }
        std::uint8_t *out = target.data() + to;
        target.assign(target.size(), 0xA5);
        format::permute_encode(in, out, size);
        ASSERT_TRUE(std::equal(expected.begin(), expected.end(), out)) << "size " << size;
        // Nothing written past the end.
        ASSERT_EQ(out[size], 0xA5);

        std::vector<std::uint8_t> in_place(in, in + size);
        format::permute_encode(in_place.data(), in_place.size());
        ASSERT_EQ(in_place, expected);
        format::permute_decode(in_place.data(), in_place.size());
        ASSERT_TRUE(std::equal(in_place.begin(), in_place.end(), in)) << "size " << size;
    }
}
