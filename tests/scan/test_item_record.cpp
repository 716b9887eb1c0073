// The text rules of the item list and the listing of real folders.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include <libpff.h>

#include "scan/item_record.h"
#include "scan/text.h"
#include "tests/support/samples.h"
#include "tests/support/scan_session.h"

namespace korvel {
namespace {

using testing::narrow;

std::u16string bytes_text(const std::string &bytes)
{
    // The count includes the terminating zero, as the extraction passes it.
    return sanitize_byte_text(reinterpret_cast<const std::uint8_t *>(bytes.c_str()),
                              bytes.size() + 1);
}

TEST(path_text, WellKnownNamesAndReplacedCharacters)
{
    EXPECT_EQ(sanitize_path_text(u"/Top of Personal Folders/Deleted Items"),
              u"/Top-of-Personal-Folders/Deleted-Items");
    EXPECT_EQ(sanitize_path_text(u"/Inbox/Calendar_ Team"), u"/Inbox/Calendar- Team");
    EXPECT_EQ(sanitize_path_text(u"/a:b]c^d{e|f}g~h"), u"/a-b-c-d-e-f-g-h");
    EXPECT_EQ(sanitize_path_text(u"/Caf\u00e9/\u65e5x"), u"/Caf-/-x");
    EXPECT_EQ(sanitize_path_text(u"/x\u65e5"), u"/x\u65e5");
    // The last character is replaced only when it also occurs earlier.
    EXPECT_EQ(sanitize_path_text(u"/ab_"), u"/ab_");
    EXPECT_EQ(sanitize_path_text(u"/a_b_"), u"/a-b-");
    EXPECT_EQ(sanitize_path_text(u"/Digits 0-9 [x] `q`"), u"/Digits 0-9 [x- `q`");
    EXPECT_EQ(sanitize_path_text(u""), u"");
}

TEST(byte_text, DropsControlsAndDecodesUTF8)
{
    EXPECT_EQ(bytes_text("Hello\tWor\rld\n\\!"), u"HelloWorld!");
    EXPECT_EQ(bytes_text("\x01\x1e\x1fok"), u"\x1fok");
    EXPECT_EQ(bytes_text("Caf\xc3\xa9"), u"Caf\u00e9");
    EXPECT_EQ(bytes_text("Caf\xe9"), u"Caf\u00e9");
    EXPECT_EQ(bytes_text("\xe6\x97\xa5\xe6\x9c\xac"), u"\u65e5\u672c");
    // U+00CD goes only when it stands for a lone byte.
    EXPECT_EQ(bytes_text("a\xcd"
                         "b"),
              u"ab");
    EXPECT_EQ(bytes_text("a\xc3\x8d"
                         "b"),
              u"a\u00cdb");
    // A control byte inside a UTF-8 sequence is dropped first.
    EXPECT_EQ(bytes_text("\xc3\x09\xa9"), u"\u00e9");
    EXPECT_EQ(sanitize_byte_text(nullptr, 4), u"");
}

TEST(kinds, TableNamesAndHandling)
{
    struct expected_kind
    {
        std::uint8_t type;
        const char *name;
        kind_handling handling;
    };
    const expected_kind table[] = {
        {1, "activity", kind_handling::record}, {2, "appointment", kind_handling::record},
        {8, "contact", kind_handling::record},  {10, "document", kind_handling::name},
        {11, "email", kind_handling::record},   {12, "email", kind_handling::record},
        {14, "folder", kind_handling::folder},  {15, "meeting", kind_handling::record},
        {17, "note", kind_handling::record},    {20, "RSSfeed", kind_handling::record},
        {26, "task", kind_handling::record}};
    for (const auto &entry : table) {
        const item_kind *kind = item_kind_for_type(entry.type);
        ASSERT_NE(kind, nullptr);
        EXPECT_EQ(narrow(kind->name), entry.name);
        EXPECT_EQ(kind->handling, entry.handling);
    }
    for (int type : {0, 3, 4, 5, 9, 13, 16, 18, 19, 21, 25, 27, 255}) {
        EXPECT_EQ(item_kind_for_type(static_cast<std::uint8_t>(type)), nullptr) << type;
    }
}

TEST(record_list, AppendFindAndFree)
{
    item_record_list list{};
    item_record record{};
    for (int i = 1; i <= 1000; ++i) {
        record.sequence = i;
        record.index = i - 1;
        ASSERT_EQ(item_record_list_append(&list, record), 1);
    }
    EXPECT_EQ(list.count, 1000u);
    EXPECT_EQ(list.head->sequence, 1);
    EXPECT_EQ(list.tail->sequence, 1000);
    ASSERT_NE(item_record_list_find(&list, 500), nullptr);
    EXPECT_EQ(item_record_list_find(&list, 500)->index, 499);
    EXPECT_EQ(item_record_list_find(&list, 1001), nullptr);
    item_record_list_free(&list);
    EXPECT_EQ(list.head, nullptr);
    EXPECT_EQ(list.tail, nullptr);
    EXPECT_EQ(item_record_list_append(&list, record), 1);
    item_record_list_free(&list);
}

struct enron : ::testing::Test
{
    testing::scan_session session;
    void SetUp() override { ASSERT_EQ(session.scan(testing::sample_path("enron.pst")), 1); }
};

TEST_F(enron, EveryFolderListsItsEmailsNewestRowFirst)
{
    std::size_t listed = 0;
    for (const folder_node *node = session.state.folders.head; node != nullptr; node = node->next) {
        int messages = 0;
        ASSERT_EQ(libpff_folder_get_number_of_sub_messages(node->folder_item, &messages, nullptr),
                  1);
        folder_fill(&session.state, node->item);
        const auto &rows = session.views.rows;
        // Every message of the sample is an e-mail: one row each.
        ASSERT_EQ(rows.size(), static_cast<std::size_t>(messages)) << narrow(node->name);
        ASSERT_EQ(session.state.records.count, rows.size());
        for (std::size_t r = 0; r < rows.size(); ++r) {
            EXPECT_EQ(narrow(*rows[r].cells[0]), std::to_string(rows.size() - r));
            EXPECT_EQ(narrow(*rows[r].cells[1]), "email");
        }
        // Records are in reading order, each with its own index and parent.
        std::int32_t expected = 1;
        for (const item_record *record = session.state.records.head; record != nullptr;
             record = record->next, ++expected) {
            EXPECT_EQ(record->sequence, expected);
            EXPECT_EQ(record->index, expected - 1);
            EXPECT_EQ(record->parent, node->folder_item);
            EXPECT_EQ(record->path.find(u".export"), std::u16string::npos);
        }
        if (!rows.empty()) {
            EXPECT_EQ(narrow(session.views.column_titles[2]), "From: ");
            EXPECT_EQ(narrow(session.views.column_titles[3]), "Subjects");
        }
        listed += rows.size();
        EXPECT_TRUE(session.views.tree_enabled);
        EXPECT_EQ(session.views.progress.back(), 0);
    }
    EXPECT_GT(listed, 60u);
}

TEST_F(enron, ProgressCountsToOneHundredAndEndsAtZero)
{
    const tree_item personal = session.views.find_path(
        u"Top of Personal Folders/lokay-m/MLOKAY (Non-Privileged)/Personal");
    ASSERT_NE(personal, 0u);
    session.views.progress.clear();
    folder_fill(&session.state, personal);
    const auto &progress = session.views.progress;
    ASSERT_EQ(progress.size(), session.views.rows.size() + 1);
    for (std::size_t i = 0; i + 1 < progress.size(); ++i) {
        EXPECT_EQ(progress[i], static_cast<int>(i));
    }
    EXPECT_EQ(progress.back(), 0);
}

TEST_F(enron, RootItemAndUnknownItemsListNothing)
{
    session.fill("Top of Personal Folders/lokay-m/MLOKAY (Non-Privileged)/Personal");
    ASSERT_FALSE(session.views.rows.empty());
    folder_fill(&session.state, session.views.tree_root_item());
    EXPECT_TRUE(session.views.rows.empty());
    EXPECT_EQ(session.state.records.count, 0u);
    EXPECT_EQ(session.state.selected_folder_item, session.views.tree_root_item());
    // The headers keep their last renaming.
    EXPECT_EQ(narrow(session.views.column_titles[2]), "From: ");
    folder_fill(&session.state, 999999);
    EXPECT_TRUE(session.views.rows.empty());
}

TEST_F(enron, FolderLookupKnowsFolderItemsAndTheirParents)
{
    EXPECT_TRUE(folder_list_knows(&session.state.folders, session.views.tree_root_item()));
    const tree_item personal = session.views.find_path(
        u"Top of Personal Folders/lokay-m/MLOKAY (Non-Privileged)/Personal");
    EXPECT_TRUE(folder_list_knows(&session.state.folders, personal));
    EXPECT_FALSE(folder_list_knows(&session.state.folders, 999999));
    EXPECT_FALSE(folder_list_knows(&session.state.folders, 0));
}

} // namespace
} // namespace korvel
