// The first things every fixture needs: the file opens, folders nest with their
// names (or none), messages carry their class and simple properties.
#include "tests/convert/pff_read.h"
#include "tests/support/pst_builder.h"
#include "tests/support/samples.h"

#include <gtest/gtest.h>

using korvel::testing::pst_builder;
using korvel::testing::pff::file;

namespace {

std::string scratch_file(const std::string &test, const std::string &name)
{
    return korvel::testing::scratch_directory("convert_" + test) + "/" + name;
}

} // namespace

TEST(WriterBasic, EmptyMailboxOpens)
{
    std::string path = scratch_file("empty", "empty.pst");
    pst_builder b;
    b.write(path);
    file f(path);
    ASSERT_TRUE(f.opened);
    auto root = f.root();
    EXPECT_EQ(root.sub_folder_count(), 0);
    EXPECT_EQ(root.message_count(), 0);
    EXPECT_EQ(f.orphans(), 0);
    EXPECT_EQ(f.store().utf8(0x3001), "Personal Folders");
}

TEST(WriterBasic, FoldersAndMessageProperties)
{
    std::string path = scratch_file("basic", "basic.pst");
    pst_builder b;
    auto &inbox = b.root().add_folder(u8"Inbox");
    auto &m = inbox.add_message("IPM.Note");
    m.set_unicode(0x0037, u8"Hello Wörld ✓");
    m.set_long(0x0E07, 1);
    m.set_boolean(0x0057, true);
    m.set_systime(0x0E06, 0x01D9000011112222ull);
    m.set_string8(0x0C1F, "ann@example.com");
    inbox.add_unnamed_folder().add_folder(u8"Below.export:x");
    b.root().add_folder(u8"Second");
    b.write(path);

    file f(path);
    ASSERT_TRUE(f.opened);
    auto root = f.root();
    ASSERT_EQ(root.sub_folder_count(), 2);
    auto in = root.find_folder("Inbox");
    ASSERT_TRUE(in);
    ASSERT_EQ(in.message_count(), 1);
    auto msg = in.message(0);
    EXPECT_EQ(msg.utf8(0x001A), "IPM.Note");
    EXPECT_EQ(msg.utf8(0x0037), "Hello Wörld ✓");
    EXPECT_EQ(msg.u32(0x0E07), 1u);
    EXPECT_EQ(msg.boolean(0x0057), true);
    EXPECT_EQ(msg.filetime(0x0E06), 0x01D9000011112222ull);
    EXPECT_EQ(msg.utf8(0x0C1F), "ann@example.com");
    ASSERT_EQ(in.sub_folder_count(), 1);
    auto unnamed = in.sub_folder(0);
    EXPECT_FALSE(unnamed.folder_name().has_value());
    ASSERT_EQ(unnamed.sub_folder_count(), 1);
    EXPECT_EQ(unnamed.sub_folder(0).folder_name(), "Below.export:x");
    EXPECT_EQ(f.orphans(), 0);
}
