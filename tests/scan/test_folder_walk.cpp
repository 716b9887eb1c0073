// Folder shapes the sample lacks, made by our writer: unnamed folders, names
// that need cleaning, deep chains, the root's own items.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scan/item_export.h"
#include "scan/item_kinds.h"
#include "scan/text.h"
#include "tests/support/pst_builder.h"
#include "tests/support/samples.h"
#include "tests/support/scan_session.h"

namespace korvel {
namespace {

using testing::narrow;
using testing::pst_builder;
using testing::scan_session;

std::string written(const pst_builder &builder, const std::string &name)
{
    const std::string path = testing::scratch_directory("walk-" + name) + "/" + name + ".pst";
    builder.write(path);
    return path;
}

// The recorded tree below the root as "level text" lines.
std::vector<std::string> tree_lines(const scan_session &session)
{
    std::vector<std::string> lines;
    for (std::size_t i = 1; i < session.views.tree.size(); ++i) {
        const auto &item = session.views.tree[i];
        lines.push_back(std::to_string(item.level) + " " + narrow(item.text));
    }
    return lines;
}

TEST(folder_walk, UnnamedFoldersAreNumberedAndNamesCleaned)
{
    pst_builder builder;
    auto &top = builder.root().add_folder("Mail");
    top.add_folder("Calendar: Team");
    top.add_folder("Budget 50% <draft>?");
    top.add_unnamed_folder();
    auto &empty = top.add_folder("x");
    empty.props().set_unicode(0x3001, std::string_view(""));
    top.add_folder("a|b#c=d");

    scan_session session;
    ASSERT_EQ(session.scan(written(builder, "names")), 1);
    EXPECT_EQ(tree_lines(session),
              (std::vector<std::string>{"1 Mail", "2 Calendar_ Team", "2 Budget 50_ _draft__",
                                        "2 Folder00003", "2 Folder00004", "2 a|b#c=d"}));
    for (std::size_t i = 1; i < session.views.tree.size(); ++i) {
        EXPECT_TRUE(session.views.tree[i].bold);
    }
    // Each node knows its parent path and tree items.
    const folder_node *node = session.state.folders.head;
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->parent_path, u"");
    EXPECT_EQ(node->parent_tree_item, session.views.tree_root_item());
    node = node->next;
    EXPECT_EQ(narrow(node->parent_path), "/Mail");
    EXPECT_EQ(narrow(node->name), "Calendar_ Team");
}

TEST(folder_walk, TwentySevenLevelsAndNoDeeper)
{
    pst_builder builder;
    auto &first = builder.root().add_folder("Deep");
    first.add_folder_chain(32, "L");
    builder.root().add_folder("After");

    scan_session session;
    ASSERT_EQ(session.scan(written(builder, "deep")), 1);
    const auto lines = tree_lines(session);
    ASSERT_EQ(lines.size(), 28u);
    EXPECT_EQ(lines.front(), "1 Deep");
    EXPECT_EQ(lines[26], "27 L26");
    // The sibling after the chain is unaffected.
    EXPECT_EQ(lines.back(), "1 After");
    EXPECT_EQ(session.state.folders.count, 28u);
    // Every folder sits under the one inserted before it.
    for (std::size_t i = 2; i <= 27; ++i) {
        EXPECT_EQ(session.views.tree[i].parent, session.views.tree[i - 1].handle);
    }
}

TEST(folder_walk, ExportInNamesLeavesLevelsAlone)
{
    pst_builder builder;
    auto &a = builder.root().add_folder("a.export");
    auto &b = a.add_folder(".export");
    b.add_folder("export");
    builder.root().add_folder("z");

    scan_session session;
    ASSERT_EQ(session.scan(written(builder, "export-names")), 1);
    EXPECT_EQ(tree_lines(session),
              (std::vector<std::string>{"1 a.export", "2 .export", "3 export", "1 z"}));
    EXPECT_NE(session.views.find_path(u"a.export/.export/export"), 0u);
}

TEST(folder_walk, EmptyMailboxCompletesWithTheRootAlone)
{
    pst_builder builder;
    scan_session session;
    ASSERT_EQ(session.scan(written(builder, "empty")), 1);
    ASSERT_EQ(session.views.messages.size(), 1u);
    EXPECT_EQ(narrow(session.views.messages[0].text), "Analysis completed");
    // Whatever the writer's required nodes show, no message was listed.
    EXPECT_TRUE(session.views.rows.empty());
}

TEST(folder_walk, ItemsInTheRootFolderAreListedDuringTheScan)
{
    pst_builder builder;
    builder.root().add_folder("Inbox").add_message("IPM.Note").set_unicode(0x0037, "in inbox");
    auto &at_root = builder.root().add_message("IPM.Note");
    at_root.set_unicode(0x0037, "at the root");
    at_root.set_body("root body");

    scan_session session;
    ASSERT_EQ(session.scan(written(builder, "root-items")), 1);
    ASSERT_EQ(session.views.rows.size(), 1u);
    EXPECT_EQ(narrow(*session.views.rows[0].cells[3]), "at the root");
    ASSERT_EQ(session.state.records.count, 1u);
    EXPECT_EQ(session.state.records.head->parent, session.state.root_folder);
    // The folder comes first among the root's sub-items.
    EXPECT_EQ(session.state.records.head->index, 1);
    // The preview finds it again among the root's sub-items, after the folder.
    message_values &values = export_message_values();
    values.temporary_directory = testing::scratch_directory("walk-root-export") + "/";
    message_values_clear(&values);
    EXPECT_EQ(export_record_item(&session.state, session.state.records.head), 1);
    const std::string body(values.body_bytes.begin(), values.body_bytes.end());
    EXPECT_NE(body.find("root body"), std::string::npos);
    message_values_clear(&values);
    values.temporary_directory.clear();

    // The next click replaces it.
    ASSERT_TRUE(session.fill("Inbox"));
    ASSERT_EQ(session.views.rows.size(), 1u);
    EXPECT_EQ(narrow(*session.views.rows[0].cells[3]), "in inbox");
    EXPECT_EQ(narrow(*session.views.rows[0].cells[0]), "1");
}

TEST(folder_walk, ASecondFileReplacesTheFirst)
{
    pst_builder one;
    one.root().add_folder("One").add_message("IPM.Note").set_unicode(0x0037, "first file");
    pst_builder two;
    two.root().add_folder("Two").add_message("IPM.Note").set_unicode(0x0037, "second file");

    scan_session session;
    ASSERT_EQ(session.scan(written(one, "one")), 1);
    session.views.tree.clear();
    ASSERT_EQ(session.scan(written(two, "two")), 1);
    EXPECT_EQ(session.views.find_path(u"One"), 0u);
    ASSERT_TRUE(session.fill("Two"));
    ASSERT_EQ(session.views.rows.size(), 1u);
    EXPECT_EQ(narrow(*session.views.rows[0].cells[3]), "second file");
}

TEST(folder_walk, TopOfPersonalFoldersGetsTheUsualImages)
{
    pst_builder builder;
    builder.top_of_personal_folders();
    scan_session session;
    ASSERT_EQ(session.scan(written(builder, "usual")), 1);
    const tree_item inbox = session.views.find_path(u"Top of Personal Folders/Inbox");
    ASSERT_NE(inbox, 0u);
    EXPECT_EQ(session.views.find_item(inbox)->image, 7);
    const tree_item junk = session.views.find_path(u"Top of Personal Folders/Junk E-mail");
    ASSERT_NE(junk, 0u);
    EXPECT_EQ(session.views.find_item(junk)->image, 0);
    EXPECT_EQ(session.views.tree[0].image, 0);
}

} // namespace
} // namespace korvel
