// "Recovered Items": the tree node, its rows and previews, and the save's
// folder of the same name come from one list, on a mailbox damaged on purpose.
#include "convert/save/save.h"
#include "scan/item_export.h"
#include "scan/item_kinds.h"
#include "scan/pff_values.h"
#include "scan/text.h"
#include "tests/convert/pff_read.h"
#include "tests/support/pst_builder.h"
#include "tests/support/pst_damage.h"
#include "tests/support/samples.h"
#include "tests/support/scan_session.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

namespace convert = korvel::convert;
using korvel::testing::narrow;
using korvel::testing::scan_session;
using korvel::testing::pff::file;
using korvel::testing::pff::item;

namespace {

std::string scratch(const std::string &test)
{
    return korvel::testing::scratch_directory("save_recovered_" + test);
}

std::vector<std::string> tree_lines(const scan_session &session)
{
    std::vector<std::string> lines;
    for (const auto &entry : session.views.tree) {
        lines.push_back(std::to_string(entry.level) + " " + std::to_string(entry.image) + " " +
                        narrow(entry.text));
    }
    return lines;
}

std::multiset<std::string> folder_subjects(const std::string &pst, const std::string &name)
{
    file f(pst);
    item folder = f.root().find_folder(name);
    std::multiset<std::string> subjects;
    for (int i = 0; folder && i < folder.message_count(); ++i) {
        subjects.insert(folder.message(i).utf8(0x0037).value_or(""));
    }
    return subjects;
}

} // namespace

TEST(RecoveredItems, TheNodeListsPreviewsAndSavesTheSameItems)
{
    const std::string dir = scratch("node");
    const std::string source = dir + "/source.pst";
    ASSERT_TRUE(korvel::testing::write_mailbox_with_recovered_items(source));

    scan_session session;
    ASSERT_EQ(session.scan(source), 1);
    EXPECT_EQ(tree_lines(session),
              (std::vector<std::string>{"0 0 " + source, "1 0 Mail", "1 0 Old", "1 17 Recovered Items",
                                        "2 17 Outside any folder (2)",
                                        "2 17 Deleted, found in free space (1)"}));

    // A click on the node lists its items as a folder does, and each row
    // previews its own item.
    ASSERT_TRUE(session.fill("Recovered Items"));
    EXPECT_EQ(narrow(session.views.column_titles[3]), "Subjects");
    std::multiset<std::string> listed;
    korvel::message_values &values = korvel::export_message_values();
    values.temporary_directory = dir + "/";
    for (const korvel::item_record *r = session.state.records.head; r != nullptr; r = r->next) {
        EXPECT_EQ(r->kind, u"email");
        EXPECT_EQ(r->source, narrow(r->subject) == "Deleted"
                                 ? korvel::recovered_source::free_space
                                 : korvel::recovered_source::orphans);
        listed.insert(narrow(r->subject));
        korvel::message_values_clear(&values);
        ASSERT_EQ(korvel::export_record_item(&session.state, r), 1);
        const std::string body(values.body_bytes.begin(), values.body_bytes.end());
        EXPECT_NE(body.find("body of " + narrow(r->subject)), std::string::npos) << body;
    }
    korvel::message_values_clear(&values);
    EXPECT_EQ(listed, (std::multiset<std::string>{"In lost", "Below lost", "Deleted"}));
    // A source's own node lists its part.
    ASSERT_TRUE(session.fill("Recovered Items/Deleted, found in free space (1)"));
    ASSERT_EQ(session.views.rows.size(), 1u);
    EXPECT_EQ(narrow(*session.views.rows[0].cells[3]), "Deleted");

    // The whole mailbox: the folders, and what the node listed in "Recovered Items".
    convert::save_request request;
    request.target = dir + "/whole.pst";
    convert::save_report report;
    ASSERT_EQ(convert::save_mailbox(&session.state, request, {}, report), 1) << report.failure;
    EXPECT_EQ(report.recovered, listed.size());
    EXPECT_EQ(folder_subjects(request.target, "Recovered Items"), listed);
    EXPECT_EQ(folder_subjects(request.target, "Mail"),
              (std::multiset<std::string>{"Kept 1", "Kept 2"}));
    EXPECT_TRUE(folder_subjects(request.target, "Old").empty());

    // The node checked alone: "Recovered Items" and nothing else.
    request.target = dir + "/only.pst";
    request.recovered_only = true;
    ASSERT_EQ(convert::save_mailbox(&session.state, request, {}, report), 1) << report.failure;
    EXPECT_EQ(report.items, 0u);
    EXPECT_EQ(folder_subjects(request.target, "Recovered Items"), listed);
    file only(request.target);
    EXPECT_FALSE(only.root().find_folder("Mail"));
}

TEST(RecoveredItems, AnIntactMailboxShowsNoNode)
{
    korvel::testing::pst_builder builder;
    builder.root().add_folder(u8"Mail").add_message("IPM.Note").set_unicode(0x0037, "kept");
    const std::string path = scratch("intact") + "/intact.pst";
    builder.write(path);
    for (const std::string &mailbox : {path, korvel::testing::sample_path("enron.pst")}) {
        scan_session session;
        ASSERT_EQ(session.scan(mailbox), 1);
        for (const auto &entry : session.views.tree) {
            EXPECT_NE(entry.image, korvel::testing::recovered_tree_image) << narrow(entry.text);
        }
        EXPECT_EQ(korvel::recovered_items_total(&session.state.recovered), 0u);
    }
}

