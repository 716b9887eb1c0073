// The two layouts against the format's documented places and against real
// files of each (enron.pst, and a 32-bit one our writer makes): their header
// CRCs, B-tree pages and the blocks those point to must all check out
// through format/ alone.
#include "format/crc.h"
#include "format/encoding.h"
#include "format/layout.h"
#include "tests/support/pst_builder.h"
#include "tests/support/samples.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

using namespace korvel;
using format::load_le;

namespace {

std::vector<std::uint8_t> read_at(std::ifstream &in, std::uint64_t at, std::size_t size)
{
    std::vector<std::uint8_t> bytes(size);
    in.seekg(static_cast<std::streamoff>(at));
    in.read(reinterpret_cast<char *>(bytes.data()), static_cast<std::streamsize>(size));
    EXPECT_TRUE(in.good()) << "short read at " << at;
    return bytes;
}

// Every page trailer of either layout sits in the page's last bytes and the
// B-tree bookkeeping (cEnt, cEntMax, cbEnt, cLevel, and 4 bytes of padding in
// the 64-bit layout) right before it.
template <class L> void expect_page_geometry()
{
    EXPECT_EQ(L::page_data_size + L::page_trailer_size, format::page_size);
    EXPECT_EQ(L::btpage_entries_size + 4 + (L::is_unicode ? 4 : 0), L::page_data_size);
    EXPECT_EQ(L::block_max_data + L::block_trailer_size, format::block_size);
    EXPECT_EQ(L::bt_entry_size, 3 * L::id_size);
    EXPECT_EQ(L::bbt_entry_size, 2 * L::id_size + 4 + (L::is_unicode ? 4 : 0));
    EXPECT_EQ(L::nbt_entry_size, 3 * L::id_size + 4 + (L::is_unicode ? 4 : 0));
    EXPECT_LE(L::header_crc_start + L::header_crc_partial_size, L::header_size);
}

} // namespace

TEST(FormatLayout, SizesAndTrailerPlacesFollowTheDocumentedStructures)
{
    expect_page_geometry<format::unicode_layout>();
    expect_page_geometry<format::ansi_layout>();

    // The 64-bit trailer is type, repeat, signature, CRC, id; the 32-bit one
    // puts the id before the CRC.
    std::array<std::uint8_t, 512> page{};
    const format::page_trailer t{format::page_type::nbt, 0x81, 0xBEEF, 0x11223344u, 0x55667788u};
    format::unicode_layout::write_page_trailer(page.data(), t);
    EXPECT_EQ(load_le<std::uint32_t>(page.data() + 500), 0x11223344u);
    EXPECT_EQ(load_le<std::uint64_t>(page.data() + 504), 0x55667788u);
    page.fill(0);
    format::ansi_layout::write_page_trailer(page.data(), t);
    EXPECT_EQ(page[500], 0x81);
    EXPECT_EQ(load_le<std::uint16_t>(page.data() + 502), 0xBEEF);
    EXPECT_EQ(load_le<std::uint32_t>(page.data() + 504), 0x55667788u);
    EXPECT_EQ(load_le<std::uint32_t>(page.data() + 508), 0x11223344u);
    const format::page_trailer back = format::ansi_layout::read_page_trailer(page.data());
    EXPECT_EQ(back.bid, t.bid);
    EXPECT_EQ(back.crc, t.crc);
    EXPECT_EQ(back.signature, t.signature);

    std::array<std::uint8_t, 12> block{};
    format::ansi_layout::write_block_trailer(block.data(), {300, 0x1234, 0xCAFEF00Du, 0x48});
    EXPECT_EQ(load_le<std::uint16_t>(block.data()), 300);
    EXPECT_EQ(load_le<std::uint32_t>(block.data() + 4), 0x48u);
    EXPECT_EQ(format::ansi_layout::read_block_trailer(block.data()).crc, 0xCAFEF00Du);

    // A 32-bit node entry is nid, data, subnodes, parent: 4 bytes each.
    std::array<std::uint8_t, 16> nbt{};
    format::ansi_layout::write_nbt_entry(nbt.data(), {0x21, 0x44, 0x48, 0x122});
    EXPECT_EQ(load_le<std::uint32_t>(nbt.data() + 8), 0x48u);
    EXPECT_EQ(format::ansi_layout::read_nbt_entry(nbt.data()).nid_parent, 0x122u);
}

TEST(FormatLayout, PermuteEncodingIsABijectionAndDecodesItself)
{
    std::array<std::uint8_t, 256> bytes{};
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>(i);
    }
    format::permute_encode(bytes.data(), bytes.size());
    std::array<bool, 256> seen{};
    for (std::uint8_t b : bytes) {
        EXPECT_FALSE(seen[b]) << "two bytes encode to " << int(b);
        seen[b] = true;
    }
    EXPECT_EQ(bytes[0], 65); // first entry of the documented table
    format::permute_decode(bytes.data(), bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        EXPECT_EQ(bytes[i], i);
    }
}

