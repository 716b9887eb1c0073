// A mailbox whose index cannot be reached is opened through an index rebuilt
// from the pages and blocks that still check. Copies of the sample are
// damaged the ways files are found damaged: a root page or the header's root
// pointers destroyed (nothing may be lost), the file cut short (the messages
// whose blocks lie before the cut are found and preview).
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "convert/save/save.h"
#include "format/layout.h"
#include "scan/item_export.h"
#include "scan/item_kinds.h"
#include "scan/item_record.h"
#include "scan/recovery/index_rebuild.h"
#include "scan/text.h"
#include "tests/support/mailbox_listing.h"
#include "tests/support/pst_builder.h"
#include "tests/support/pst_damage.h"
#include "tests/support/samples.h"

namespace korvel {
namespace {

using testing::mailbox_listing;
using testing::scan_session;

std::string damaged_copy(const std::string &name,
                         const std::function<void(std::vector<std::uint8_t> &)> &damage)
{
    std::vector<std::uint8_t> bytes = testing::read_bytes(testing::sample_path("enron.pst"));
    damage(bytes);
    const std::string path = testing::scratch_directory("index-rebuild") + "/" + name + ".pst";
    testing::write_bytes(path, bytes);
    return path;
}

void zero_page(std::vector<std::uint8_t> &bytes, std::uint64_t at)
{
    ASSERT_LE(at + 512, bytes.size());
    std::memset(bytes.data() + at, 0, 512);
}

struct intact_sample
{
    std::vector<std::uint8_t> bytes = testing::read_bytes(testing::sample_path("enron.pst"));
    testing::index_view index = testing::read_index(bytes);
    mailbox_listing listing;

