// korvel-mkpst: the README's first example makes a mailbox libpff reads, and
// bad descriptions fail with status 2 naming the place, leaving no output.
#include "tests/convert/pff_read.h"
#include "tests/support/samples.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>

using korvel::testing::pff::file;

namespace {

struct run_result
{
    int status = -1;
    std::string errors;
};

run_result mkpst(const std::string &dir, const std::string &json, const std::string &out)
{
    std::string desc = dir + "/desc.json";
    std::ofstream(desc) << json;
    std::string err = dir + "/stderr.txt";
    std::string cmd = std::string(KORVEL_BINARY_DIR) + "/convert/korvel-mkpst '" + desc + "' '" +
                      out + "' 2>'" + err + "'";
    int raw = std::system(cmd.c_str());
    run_result r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    std::ifstream in(err);
    std::stringstream s;
    s << in.rdbuf();
    r.errors = s.str();
    return r;
}

std::string readme_first_json()
{
    std::ifstream in(std::string(KORVEL_SOURCE_DIR) + "/convert/README.md");
    std::stringstream s;
    s << in.rdbuf();
    std::string text = s.str();
    auto start = text.find("```json\n");
    auto end = text.find("```", start + 8);
    return text.substr(start + 8, end - start - 8);
}

} // namespace

TEST(Mkpst, ReadmeExampleIsACompleteMailbox)
{
    std::string dir = korvel::testing::scratch_directory("convert_mkpst_readme");
    std::string out = dir + "/readme.pst";
    run_result r = mkpst(dir, readme_first_json(), out);
    ASSERT_EQ(r.status, 0) << r.errors;
    file f(out);
    ASSERT_TRUE(f.opened);
    auto inbox = f.root().find_folder("Top of Personal Folders").find_folder("Inbox");
    ASSERT_TRUE(inbox);
    ASSERT_EQ(inbox.message_count(), 1);
    auto m = inbox.message(0);
    EXPECT_EQ(m.utf8(0x0037), "Hello");
    EXPECT_EQ(m.utf8(0x8208), "Room 1");
    EXPECT_EQ(m.u32(0x0E07), 0x11u);
    EXPECT_EQ(m.utf8(0x0C1A), "Ann Sender");
    EXPECT_EQ(m.filetime(0x0E06), 133590312000000000ull);
    auto archive = f.root().find_folder("Archive");
    ASSERT_TRUE(archive);
    EXPECT_EQ(archive.sub_folder_count(), 2);
    // Every other example block of the README is a valid description too.
    std::ifstream in(std::string(KORVEL_SOURCE_DIR) + "/convert/README.md");
    std::stringstream s;
    s << in.rdbuf();
    std::string text = s.str();
    int n = 0;
    for (auto at = text.find("```json\n"); at != std::string::npos;
         at = text.find("```json\n", at + 1)) {
        auto end = text.find("```", at + 8);
        run_result each = mkpst(dir, text.substr(at + 8, end - at - 8), dir + "/each.pst");
        EXPECT_EQ(each.status, 0) << "block " << n << ": " << each.errors;
        ++n;
    }
    EXPECT_GE(n, 7);
}

TEST(Mkpst, GeneratedBulkAndTrees)
{
    std::string dir = korvel::testing::scratch_directory("convert_mkpst_bulk");
    std::string out = dir + "/bulk.pst";
    run_result r = mkpst(dir,
                         R"({"folders": [{"name": "Bulk", "messages": [{"subject": "M {n}", "repeat": 250}],
                              "tree": {"depth": 2, "fanout": 3, "name": "T"}}]})",
                         out);
    ASSERT_EQ(r.status, 0) << r.errors;
    file f(out);
    auto bulk = f.root().find_folder("Bulk");
    ASSERT_EQ(bulk.message_count(), 250);
    EXPECT_EQ(bulk.message(249).utf8(0x0037), "M 250");
    ASSERT_EQ(bulk.sub_folder_count(), 3);
    EXPECT_EQ(bulk.find_folder("T2").find_folder("T2.3").sub_folder_count(), 0);
}

TEST(Mkpst, BadDescriptionsExitTwoAndLeaveNoFile)
{
    std::string dir = korvel::testing::scratch_directory("convert_mkpst_bad");
    std::string out = dir + "/bad.pst";
    struct bad_case
    {
        const char *json;
        const char *where;
    };
    const bad_case cases[] = {
        {R"({"folders": [ )", "malformed JSON"},
        {R"({"folders": [{"name": "A", "messages": [{"properties": [{"tag": "0x37", "type": "PT_FOO", "value": 1}]}]}]})",
         "folders[0].messages[0].properties[0].type: unknown type \"PT_FOO\""},
        {R"({"folders": [{"messages": [{"properties": [{"tag": 1, "type": "PT_SHORT", "value": 70000}]}]}]})",
         "folders[0].messages[0].properties[0].value: value 70000 does not fit"},
        {R"({"folders": [{"messages": [{"properties": [{"tag": 1, "type": "PT_BINARY", "hex": "0g"}]}]}]})",
         "folders[0].messages[0].properties[0].hex"},
        {R"({"folders": [{"nmae": "typo"}]})", "folders[0]: unknown key \"nmae\""},
        {R"({"folders": [{"messages": [{"attachments": [{"file": "/nonexistent/x"}]}]}]})",
         "folders[0].messages[0].attachments[0].file"},
        {R"({"format": "ansii"})", "format: expected \"unicode\" or \"ansi\", got \"ansii\""},
        {R"({"format": "ansi", "code_page": 0})", "code_page: value 0 does not fit"},
    };
    for (const bad_case &c : cases) {
        run_result r = mkpst(dir, c.json, out);
        EXPECT_EQ(r.status, 2) << c.json;
        EXPECT_NE(r.errors.find(c.where), std::string::npos) << r.errors;
        EXPECT_FALSE(std::filesystem::exists(out)) << c.json;
    }
    // A failure leaves an existing file alone and no temporary file behind.
    std::ofstream(out) << "old";
    EXPECT_EQ(mkpst(dir, cases[1].json, out).status, 2);
    std::ifstream in(out);
    std::string content;
    in >> content;
    EXPECT_EQ(content, "old");
    int entries = 0;
    for (const auto &e : std::filesystem::directory_iterator(dir)) {
        entries += e.path().filename().string().rfind(".bad.pst", 0) == 0;
    }
    EXPECT_EQ(entries, 0);
}
