// The preview and a conversion reading RTF bodies at the same time, as a
// command-line tool or a parallel save may: each must give what it gives
// alone. The preview's reader carries open groups from one document to the
// next, so a conversion that touched that state, or wrote into the preview's
// text, would change the pages.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "convert/mail/mail_sink.h"
#include "convert/mail/mime_message.h"
#include "preview/preview_builder.h"
#include "preview/rtf_reader.h"
#include "scan/item_export.h"
#include "scan/item_kinds.h"
#include "scan/text.h"
#include "tests/convert/mime_walk.h"
#include "tests/support/pst_builder.h"
#include "tests/support/samples.h"
#include "tests/support/scan_session.h"

namespace korvel {
namespace {

namespace fs = std::filesystem;
using testing::utf16le;

std::string file_bytes(const fs::path &path)
{
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// Every file under directory, by its path below it.
std::map<std::string, std::string> tree_bytes(const std::string &directory)
{
    std::map<std::string, std::string> files;
    for (const auto &entry : fs::recursive_directory_iterator(directory)) {
        if (entry.is_regular_file()) {
            files[fs::relative(entry.path(), directory).string()] = file_bytes(entry.path());
        }
    }
    return files;
}

// Bodies that exercise what the reader carries and skips: groups left open
// for the next document and closed by it, "\*" destinations, binary runs,
// hex escapes, and long plain runs so the two readers overlap.
std::vector<std::string> rtf_bodies()
{
    std::string long_run;
    for (int i = 0; i < 400; ++i) {
        long_run += "word\\'e9 {\\b bold} \\par ";
    }
    return {
        "{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}\\f0 Hello \\'e9t\\'e9\\par}",
        "{\\rtf1 left {\\i open {\\b deeper",
        "still inside}} closed} after the old groups}",
        "{\\rtf1{\\*\\unknown hidden}{\\*\\htmltag <p>}shown\\bin3 xyz tail}",
        "{\\rtf1 " + long_run + "}",
        "{\\rtf1 stops \\'zz here}",
        "{\\rtf1 {\\*",
        "\\skipped what} next}",
        "{\\rtf1 " + long_run + " last}",
    };
}

class rtf_two_threads : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_temporary = testing::scratch_directory("rtf_two_threads");
        message_values &values = export_message_values();
        message_values_clear(&values);
        values.temporary_directory = m_temporary + "/";
        kind_values_clear(&export_kind_values());
        testing::pst_folder *inbox = m_builder.top_of_personal_folders().find("Inbox");
        ASSERT_NE(inbox, nullptr);
        int n = 0;
        for (const std::string &rtf : rtf_bodies()) {
            convert::message &m = inbox->add_message("IPM.Note");
            m.set_unicode(0x0037, "RTF " + std::to_string(n++));
            m.set_systime(0x0039, convert::filetime_from_unix(1714557600));
            m.set_rtf(rtf);
        }
        m_pst = m_temporary + "/mailbox.pst";
        m_builder.write(m_pst);
        ASSERT_EQ(m_session.scan(m_pst), 1);
        ASSERT_TRUE(m_session.fill("Top of Personal Folders/Inbox"));
        convert::mime_initialize();
        rtf_reader_reset();
    }

    void TearDown() override
    {
        export_message_values().temporary_directory.clear();
        rtf_reader_reset();
    }

    // Clicks every listed row, from a fresh reader, in the messages' order
    // (the list shows the newest at the top), and keeps each body page.
    std::vector<std::string> preview_all()
    {
        rtf_reader_reset();
        std::vector<const testing::recorded_row *> rows;
        for (const testing::recorded_row &row : m_session.views.rows) {
            rows.insert(rows.begin(), &row);
        }
        std::vector<std::string> pages;
        for (const testing::recorded_row *row : rows) {
            preview_outcome outcome;
            EXPECT_EQ(preview_selected_item(&m_session.state, *row->cells[0], *row->cells[1],
                                            outcome),
                      1);
            pages.push_back(file_bytes(m_temporary + "/Attachments/body.txt"));
        }
        return pages;
    }

    std::map<std::string, std::string> convert_all(const std::string &name)
    {
        auto sink = convert::make_eml_sink();
        const std::string out = m_temporary + "/" + name;
        testing::sink_walk_counts counts = testing::sink_walk(m_pst, *sink, out);
        EXPECT_EQ(counts.failed, 0);
        return tree_bytes(out);
    }

    testing::pst_builder m_builder;
    testing::scan_session m_session;
    std::string m_temporary;
    std::string m_pst;
};

TEST_F(rtf_two_threads, preview_and_conversion_at_once_give_what_each_gives_alone)
{
    const std::vector<std::string> pages = preview_all();
    ASSERT_EQ(pages.size(), rtf_bodies().size());
    // The carried groups are visible: the third page reads on inside the
    // second document's groups.
    EXPECT_EQ(pages[2], utf16le(u"still inside closed after the old groups"));
    const std::map<std::string, std::string> converted = convert_all("alone.eml");
    ASSERT_EQ(converted.size(), rtf_bodies().size());

    for (int round = 0; round < 3; ++round) {
        std::map<std::string, std::string> converted_at_once;
        std::thread conversion([&] {
            converted_at_once = convert_all("at_once_" + std::to_string(round) + ".eml");
        });
        const std::vector<std::string> pages_at_once = preview_all();
        conversion.join();
        EXPECT_EQ(pages_at_once, pages) << "round " << round;
        EXPECT_EQ(converted_at_once, converted) << "round " << round;
    }
}

} // namespace
} // namespace korvel