namespace {

// Reads a file's header, walks its block B-tree down the first entries to a
// leaf and checks every block that leaf names, all through format/ alone.
template <class L> void check_file(const std::string &path, std::uint8_t expected_crypt)
{
    std::ifstream in(path, std::ios::binary);
    ASSERT_TRUE(in) << path;
    const std::vector<std::uint8_t> h = read_at(in, 0, L::header_size);
    const std::uint16_t version = load_le<std::uint16_t>(h.data() + format::header_version);
    ASSERT_TRUE(L::is_unicode ? format::is_unicode_version(version)
                              : format::is_ansi_version(version))
        << version;
    EXPECT_EQ(load_le<std::uint32_t>(h.data() + L::header_crc_partial),
              format::crc32(0, h.data() + L::header_crc_start, L::header_crc_partial_size));
    if constexpr (L::is_unicode) {
        EXPECT_EQ(load_le<std::uint32_t>(h.data() + L::header_crc_full),
                  format::crc32(0, h.data() + L::header_crc_start, L::header_crc_full_size));
    }
    EXPECT_EQ(h[L::header_sentinel], 0x80);
    const std::uint8_t crypt = h[L::header_crypt_method];
    EXPECT_EQ(crypt, expected_crypt);

    std::uint64_t bid = L::load_id(h.data() + L::header_bbt_bid);
    std::uint64_t ib = L::load_id(h.data() + L::header_bbt_ib);
    std::vector<std::uint8_t> page;
    for (int depth = 0;; ++depth) {
        ASSERT_LT(depth, 8) << "B-tree deeper than any real file";
        page = read_at(in, ib, format::page_size);
        const format::page_trailer t = L::read_page_trailer(page.data());
        EXPECT_EQ(t.type, format::page_type::bbt);
        EXPECT_EQ(t.type_repeat, 0x80);
        EXPECT_EQ(t.bid, bid);
        EXPECT_EQ(t.signature, format::compute_sig(ib, bid));
        EXPECT_EQ(t.crc, format::crc32(0, page.data(), L::page_data_size));
        const std::uint8_t *meta = page.data() + L::btpage_entries_size;
        ASSERT_GT(meta[0], 0);
        ASSERT_LE(meta[0], meta[1]);
        if (meta[3] == 0) {
            EXPECT_EQ(meta[2], L::bbt_entry_size);
            break;
        }
        EXPECT_EQ(meta[2], L::bt_entry_size);
        const format::bt_entry e = L::read_bt_entry(page.data());
        bid = e.bid;
        ib = e.ib;
    }

    std::size_t heaps = 0;
    for (std::size_t i = 0; i < page[L::btpage_entries_size]; ++i) {
        const format::bbt_entry e = L::read_bbt_entry(page.data() + i * L::bbt_entry_size);
        EXPECT_GE(e.refs, 1);
        const std::size_t stored = (e.size + L::block_trailer_size + 63) / 64 * 64;
        std::vector<std::uint8_t> block = read_at(in, e.ib, stored);
        const format::block_trailer t =
            L::read_block_trailer(block.data() + stored - L::block_trailer_size);
        EXPECT_EQ(t.bid, e.bid);
        EXPECT_EQ(t.size, e.size);
        EXPECT_EQ(t.signature, format::compute_sig(e.ib, e.bid));
        EXPECT_EQ(t.crc, format::crc32(0, block.data(), e.size));
        // External blocks holding a heap start with its 0xEC signature once decoded.
        if ((e.bid & 2u) == 0 && e.size >= 4) {
            if (crypt == 1) {
                format::permute_decode(block.data(), e.size);
            }
            heaps += block[2] == 0xEC ? 1u : 0u;
        }
    }
    EXPECT_GT(heaps, 0u);
}

} // namespace

TEST(FormatLayout, ReadsEnronHeaderPagesAndBlocks)
{
    check_file<format::unicode_layout>(korvel::testing::sample_path("enron.pst"), 1);
}

TEST(FormatLayout, ReadsOurOwn32BitFileInBothEncodings)
{
    const std::string dir = korvel::testing::scratch_directory("format_ansi");
    for (bool permute : {true, false}) {
        convert::writer_options options = korvel::testing::pst_builder::ansi(1251);
        options.permute = permute;
        korvel::testing::pst_builder b(options);
        auto &inbox = b.root().add_folder(u8"Входящие");
        for (int i = 0; i < 200; ++i) {
            inbox.add_message("IPM.Note").set_unicode(0x0037, u8"Письмо");
        }
        const std::string path = dir + (permute ? "/permute.pst" : "/plain.pst");
        b.write(path);
        check_file<format::ansi_layout>(path, permute ? 1 : 0);
    }
}
