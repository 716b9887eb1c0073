// The scan driver on real and broken files: its messages, its tree and the
// window state it leaves.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include <libpff.h>

#include "scan/text.h"
#include "tests/support/samples.h"
#include "tests/support/scan_session.h"

namespace korvel {
namespace {

using testing::narrow;
using testing::sample_path;
using testing::scan_session;

const char open_failure[] = "Please check file use in another proess or File is highly "
                            "corrupted! Please select another file OR contact support team..";
const char walk_failure[] =
    "Scanning process failed! Please select another file OR contact support team..";

std::vector<std::string> message_texts(const scan_session &session)
{
    std::vector<std::string> texts;
    for (const auto &message : session.views.messages) {
        EXPECT_EQ(narrow(message.caption), "Korvel PST Repair");
        texts.push_back(narrow(message.text));
    }
    return texts;
}

// The folder names libpff itself reports, depth first, with their levels.
void libpff_folders(libpff_item_t *folder, int level, std::vector<std::pair<int, std::string>> &out)
{
    int count = 0;
    ASSERT_EQ(libpff_folder_get_number_of_sub_folders(folder, &count, nullptr), 1);
    for (int i = 0; i < count; ++i) {
        libpff_item_t *sub = nullptr;
        ASSERT_EQ(libpff_folder_get_sub_folder(folder, i, &sub, nullptr), 1);
        std::size_t size = 0;
        std::string name;
        if (libpff_folder_get_utf8_name_size(sub, &size, nullptr) == 1 && size > 0) {
            std::vector<std::uint8_t> buffer(size);
            ASSERT_EQ(libpff_folder_get_utf8_name(sub, buffer.data(), size, nullptr), 1);
            name = reinterpret_cast<const char *>(buffer.data());
        }
        out.emplace_back(level, name);
        libpff_folders(sub, level + 1, out);
        libpff_item_free(&sub, nullptr);
    }
}

std::string copy_with(const std::string &name, const std::function<void(std::string &)> &change)
{
    std::ifstream in(sample_path("enron.pst"), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    change(bytes);
    const std::string path = testing::scratch_directory("damaged") + "/" + name;
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path;
}

TEST(scan_driver, SampleMailboxScansToItsFolderTree)
{
    scan_session session;
    ASSERT_EQ(session.scan(sample_path("enron.pst")), 1);
    EXPECT_EQ(message_texts(session), std::vector<std::string>{"Analysis completed"});
    EXPECT_FALSE(session.views.message_during_wait);
    EXPECT_EQ(session.views.wait_dialog_shows, 1);
    EXPECT_FALSE(session.views.wait_dialog_open);
    EXPECT_EQ(session.views.browse_runs, 0);

    // The tree is what libpff reports, in its order, every folder bold.
    libpff_file_t *file = nullptr;
    ASSERT_EQ(libpff_file_initialize(&file, nullptr), 1);
    ASSERT_EQ(libpff_file_open(file, sample_path("enron.pst").c_str(), LIBPFF_OPEN_READ, nullptr),
              1);
    libpff_item_t *root = nullptr;
    ASSERT_EQ(libpff_file_get_root_folder(file, &root, nullptr), 1);
    std::vector<std::pair<int, std::string>> expected;
    libpff_folders(root, 1, expected);
    libpff_item_free(&root, nullptr);
    libpff_file_close(file, nullptr);
    libpff_file_free(&file, nullptr);

    const auto &tree = session.views.tree;
    ASSERT_EQ(tree.size(), expected.size() + 1);
    EXPECT_FALSE(tree[0].bold);
    EXPECT_EQ(tree[0].level, 0);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(tree[i + 1].level, expected[i].first);
        EXPECT_EQ(narrow(tree[i + 1].text), expected[i].second);
        EXPECT_TRUE(tree[i + 1].bold);
    }
    EXPECT_EQ(session.state.folders.count, expected.size());

    // The after-scan state; the progress bar ends at 0.
    EXPECT_FALSE(session.views.commands[view_command::scan]);
    EXPECT_TRUE(session.views.commands[view_command::save]);
    EXPECT_TRUE(session.views.commands[view_command::browse]);
    EXPECT_TRUE(session.views.commands[view_command::convert]);
    EXPECT_TRUE(session.views.tree_enabled);
    ASSERT_FALSE(session.views.progress.empty());
    EXPECT_EQ(session.views.progress.back(), 0);
    EXPECT_NE(session.state.file, nullptr);
}

TEST(scan_driver, OfflineStoresAreRefusedWithOneMessage)
{
    for (const char *name :
         {"pstextractortest@outlook.com.ost", "pstextractortestpdf@outlook.com.ost"}) {
        scan_session session;
        EXPECT_EQ(session.scan(sample_path(name)), 0);
        EXPECT_EQ(message_texts(session), std::vector<std::string>{"This is not a valid PST File"})
            << name;
        EXPECT_EQ(session.views.tree.size(), 1u);
        EXPECT_EQ(session.views.browse_runs, 1);
        EXPECT_FALSE(session.views.message_during_wait);
        EXPECT_FALSE(session.state.header_check_flag);
    }
}

TEST(scan_driver, UnopenableFilesGetTheOpenFailure)
{
    const std::string dir = testing::scratch_directory("unopenable");
    std::ofstream(dir + "/empty.pst").close();
    std::ofstream(dir + "/text.pst") << "this is not a mailbox at all";
    std::ofstream(dir + "/short.pst") << "!BDN";
    for (const std::string &path :
         {dir + "/missing.pst", dir + "/empty.pst", dir + "/text.pst", dir + "/short.pst", dir}) {
        scan_session session;
        EXPECT_EQ(session.scan(path), 0);
        EXPECT_EQ(message_texts(session), std::vector<std::string>{open_failure}) << path;
        EXPECT_EQ(session.views.browse_runs, 1);
        EXPECT_FALSE(session.views.message_during_wait);
        EXPECT_EQ(session.views.tree.size(), 1u);
    }
}

TEST(scan_driver, ASecondScanReplacesTheFirstMailbox)
{
    scan_session session;
    ASSERT_EQ(session.scan(sample_path("enron.pst")), 1);
    const std::size_t folders = session.state.folders.count;
    session.views.tree.clear();
    ASSERT_EQ(session.scan(sample_path("enron.pst")), 1);
    EXPECT_EQ(session.state.folders.count, folders);
    // A failed scan after a good one leaves no stale folder behind.
    EXPECT_EQ(session.scan(sample_path("pstextractortest@outlook.com.ost")), 0);
    EXPECT_EQ(session.state.folders.count, 0u);
}

TEST(scan_driver, DamagedCopiesNeverCrash)
{
    const std::vector<std::pair<std::string, std::function<void(std::string &)>>> damages = {
        {"truncated-header.pst", [](std::string &b) { b.resize(600); }},
        {"truncated-half.pst", [](std::string &b) { b.resize(b.size() / 2); }},
        {"truncated-tail.pst", [](std::string &b) { b.resize(b.size() - 4096); }},
        {"zeroed-root.pst",
         [](std::string &b) {
             for (std::size_t i = 0xB4; i < 0x200 && i < b.size(); ++i) {
                 b[i] = 0;
             }
         }},
        {"stamped.pst",
         [](std::string &b) {
             for (std::size_t i = 0x4400; i < b.size(); i += 0x3001) {
                 b[i] = static_cast<char>(b[i] ^ 0x5A);
             }
         }},
        {"zeroed-middle.pst",
         [](std::string &b) {
             for (std::size_t i = b.size() / 3; i < b.size() / 3 + 65536; ++i) {
                 b[i] = 0;
             }
         }},
    };
    for (const auto &[name, damage] : damages) {
        scan_session session;
        const int result = session.scan(copy_with(name, damage));
        const auto texts = message_texts(session);
        // A rebuilt index is reported in one message before the usual end.
        ASSERT_EQ(texts.size(), result == 1 && texts.size() == 2 ? 2u : 1u) << name;
        if (result == 1) {
            EXPECT_EQ(texts.back(), "Analysis completed") << name;
            if (texts.size() == 2) {
                EXPECT_EQ(texts[0].rfind("The mailbox's index could not be read", 0), 0u) << name;
            }
        } else {
            EXPECT_TRUE(texts[0] == open_failure || texts[0] == walk_failure) << name;
            EXPECT_EQ(session.views.browse_runs, 1);
        }
        // Whatever the scan left must still be listable without harm.
        for (const auto &item : session.views.tree) {
            folder_fill(&session.state, item.handle);
        }
    }
}

TEST(scan_driver, StopEndsTheScanSilently)
{
    scan_session session;
    session.state.stop_requested = true;
    // The abort flag is set as Stop does once the handle exists: the walk
    // fails at its first check and no message follows.
    struct stopping_views : testing::recording_views
    {
        scan_state *state = nullptr;
        void wait_dialog_close() override
        {
            testing::recording_views::wait_dialog_close();
            state->export_handle->abort = 1;
        }
    };
    stopping_views views;
    views.state = &session.state;
    session.state.views = &views;
    session.state.mailbox_path = u16(sample_path("enron.pst"));
    views.insert_root(session.state.mailbox_path);
    EXPECT_EQ(scan_driver_run(&session.state), 0);
    EXPECT_TRUE(views.messages.empty());
    EXPECT_EQ(views.browse_runs, 0);
}

} // namespace
} // namespace korvel
