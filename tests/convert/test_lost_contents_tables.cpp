// A folder whose contents table is destroyed still gives every message: the
// listing, the re-fetch behind the preview, the save and the conversions take
// them from the node index. The damaged file is the sample with the data
// block of every folder's contents table zeroed.
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "convert/save/save.h"
#include "tests/support/mailbox_listing.h"
#include "tests/support/pst_damage.h"
#include "tests/support/samples.h"
#include "tests/support/scan_session.h"

namespace korvel {
namespace {

namespace fs = std::filesystem;
using testing::scan_session;

convert::save_report save_as(scan_session &session, const std::string &target,
                             convert::output_format format)
{
    convert::save_request request;
    request.target = target;
    request.format = format;
    request.recovered_items = false;
    convert::save_report report;
    EXPECT_EQ(convert::save_mailbox(&session.state, request, {}, report), 1) << target;
    return report;
}

std::size_t files_ending(const std::string &dir, const std::string &suffix)
{
    std::size_t count = 0;
    for (const auto &entry : fs::recursive_directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        count += name.size() > suffix.size() &&
                 name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
    }
    return count;
}

TEST(LostContentsTables, EveryMessageIsListedFetchedSavedAndConverted)
{
    const std::string dir = testing::scratch_directory("lost-contents-tables");
    const std::string damaged = dir + "/damaged.pst";
    {
        std::vector<std::uint8_t> bytes = testing::read_bytes(testing::sample_path("enron.pst"));
        ASSERT_GT(testing::zero_contents_tables(bytes), 5);
        testing::write_bytes(damaged, bytes);
    }

    scan_session intact;
    ASSERT_EQ(intact.scan(testing::sample_path("enron.pst")), 1);
    const testing::mailbox_listing expected = testing::list_mailbox(intact);
    const convert::save_report intact_eml =
        save_as(intact, dir + "/intact-eml", convert::output_format::eml);

    scan_session session;
    ASSERT_EQ(session.scan(damaged), 1);
    const testing::mailbox_listing got = testing::list_mailbox(session);
    EXPECT_EQ(got.folders, expected.folders);
    ASSERT_GT(expected.records, 0u);
    // Each record finds its own message again, none twice.
    EXPECT_EQ(got.fetched, expected.fetched);
    EXPECT_EQ(got.fetched.size(), got.records);

    const convert::save_report eml = save_as(session, dir + "/eml", convert::output_format::eml);
    EXPECT_EQ(eml.items, intact_eml.items);
    EXPECT_EQ(files_ending(dir + "/eml", ".eml"), files_ending(dir + "/intact-eml", ".eml"));
    EXPECT_TRUE(eml.unreadable.empty()) << eml.unreadable.front();
    const bool noted = std::any_of(eml.notes.begin(), eml.notes.end(), [](const std::string &n) {
        return n.find("Sent Items: its contents table cannot be read") != std::string::npos;
    });
    EXPECT_TRUE(noted);

    const convert::save_report pst = save_as(session, dir + "/copy.pst", convert::output_format::pst);
    EXPECT_EQ(pst.items, eml.items);
    scan_session copy;
    ASSERT_EQ(copy.scan(dir + "/copy.pst"), 1);
    EXPECT_EQ(testing::list_mailbox(copy).folders, expected.folders);
}

} // namespace
} // namespace korvel
