// Shapes that need the multi-level structures: deep folder paths, large
// folders (row matrix in a subnode, multi-level B-trees), reproducible output.
#include "tests/convert/pff_read.h"
#include "tests/support/pst_builder.h"
#include "tests/support/samples.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

using korvel::testing::pst_builder;
using korvel::testing::pff::file;
namespace convert = korvel::convert;

namespace {

std::string scratch_file(const std::string &test, const std::string &name)
{
    return korvel::testing::scratch_directory("convert_" + test) + "/" + name;
}

std::vector<char> read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void fill(pst_builder &b)
{
    auto &deep = b.root().add_folder(u8"Deep").add_folder_chain(44, "L");
    deep.add_message("IPM.Note").set_unicode(0x0037, u8"at the bottom");
    auto &big = b.top_of_personal_folders().find(u8"Inbox")->add_folder(u8"Big");
    for (int i = 0; i < 3000; ++i) {
        auto &m = big.add_message("IPM.Note");
        m.set_unicode(0x0037, "Subject number " + std::to_string(i));
        m.set_long(0x0E07, i % 2);
        m.set_long(0x0017, i % 3);
        m.set_systime(0x0E06, convert::filetime_from_unix(1700000000 + i));
        m.set_unicode(0x0C1A, u8"Sender");
    }
    auto &wide = b.root().add_folder(u8"Wide");
    for (int i = 0; i < 700; ++i) {
        wide.add_folder("Sub " + std::to_string(i));
    }
}

} // namespace

TEST(WriterScale, DeepPathsLargeFoldersAndManyFolders)
{
    std::string path = scratch_file("scale", "scale.pst");
    pst_builder b;
    fill(b);
    b.write(path);

    file f(path);
    ASSERT_TRUE(f.opened);
    auto root = f.root();
    auto folder = root.find_folder("Deep");
    for (int level = 1; level <= 44 && folder; ++level) {
        ASSERT_EQ(folder.sub_folder_count(), 1) << "level " << level;
        folder = folder.sub_folder(0);
        EXPECT_EQ(folder.folder_name(), "L" + std::to_string(level));
    }
    ASSERT_TRUE(folder);
    ASSERT_EQ(folder.message_count(), 1);
    EXPECT_EQ(folder.message(0).utf8(0x0037), "at the bottom");

    auto big = root.find_folder("Top of Personal Folders").find_folder("Inbox").find_folder("Big");
    ASSERT_TRUE(big);
    ASSERT_EQ(big.message_count(), 3000);
    for (int i : {0, 1, 1499, 2999}) {
        auto m = big.message(i);
        EXPECT_EQ(m.utf8(0x0037), "Subject number " + std::to_string(i));
        EXPECT_EQ(m.u32(0x0E07), static_cast<std::uint32_t>(i % 2));
        EXPECT_EQ(m.filetime(0x0E06), convert::filetime_from_unix(1700000000 + i));
    }
    EXPECT_EQ(big.u32(0x3602), 3000u); // PidTagContentCount
    EXPECT_EQ(big.u32(0x3603), 1500u); // PidTagContentUnreadCount
    auto wide = root.find_folder("Wide");
    ASSERT_EQ(wide.sub_folder_count(), 700);
    EXPECT_EQ(wide.sub_folder(699).folder_name(), "Sub 699");
    EXPECT_EQ(f.orphans(), 0);
}

TEST(WriterScale, SameInputSameBytesAndBothEncodings)
{
    std::string a = scratch_file("repro", "a.pst");
    std::string b2 = korvel::testing::scratch_directory("convert_repro2") + "/b.pst";
    for (bool ansi : {false, true}) {
        for (const std::string &p : {a, b2}) {
            pst_builder b(ansi ? pst_builder::ansi(1250) : convert::writer_options{});
            fill(b);
            b.write(p);
        }
        EXPECT_EQ(read_file(a), read_file(b2)) << (ansi ? "32-bit" : "64-bit");
    }

    convert::writer_options plain;
    plain.permute = false;
    pst_builder b(plain);
    b.root().add_folder(u8"Plain").add_message("IPM.Note").set_unicode(0x0037, u8"not encoded");
    std::string c = korvel::testing::scratch_directory("convert_plain") + "/c.pst";
    b.write(c);
    file f(c);
    ASSERT_TRUE(f.opened);
    EXPECT_EQ(f.root().find_folder("Plain").message(0).utf8(0x0037), "not encoded");
    // The subject's UTF-16 bytes appear as such in an unencoded file.
    auto bytes = read_file(c);
    std::string needle = {'n', 0, 'o', 0, 't', 0, ' ', 0, 'e', 0};
    EXPECT_NE(std::search(bytes.begin(), bytes.end(), needle.begin(), needle.end()), bytes.end());

    // And a 32-bit file's 8-bit text appears in its code page (1250 here).
    convert::writer_options ansi_plain = pst_builder::ansi(1250);
    ansi_plain.permute = false;
    pst_builder d(ansi_plain);
    d.root().add_folder(u8"Plain").add_message("IPM.Note").set_unicode(0x0037, u8"žluťoučký");
    std::string e = korvel::testing::scratch_directory("convert_plain_ansi") + "/e.pst";
    d.write(e);
    bytes = read_file(e);
    needle = "\x9Elu\x9Dou\xE8k\xFD";
    EXPECT_NE(std::search(bytes.begin(), bytes.end(), needle.begin(), needle.end()), bytes.end());
}