    intact_sample()
    {
        scan_session session;
        EXPECT_EQ(session.scan(testing::sample_path("enron.pst")), 1);
        listing = testing::list_mailbox(session);
    }
};

const intact_sample &intact()
{
    static const intact_sample sample;
    return sample;
}

TEST(IndexRebuild, ALostRootOrHeaderPointerLosesNothing)
{
    const testing::index_view &index = intact().index;
    ASSERT_FALSE(index.nodes.empty());
    const std::vector<std::pair<std::string, std::function<void(std::vector<std::uint8_t> &)>>>
        damages = {
            {"node-root", [&](auto &b) { zero_page(b, index.nbt_root_offset); }},
            {"block-root", [&](auto &b) { zero_page(b, index.bbt_root_offset); }},
            {"both-roots",
             [&](auto &b) {
                 zero_page(b, index.nbt_root_offset);
                 zero_page(b, index.bbt_root_offset);
             }},
            {"header-pointers", [](auto &b) { std::memset(b.data() + 0xD8, 0xA5, 32); }},
        };
    for (const auto &[name, damage] : damages) {
        scan_session session;
        ASSERT_EQ(session.scan(damaged_copy(name, damage)), 1) << name;
        ASSERT_FALSE(session.state.rebuild_report.empty()) << name;
        const mailbox_listing got = testing::list_mailbox(session);
        EXPECT_EQ(got.tree, intact().listing.tree) << name;
        EXPECT_EQ(got.folders, intact().listing.folders) << name;
        EXPECT_EQ(got.fetched, intact().listing.fetched) << name;
    }
}

TEST(IndexRebuild, ACutFileKeepsEveryMessageWhoseBlocksLieBeforeTheCut)
{
    const intact_sample &sample = intact();
    for (const int percent : {50, 90}) {
        const std::uint64_t cut = sample.bytes.size() * static_cast<std::uint64_t>(percent) / 100;
        std::set<std::uint32_t> expected;
        for (const auto &[nid, node] : sample.index.nodes) {
            const std::uint64_t end = sample.index.node_end(sample.bytes, nid);
            if ((nid & 0x1F) == 0x04 && end != 0 && end <= cut &&
                sample.listing.fetched.count(nid) != 0) {
                expected.insert(nid);
            }
        }
        ASSERT_GT(expected.size(), 10u) << percent;
        scan_session session;
        ASSERT_EQ(session.scan(damaged_copy("cut-" + std::to_string(percent),
                                            [&](auto &b) { b.resize(cut); })),
                  1)
            << percent;
        const mailbox_listing got = testing::list_mailbox(session, true);
        std::size_t found = 0;
        for (const std::uint32_t nid : expected) {
            found += got.fetched.count(nid);
            // A message listed also previews.
            EXPECT_EQ(got.previewed.count(nid), got.fetched.count(nid)) << nid;
        }
        // At 90% a few messages' node entries lie only in index pages past
        // the cut (no older copy of them remains): those are not found.
        EXPECT_GE(found * 10, expected.size() * 9) << percent << "% cut";
        if (percent == 50) {
            EXPECT_EQ(found, expected.size());
        }
    }
}

// A writer-made mailbox of either layout: a folder of 60 numbered messages.
std::string writer_mailbox(const std::string &name, bool ansi)
{
    testing::pst_builder builder(ansi ? testing::pst_builder::ansi() : convert::writer_options{});
    auto &inbox = builder.root().add_folder("Inbox");
    for (int n = 0; n < 60; ++n) {
        auto &m = inbox.add_message("IPM.Note");
        m.set_unicode(0x0037, "Lost " + std::to_string(n));
        m.set_body("body " + std::to_string(n));
    }
    const std::string path = testing::scratch_directory("index-rebuild") + "/" + name + ".pst";
    builder.write(path);
    return path;
}

// Zeroes every page whose trailer says node index (the trailer starts at
// 496 in the 64-bit layout, 500 in the 32-bit one).
int zero_node_pages(std::vector<std::uint8_t> &bytes, std::size_t trailer_at)
{
    int zeroed = 0;
    for (std::size_t at = 0x4400; at + 512 <= bytes.size(); at += 512) {
        if (bytes[at + trailer_at] == 0x81 && bytes[at + trailer_at + 1] == 0x81) {
            std::memset(bytes.data() + at, 0, 512);
            ++zeroed;
        }
    }
    return zeroed;
}

// Every page of the node index destroyed: the messages are rebuilt around
// their own blocks and, with no folder left to lead to them, listed in the
// root folder. Both layouts.
TEST(IndexRebuild, MessagesWhoseNodesAreLostAreRebuiltFromTheirBlocks)
{
    for (const bool ansi : {false, true}) {
        const std::string path = writer_mailbox(ansi ? "nodes-lost-ansi" : "nodes-lost", ansi);
        std::vector<std::uint8_t> bytes = testing::read_bytes(path);
        ASSERT_GT(zero_node_pages(bytes, ansi ? 500 : 496), 0) << ansi;
        testing::write_bytes(path, bytes);

        scan_session session;
        ASSERT_EQ(session.scan(path), 1) << ansi;
        std::set<std::string> subjects;
        for (const item_record *r = session.state.records.head; r != nullptr; r = r->next) {
            EXPECT_EQ(r->parent, session.state.root_folder);
            subjects.insert(testing::narrow(r->subject));
        }
        std::set<std::string> expected;
        for (int n = 0; n < 60; ++n) {
            expected.insert("Lost " + std::to_string(n));
        }
        EXPECT_EQ(subjects, expected) << ansi;
    }
}

// A message's body and attachment, different for each n so a message given
// another's sub-nodes shows.
std::string long_body(int n)
{
    std::string body;
    while (body.size() < 6000) {
        body += "Body of message " + std::to_string(n) + ". ";
    }
    return body.substr(0, 6000);
}

std::string attachment_data(int n)
{
    std::string data(9000, '\0');
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<char>((i * 7 + static_cast<std::size_t>(n) * 13) % 251);
    }
    return data;
}

std::string file_text(const std::filesystem::path &path)
{
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// Messages whose values lie outside their own block (a body longer than
// the heap holds, the recipient and attachment tables, the attachment)
// come back whole when their node entries are cut off: every message of a
// cut mailbox of either layout previews with its own body, recipient and
// attachment, and the save finds none unreadable.
TEST(IndexRebuild, LostMessagesComeBackWithTheirSubNodes)
{
    namespace fs = std::filesystem;
    for (const bool ansi : {false, true}) {
        testing::pst_builder builder(ansi ? testing::pst_builder::ansi(1251)
                                          : convert::writer_options{});
        auto &bulk = builder.root().add_folder("Bulk");
        for (int n = 0; n < 150; ++n) {
            auto &m = bulk.add_message("IPM.Note");
            m.set_unicode(0x0037, "Message " + std::to_string(n));
            m.set_body(long_body(n));
            m.add_recipient(1, "Reader " + std::to_string(n), "reader@example.com");
            m.add_attachment("a.bin", convert::data_source::from_string(attachment_data(n)));
        }
        const std::string directory = testing::scratch_directory("index-rebuild");
        const std::string path = directory + (ansi ? "/sub-nodes-ansi.pst" : "/sub-nodes.pst");
        builder.write(path);
        std::vector<std::uint8_t> bytes = testing::read_bytes(path);
        bytes.resize(bytes.size() / 2);
        testing::write_bytes(path, bytes);

        recovery::rebuilt_index index;
        recovery::damage_report report;
        ASSERT_EQ(recovery::recovery_rebuild_index(path, {}, &index, &report), 1) << ansi;
        ASSERT_GT(report.lost.size(), 60u) << ansi;
        for (const recovery::lost_node &lost : report.lost) {
            EXPECT_TRUE(lost.whole) << ansi << " " << lost.nid;
        }

        scan_session session;
        ASSERT_EQ(session.scan(path), 1) << ansi;
        message_values &values = export_message_values();
        message_values_clear(&values);
        values.temporary_directory = directory + "/";
        kind_values_clear(&export_kind_values());
        const fs::path attachments = directory + "/Attachments";
        std::size_t records = 0;
        // Subjects of the messages shown with another's body, recipient or
        // attachment, or none.
        std::vector<std::string> wrong;
        for (const item_record *r = session.state.records.head; r != nullptr; r = r->next) {
            const std::string subject = testing::narrow(r->subject);
            ASSERT_EQ(subject.rfind("Message ", 0), 0u) << subject;
            const int n = std::stoi(subject.substr(8));
            fs::remove_all(attachments);
            fs::create_directory(attachments);
            message_values_reset_body(&values);
            values.attachment_list.clear();
            ASSERT_EQ(export_record_item(&session.state, r), 1) << ansi << " " << subject;
            const std::string body(values.body_bytes.begin(), values.body_bytes.end());
            if (body.substr(0, body.find('\0')) != long_body(n) ||
                testing::narrow(values.to_text).find("Reader " + std::to_string(n)) ==
                    std::string::npos ||
                file_text(attachments / "a.bin") != attachment_data(n)) {
                wrong.push_back(subject);
            }
            ++records;
        }
        EXPECT_EQ(wrong, std::vector<std::string>{}) << ansi;
        EXPECT_EQ(records, report.lost.size()) << ansi;
        values.temporary_directory.clear();

        convert::save_request request;
        request.target = directory + (ansi ? "/sub-nodes-ansi-saved.pst" : "/sub-nodes-saved.pst");
        convert::save_report saved;
        EXPECT_EQ(convert::save_mailbox(&session.state, request, {}, saved), 1) << ansi;
        EXPECT_EQ(saved.recovered, records) << ansi;
        EXPECT_TRUE(saved.unreadable.empty()) << ansi << " " << saved.unreadable.front();
    }
}

// The mail client's own allocation: with every node index page of the
// sample zeroed, each message is rebuilt from its block, and the sub-node
// tree it is given is the one its lost node entry named.
TEST(IndexRebuild, TheSampleLosingItsNodeIndexKeepsEachMessagesOwnSubNodes)
{
    const intact_sample &sample = intact();
    std::map<std::uint64_t, std::uint64_t> sub_of_data;
    for (const auto &[nid, node] : sample.index.nodes) {
        if ((nid & 0x1F) == 0x04) {
            sub_of_data[node.data_bid & ~std::uint64_t{1}] = node.sub_bid;
        }
    }
    const std::string path =
        damaged_copy("node-pages", [](auto &b) { testing::damage_by_name("node-pages", b); });
    recovery::rebuilt_index index;
    recovery::damage_report report;
    ASSERT_EQ(recovery::recovery_rebuild_index(path, {}, &index, &report), 1);
    ASSERT_EQ(report.lost.size(), sample.listing.fetched.size());
    std::size_t whole = 0;
    for (const recovery::lost_node &lost : report.lost) {
        const auto intact_sub = sub_of_data.find(lost.data_bid & ~std::uint64_t{1});
        ASSERT_NE(intact_sub, sub_of_data.end()) << lost.data_bid;
        if (lost.whole) {
            EXPECT_EQ(lost.sub_bid, intact_sub->second) << lost.data_bid;
            ++whole;
        }
    }
    // Two are left without: one's tree lay in a stale node page's span the
    // damage zeroed, the other has two trees that fit between its block and
    // the previous message's (no guess is made).
    EXPECT_GE(whole * 100, report.lost.size() * 95);
}

// The 32-bit layout with its node index root zeroed lists what it listed.
TEST(IndexRebuild, A32BitMailboxWithItsRootLostLosesNothing)
{
    const std::string path = writer_mailbox("ansi-root", true);
    scan_session intact_session;
    ASSERT_EQ(intact_session.scan(path), 1);
    const mailbox_listing expected = testing::list_mailbox(intact_session);
    ASSERT_EQ(expected.records, 60u);

    std::vector<std::uint8_t> bytes = testing::read_bytes(path);
    const std::uint32_t root =
        format::load_le<std::uint32_t>(bytes.data() + format::ansi_layout::header_nbt_ib);
    zero_page(bytes, root);
    const std::string damaged = testing::scratch_directory("index-rebuild") + "/ansi-root-lost.pst";
    testing::write_bytes(damaged, bytes);
    scan_session session;
    ASSERT_EQ(session.scan(damaged), 1);
    ASSERT_FALSE(session.state.rebuild_report.empty());
    const mailbox_listing got = testing::list_mailbox(session);
    EXPECT_EQ(got.tree, expected.tree);
    EXPECT_EQ(got.folders, expected.folders);
}

TEST(IndexRebuild, TheDamageReportCountsWhatTheIntactIndexHolds)
{
    const intact_sample &sample = intact();
    recovery::rebuilt_index index;
    recovery::damage_report report;
    const std::string path =
        damaged_copy("report", [&](auto &b) { zero_page(b, sample.index.nbt_root_offset); });
    ASSERT_EQ(recovery::recovery_rebuild_index(path, {}, &index, &report), 1);
    EXPECT_EQ(report.nodes, sample.index.nodes.size());
    EXPECT_EQ(report.messages, sample.listing.fetched.size());
    // The zeroed page fails nothing (zeros are free space); an old page
    // copy still checks, so the bytes failing are those of the intact file.
    recovery::rebuilt_index intact_index;
    recovery::damage_report intact_report;
    ASSERT_EQ(recovery::recovery_rebuild_index(testing::sample_path("enron.pst"), {},
                                               &intact_index, &intact_report),
              1);
    EXPECT_EQ(report.scan.failed_bytes, intact_report.scan.failed_bytes);
    // The view is the source, then the rebuilt pages on a page boundary.
    EXPECT_EQ(index.pages_at % 512, 0u);
    EXPECT_GE(index.pages_at, sample.bytes.size());
    EXPECT_EQ(index.pages.size() % 512, 0u);

    // Stop during the pass ends it without an index.
    EXPECT_EQ(recovery::recovery_rebuild_index(path, [](int) { return false; }, &index, &report),
              0);
}

// The pass shows its progress; a Stop during it ends the scan silently.
TEST(IndexRebuild, TheScanShowsThePassAndEndsOnStop)
{
    const std::string path = damaged_copy(
        "stopped", [&](auto &b) { zero_page(b, intact().index.nbt_root_offset); });
    struct stopping_views : testing::recording_views
    {
        scan_state *state = nullptr;
        void progress_set(int position) override
        {
            testing::recording_views::progress_set(position);
            if (position > 0) {
                state->stop_requested = true;
            }
        }
    };
    scan_session session;
    stopping_views views;
    views.state = &session.state;
    session.state.views = &views;
    session.state.mailbox_path = u16(path);
    views.insert_root(session.state.mailbox_path);
    EXPECT_EQ(scan_driver_run(&session.state), 0);
    EXPECT_TRUE(views.messages.empty());
    EXPECT_EQ(views.browse_runs, 0);
    EXPECT_FALSE(views.progress.empty());
    EXPECT_TRUE(session.state.rebuild_report.empty());
}

TEST(IndexRebuild, AFileThatIsNoMailboxIsLeftAsItIs)
{
    std::vector<std::uint8_t> offline = testing::read_bytes(testing::sample_path("enron.pst"));
    offline[8] = 'S';
    offline[9] = 'O';
    const std::string path = testing::scratch_directory("index-rebuild") + "/offline.ost";
    testing::write_bytes(path, offline);
    recovery::rebuilt_index index;
    recovery::damage_report report;
    EXPECT_EQ(recovery::recovery_rebuild_index(path, {}, &index, &report), -1);
    const std::string text = testing::scratch_directory("index-rebuild") + "/text.pst";
    testing::write_bytes(text, std::vector<std::uint8_t>(4096, 'x'));
    EXPECT_EQ(recovery::recovery_rebuild_index(text, {}, &index, &report), -1);
}

} // namespace
} // namespace korvel