// The free-space search passes no gate: a Stop confirmed while it runs aborts
// libpff and ends the save as a stop, leaving nothing behind; the next save of
// the same file goes on without the deleted item the aborted search missed.
TEST(RecoveredItems, AStopDuringTheFreeSpaceSearchEndsTheSaveAsAStop)
{
    const std::string dir = scratch("stop");
    const std::string source = dir + "/source.pst";
    ASSERT_TRUE(korvel::testing::write_mailbox_with_recovered_items(source));
    // Opened without a scan, so that the save runs the search itself.
    korvel::scan_state state;
    state.mailbox_path = korvel::u16(source);
    korvel::error_slot error;
    ASSERT_EQ(libpff_file_initialize(&state.file, error.get()), 1);
    ASSERT_EQ(libpff_file_open(state.file, source.c_str(), LIBPFF_OPEN_READ, error.get()), 1);

    convert::save_request request;
    request.target = dir + "/stopped.pst";
    // On one thread the save searches the scan's own file (more threads
    // search another: tests/convert/test_save_parallel).
    request.threads = 1;
    int steps = 0;
    request.searching_free_space = [&] {
        ++steps;
        korvel::scan_state_request_stop(&state);
    };
    convert::save_report report;
    EXPECT_EQ(convert::save_mailbox(&state, request, {}, report), 0);
    EXPECT_TRUE(report.stopped);
    EXPECT_EQ(steps, 1);
    EXPECT_TRUE(state.recovered.free_space_stopped);
    EXPECT_FALSE(std::filesystem::exists(request.target));
    for (const auto &entry : std::filesystem::directory_iterator(dir)) {
        EXPECT_EQ(entry.path().filename(), "source.pst");
    }

    state.stop_requested = false;
    request.target = dir + "/again.pst";
    ASSERT_EQ(convert::save_mailbox(&state, request, {}, report), 1) << report.failure;
    EXPECT_EQ(steps, 1); // libpff searches a file once
    EXPECT_EQ(folder_subjects(request.target, "Recovered Items"),
              (std::multiset<std::string>{"In lost", "Below lost"}));
}

// On a big file the free-space search waits for the first click on its node:
// the node says so, and the click runs it under the wait dialog and shows the
// count it found.
TEST(RecoveredItems, AFreeSpaceSearchLeftForTheClickRunsOnTheFirstOne)
{
    const std::string source = scratch("deferred") + "/source.pst";
    ASSERT_TRUE(korvel::testing::write_mailbox_with_recovered_items(source));
    scan_session session;
    session.state.recovered.search_at_scan_limit = 0;
    ASSERT_EQ(session.scan(source), 1);
    const std::vector<std::string> lines = tree_lines(session);
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[5], "2 17 Deleted, found in free space (click to search)");
    EXPECT_FALSE(session.state.recovered.free_space_searched);

    const int dialogs = session.views.wait_dialog_shows;
    ASSERT_TRUE(session.fill("Recovered Items/Deleted, found in free space (click to search)"));
    EXPECT_EQ(session.views.wait_dialog_shows, dialogs + 1);
    EXPECT_EQ(tree_lines(session)[5], "2 17 Deleted, found in free space (1)");
    ASSERT_EQ(session.views.rows.size(), 1u);
    EXPECT_EQ(narrow(*session.views.rows[0].cells[3]), "Deleted");
    // Searched once: a second click only lists.
    ASSERT_TRUE(session.fill("Recovered Items/Deleted, found in free space (1)"));
    EXPECT_EQ(session.views.wait_dialog_shows, dialogs + 1);
    EXPECT_EQ(session.views.rows.size(), 1u);
}

TEST(RecoveredItems, MessagesRebuiltUnderTheRootFolderShowUnderTheirOwnNode)
{
    // Every node page of the sample zeroed: no folder survives, so the rebuild
    // hangs its messages under the root folder, which the tree does not list.
    const std::string dir = scratch("rebuilt");
    const std::string source = dir + "/node-pages.pst";
    std::vector<std::uint8_t> bytes =
        korvel::testing::read_bytes(korvel::testing::sample_path("enron.pst"));
    ASSERT_TRUE(korvel::testing::damage_by_name("node-pages", bytes));
    korvel::testing::write_bytes(source, bytes);

    scan_session session;
    ASSERT_EQ(session.scan(source), 1);
    const std::size_t rebuilt =
        korvel::recovered_items_count(&session.state.recovered, korvel::recovered_source::rebuilt);
    EXPECT_GE(rebuilt, 69u);
    EXPECT_EQ(tree_lines(session),
              (std::vector<std::string>{"0 0 " + source, "1 17 Recovered Items",
                                        "2 17 Rebuilt from a damaged index (" +
                                            std::to_string(rebuilt) + ")"}));
    ASSERT_TRUE(session.fill("Recovered Items"));
    std::multiset<std::string> listed;
    for (const korvel::item_record *r = session.state.records.head; r != nullptr; r = r->next) {
        EXPECT_EQ(r->source, korvel::recovered_source::rebuilt);
        listed.insert(narrow(r->subject));
    }

    // The save writes each of them once, although the root folder holds them too.
    convert::save_request request;
    request.target = dir + "/copy.pst";
    convert::save_report report;
    ASSERT_EQ(convert::save_mailbox(&session.state, request, {}, report), 1) << report.failure;
    EXPECT_EQ(report.recovered, rebuilt);
    const std::multiset<std::string> saved = folder_subjects(request.target, "Recovered Items");
    EXPECT_EQ(saved.size(), listed.size());
}
