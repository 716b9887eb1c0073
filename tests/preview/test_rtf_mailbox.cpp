// The RTF reader over real RTF bodies: read from mailboxes through libpff
// (which decompresses them), written to a file and read back in text mode as
// the preview does.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <libpff.h>

#include "preview/rtf_reader.h"
#include "tests/support/pst_builder.h"
#include "tests/support/samples.h"

namespace korvel {
namespace {

struct pff_error_deleter
{
    void operator()(libpff_error_t *error) const { libpff_error_free(&error); }
};

struct pff_item_deleter
{
    void operator()(libpff_item_t *item) const { libpff_item_free(&item, nullptr); }
};
using pff_item = std::unique_ptr<libpff_item_t, pff_item_deleter>;

struct pff_file_deleter
{
    void operator()(libpff_file_t *file) const
    {
        libpff_file_close(file, nullptr);
        libpff_file_free(&file, nullptr);
    }
};
using pff_file = std::unique_ptr<libpff_file_t, pff_file_deleter>;

struct file_closer
{
    void operator()(std::FILE *file) const { std::fclose(file); }
};
using file_ptr = std::unique_ptr<std::FILE, file_closer>;

// Appends the RTF bodies of the folder's messages and of its sub-folders'
// messages, each without the terminating zero libpff counts.
void collect_rtf_bodies(libpff_item_t *folder, std::vector<std::string> &bodies)
{
    int messages = 0;
    ASSERT_EQ(libpff_folder_get_number_of_sub_messages(folder, &messages, nullptr), 1);
    for (int i = 0; i < messages; ++i) {
        libpff_item_t *raw = nullptr;
        ASSERT_EQ(libpff_folder_get_sub_message(folder, i, &raw, nullptr), 1);
        pff_item message(raw);
        std::size_t size = 0;
        if (libpff_message_get_rtf_body_size(message.get(), &size, nullptr) != 1 || size == 0) {
            continue;
        }
        std::string body(size, '\0');
        ASSERT_EQ(libpff_message_get_rtf_body(
                      message.get(), reinterpret_cast<std::uint8_t *>(body.data()), size, nullptr),
                  1);
        body.pop_back();
        bodies.push_back(std::move(body));
    }
    int folders = 0;
    ASSERT_EQ(libpff_folder_get_number_of_sub_folders(folder, &folders, nullptr), 1);
    for (int i = 0; i < folders; ++i) {
        libpff_item_t *raw = nullptr;
        ASSERT_EQ(libpff_folder_get_sub_folder(folder, i, &raw, nullptr), 1);
        pff_item sub_folder(raw);
        collect_rtf_bodies(sub_folder.get(), bodies);
    }
}

std::vector<std::string> rtf_bodies(const std::string &path)
{
    std::vector<std::string> bodies;
    libpff_file_t *raw_file = nullptr;
    libpff_error_t *raw_error = nullptr;
    if (libpff_file_initialize(&raw_file, &raw_error) != 1) {
        std::unique_ptr<libpff_error_t, pff_error_deleter> error(raw_error);
        ADD_FAILURE() << "libpff_file_initialize";
        return bodies;
    }
    if (libpff_file_open(raw_file, path.c_str(), LIBPFF_OPEN_READ, &raw_error) != 1) {
        std::unique_ptr<libpff_error_t, pff_error_deleter> error(raw_error);
        libpff_file_free(&raw_file, nullptr);
        ADD_FAILURE() << "cannot open " << path;
        return bodies;
    }
    pff_file file(raw_file);
    EXPECT_EQ(libpff_file_set_ascii_codepage(file.get(), 1252, nullptr), 1);
    libpff_item_t *raw_root = nullptr;
    if (libpff_file_get_root_folder(file.get(), &raw_root, nullptr) != 1) {
        ADD_FAILURE() << "no root folder in " << path;
        return bodies;
    }
    pff_item root(raw_root);
    collect_rtf_bodies(root.get(), bodies);
    return bodies;
}

// Writes the body to a file and reads it back in text mode, as the preview
// does. Returns the reader's code; the text is in rtf_text.
int parse_body_file(const std::string &body, const std::string &scratch)
{
    std::string path = testing::scratch_directory(scratch) + "/body.rtf";
    {
        file_ptr out(std::fopen(path.c_str(), "wb"));
        EXPECT_NE(out, nullptr);
        if (!out) {
            return -1;
        }
        EXPECT_EQ(std::fwrite(body.data(), 1, body.size(), out.get()), body.size());
    }
    file_ptr in(std::fopen(path.c_str(), "r"));
    EXPECT_NE(in, nullptr);
    if (!in) {
        return -1;
    }
    rtf_text.clear();
    return rtf_parse(in.get());
}

class RtfMailbox : public ::testing::Test
{
protected:
    void SetUp() override { rtf_reader_reset(); }
    void TearDown() override { rtf_reader_reset(); }
};

// The offline store among the samples (refused by the scan, but a real
// mailbox to libpff) holds 161 compressed RTF bodies: 160 converted from empty
// plain-text bodies, and a synchronisation log with font and colour tables,
// tabs, paragraph marks and line breaks in the file. The decompressed bodies
// end in a zero byte, which appends nothing.
TEST_F(RtfMailbox, CompressedBodiesFromSampleMailbox)
{
    auto bodies = rtf_bodies(testing::sample_path("pstextractortest@outlook.com.ost"));
    ASSERT_EQ(bodies.size(), 161U);
    int logs = 0;
    for (const std::string &body : bodies) {
        EXPECT_EQ(parse_body_file(body, "rtf_mailbox_sample"), rtf_ok);
        EXPECT_EQ(rtf_reader_group_depth(), 0U);
        if (body.find("Synchronizer") == std::string::npos) {
            EXPECT_EQ(rtf_text, u"");
            continue;
        }
        ++logs;
        EXPECT_EQ(rtf_text, u"13:41:51 Synchronizer Version 16.0.4266\n"
                            u"13:41:51 Synchronizing Mailbox 'Pst Extractor'\n"
                            u"13:41:51 Synchronizing server changes in folder 'Calendar'\n"
                            u"13:41:51 Downloading from server "
                            u"'https://outlook.office365.com/mapi/emsmdb/?MailboxId=00030000-40'\n"
                            u"13:41:51 \t   1 item(s) updated in offline folder\n"
                            u"13:41:51 \t   1 view(s)/form(s) added to offline folder\n"
                            u"13:41:51 \t\t Could not connect to public folder server.\n"
                            u"13:41:51 \t\t [0-0]\n"
                            u"13:41:51 Done\n");
    }
    EXPECT_EQ(logs, 1);
}

// A mailbox from our writer: LZFu-compressed bodies come back from libpff as
// written (zero bytes may follow) and read to their text. (libpff does not
// read the uncompressed stored form.)
TEST_F(RtfMailbox, BodiesWrittenByOurWriter)
{
    struct body_case
    {
        std::string rtf;
        int code;
        std::u16string text;
    };
    std::string lines;
    std::u16string lines_text;
    for (int i = 0; i < 2000; ++i) {
        lines += "Line " + std::to_string(i) + "\\par\r\n";
        for (char c : "Line " + std::to_string(i) + "\n") {
            lines_text += static_cast<char16_t>(c);
        }
    }
    const std::string from_text =
        "{\\rtf1\\ansi\\ansicpg1252\\fromtext \\deff0{\\fonttbl{\\f0\\fswiss Arial;}}\r\n"
        "{\\*\\generator Korvel;}\\viewkind4\\uc1\\pard\\f0\\fs20 Caf\\'e9 \\u8364\\'80 "
        "costs \\ldblquote 5\\rdblquote\\par\r\nSecond\\tab line\\line end\\par\r\n}";
    const std::u16string from_text_text = u"Caf\u00e9 \u20ac costs \"5\"\nSecond\tline\rend\n";
    const std::vector<body_case> cases = {
        {from_text, rtf_ok, from_text_text},
        // Longer than the compressor's 4 KiB dictionary.
        {"{\\rtf1\\ansi " + lines + "}", rtf_ok, lines_text},
        {"{\\rtf1{\\info{\\title T}}{\\pict\\bin3 }}}}x", rtf_unclosed_group, u"x"},
    };

    // Both layouts: the RTF body is binary, the same in a 32-bit mailbox.
    const std::string dir = testing::scratch_directory("rtf_mailbox_writer");
    for (bool ansi : {false, true}) {
        SCOPED_TRACE(ansi ? "32-bit" : "64-bit");
        const std::string path = dir + (ansi ? "/bodies-ansi.pst" : "/bodies.pst");
        testing::pst_builder builder(ansi ? testing::pst_builder::ansi()
                                          : convert::writer_options{});
        auto &inbox = *builder.top_of_personal_folders().find("Inbox");
        for (const body_case &c : cases) {
            inbox.add_message("IPM.Note").set_rtf(c.rtf);
        }
        builder.write(path);

        auto bodies = rtf_bodies(path);
        ASSERT_EQ(bodies.size(), cases.size());
        std::vector<bool> seen(cases.size(), false);
        for (const std::string &body : bodies) {
            std::size_t index = 0;
            while (index < cases.size() &&
                   (seen[index] ||
                    body.compare(0, cases[index].rtf.size(), cases[index].rtf) != 0 ||
                    body.find_first_not_of('\0', cases[index].rtf.size()) != std::string::npos)) {
                ++index;
            }
            ASSERT_LT(index, cases.size()) << "body not as written: " << body.substr(0, 60);
            seen[index] = true;
            rtf_reader_reset();
            EXPECT_EQ(parse_body_file(body, "rtf_mailbox_writer_body"), cases[index].code)
                << "case " << index;
            EXPECT_EQ(rtf_text, cases[index].text) << "case " << index;
        }
    }
}

} // namespace
} // namespace korvel
