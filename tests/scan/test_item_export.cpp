// The preview-time export of bodies, recipients and attachments, on the
// sample mailbox through the real libpff.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "scan/item_export.h"
#include "scan/item_kinds.h"
#include "scan/item_record.h"
#include "scan/pff_values.h"
#include "scan/target_path.h"
#include "scan/text.h"
#include "tests/support/pst_builder.h"
#include "tests/support/samples.h"
#include "tests/support/scan_session.h"

namespace korvel {
namespace {

namespace fs = std::filesystem;
using testing::narrow;

const char tw_commercial[] =
    "Top of Personal Folders/lokay-m/MLOKAY (Non-Privileged)/TW-Commercial Group";

std::vector<std::uint8_t> file_bytes(const fs::path &path)
{
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// The whole data of a data attachment in one read, as libpff gives it.
std::vector<std::uint8_t> attachment_bytes(libpff_item_t *attachment)
{
    error_slot error;
    size64_t size = 0;
    EXPECT_EQ(libpff_attachment_get_data_size(attachment, &size, error.get()), 1);
    std::vector<std::uint8_t> data(static_cast<std::size_t>(size));
    if (size > 0) {
        EXPECT_EQ(libpff_attachment_data_seek_offset(attachment, 0, SEEK_SET, error.get()), 0);
        EXPECT_EQ(
            libpff_attachment_data_read_buffer(attachment, data.data(), data.size(), error.get()),
            static_cast<ssize_t>(data.size()));
    }
    return data;
}

// A scanned sample with the preview's scratch temporary directory.
class export_fixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_temporary = testing::scratch_directory(
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        message_values &values = export_message_values();
        message_values_clear(&values);
        values.temporary_directory = m_temporary + "/";
        kind_values_clear(&export_kind_values());
        ASSERT_EQ(m_session.scan(testing::sample_path("enron.pst")), 1);
    }

    void TearDown() override { export_message_values().temporary_directory.clear(); }

    std::string attachment_directory() const { return m_temporary + "/Attachments"; }

    // The preview's steps before a re-export: an empty working directory,
    // the default body, no attachment names.
    void prepare_preview()
    {
        fs::remove_all(attachment_directory());
        fs::create_directory(attachment_directory());
        message_values_reset_body(&export_message_values());
        export_message_values().attachment_list.clear();
    }

    void preview(std::int32_t sequence)
    {
        prepare_preview();
        const item_record *record = item_record_list_find(&m_session.state.records, sequence);
        ASSERT_NE(record, nullptr);
        ASSERT_EQ(export_record_item(&m_session.state, record), 1);
    }

    testing::scan_session m_session;
    std::string m_temporary;
};

TEST_F(export_fixture, email_with_attachment_fills_the_message_holders)
{
    ASSERT_TRUE(m_session.fill(tw_commercial));
    preview(13);
    const message_values &values = export_message_values();
    EXPECT_EQ(m_session.state.kind_name, u"email");
    EXPECT_EQ(values.body_kind, u"txt");
    ASSERT_GT(values.body_size, 3u);
    ASSERT_EQ(values.body_bytes.size(), values.body_size);
    EXPECT_EQ(values.body_bytes.back(), 0);
    EXPECT_EQ(narrow(values.to_text), "Lokay  Michelle");
    EXPECT_TRUE(values.cc_text.empty());
    const std::string path = attachment_directory() + "/TW_PNR_Oct26_01.doc";
    EXPECT_EQ(narrow(values.attachment_list), path + " ;");
    EXPECT_EQ(fs::file_size(path), 30208u);
}

TEST_F(export_fixture, existing_entries_are_never_overwritten_nor_followed)
{
    ASSERT_TRUE(m_session.fill(tw_commercial));
    prepare_preview();
    const std::string path = attachment_directory() + "/TW_PNR_Oct26_01.doc";
    {
        std::ofstream(path) << "keep";
    }
    const item_record *record = item_record_list_find(&m_session.state.records, 13);
    ASSERT_NE(record, nullptr);
    ASSERT_EQ(export_record_item(&m_session.state, record), 1);
    EXPECT_EQ(file_bytes(path), (std::vector<std::uint8_t>{'k', 'e', 'e', 'p'}));
    // The path is listed all the same, as for a second same-named attachment.
    EXPECT_EQ(narrow(export_message_values().attachment_list), path + " ;");

    // A link planted under the name leads nowhere: its target stays as it was.
    prepare_preview();
    const std::string outside = m_temporary + "/outside";
    {
        std::ofstream(outside) << "outside";
    }
    ASSERT_EQ(::symlink(outside.c_str(), path.c_str()), 0);
    ASSERT_EQ(export_record_item(&m_session.state, record), 1);
    EXPECT_EQ(file_bytes(outside).size(), 7u);
    EXPECT_TRUE(fs::is_symlink(path));
}

TEST_F(export_fixture, missing_arguments_are_refused)
{
    ASSERT_TRUE(m_session.fill(tw_commercial));
    const item_record *record = item_record_list_find(&m_session.state.records, 13);
    ASSERT_NE(record, nullptr);
    item_holder item;
    error_slot error;
    ASSERT_EQ(libpff_folder_get_sub_message(record->parent, record->index, item.out(), error.get()),
              1);
    export_handle_t *handle = m_session.state.export_handle;
    const char16_t path[] = u"/x";
    EXPECT_EQ(export_handle_export_item(nullptr, item.get(), 0, 10, path, 2, nullptr, error.get()),
              -1);
    EXPECT_EQ(export_handle_export_item(handle, nullptr, 0, 10, path, 2, nullptr, error.get()), -1);
    EXPECT_EQ(
        export_handle_export_item(handle, item.get(), 0, 10, nullptr, 0, nullptr, error.get()), -1);
    EXPECT_EQ(
        export_handle_export_message_body(handle, item.get(), nullptr, 0, nullptr, error.get()), 0);
    EXPECT_EQ(
        export_handle_export_attachments(handle, item.get(), nullptr, 0, nullptr, error.get()), -1);
    EXPECT_EQ(export_handle_export_recipients(nullptr, item.get(), path, 2, nullptr, error.get()),
              -1);
    EXPECT_EQ(export_record_item(&m_session.state, nullptr), -1);
    // Nothing was written by any of them.
    EXPECT_FALSE(fs::exists(attachment_directory() + "/TW_PNR_Oct26_01.doc"));
}

// Every listed item of the sample: the export ends, writes only inside the
// working directory, and every attachment file holds exactly what libpff reads.
TEST_F(export_fixture, every_sample_item_exports_its_attachments_byte_for_byte)
{
    std::vector<tree_item> folders;
    for (const auto &item : m_session.views.tree) {
        if (item.level > 0) {
            folders.push_back(item.handle);
        }
    }
    std::size_t items = 0;
    std::size_t files = 0;
    for (tree_item folder : folders) {
        folder_fill(&m_session.state, folder);
        std::vector<std::int32_t> sequences;
        for (const item_record *r = m_session.state.records.head; r != nullptr; r = r->next) {
            sequences.push_back(r->sequence);
        }
        for (std::int32_t sequence : sequences) {
            SCOPED_TRACE("record " + std::to_string(sequence));
            preview(sequence);
            ++items;
            const message_values &values = export_message_values();
            ASSERT_LE(values.body_size, values.body_bytes.size());
            ASSERT_LT(values.body_size, body_size_limit);

            // Only the working directory appears in the temporary directory.
            std::set<std::string> top;
            for (const auto &entry : fs::directory_iterator(m_temporary)) {
                top.insert(entry.path().filename().string());
            }
            EXPECT_EQ(top, std::set<std::string>{"Attachments"});

            // Compare each written file with libpff's own read of its data.
            const item_record *record = item_record_list_find(&m_session.state.records, sequence);
            item_holder message;
            error_slot error;
            ASSERT_EQ(libpff_folder_get_sub_message(record->parent, record->index, message.out(),
                                                    error.get()),
                      1);
            int count = 0;
            ASSERT_EQ(libpff_message_get_number_of_attachments(message.get(), &count, error.get()),
                      1);
            std::set<std::string> names;
            for (int i = 0; i < count; ++i) {
                item_holder attachment;
                ASSERT_EQ(
                    libpff_message_get_attachment(message.get(), i, attachment.out(), error.get()),
                    1);
                int type = 0;
                ASSERT_EQ(libpff_attachment_get_type(attachment.get(), &type, error.get()), 1);
                if (type != LIBPFF_ATTACHMENT_TYPE_DATA) {
                    continue;
                }
                std::u16string wide_name;
                ASSERT_TRUE(utf8_to_utf16(attachment_file_name(attachment.get(), i), wide_name));
                // The target-path rule replaces the same characters here.
                ASSERT_EQ(export_handle_sanitize_filename(m_session.state.export_handle,
                                                          wide_name.data(), wide_name.size(),
                                                          error.get()),
                          1);
                const std::string name = utf16_to_utf8(wide_name);
                if (!names.insert(name).second) {
                    continue; // the first of two same-named attachments wins
                }
                EXPECT_EQ(file_bytes(attachment_directory() + "/" + name),
                          attachment_bytes(attachment.get()))
                    << name;
                ++files;
            }
        }
    }
    EXPECT_GE(items, 70u);
    EXPECT_EQ(files, 70u);
}

// A mailbox written by our writer, scanned, with its Inbox listed.
class writer_fixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_directory = testing::scratch_directory(
            std::string("export_") +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        message_values &values = export_message_values();
        message_values_clear(&values);
        values.temporary_directory = m_directory;
        m_inbox = m_builder.top_of_personal_folders().find("Inbox");
        ASSERT_NE(m_inbox, nullptr);
    }

    void TearDown() override { export_message_values().temporary_directory.clear(); }

    convert::message &add() { return m_inbox->add_message("IPM.Note"); }

    void scan()
    {
        const std::string path = m_directory + "/mailbox.pst";
        m_builder.write(path);
        ASSERT_EQ(m_session.scan(path), 1);
        ASSERT_TRUE(m_session.fill("Top of Personal Folders/Inbox"));
    }

    std::string attachments() const { return m_directory + "/Attachments"; }

    void preview(int index)
    {
        fs::remove_all(attachments());
        fs::create_directory(attachments());
        message_values_reset_body(&export_message_values());
        export_message_values().attachment_list.clear();
        for (const item_record *r = m_session.state.records.head; r != nullptr; r = r->next) {
            if (r->index == index && r->parent != nullptr) {
                ASSERT_EQ(export_record_item(&m_session.state, r), 1);
                break;
            }
        }
        // Whatever was exported, it all lies in the attachment directory.
        std::set<std::string> top;
        for (const auto &entry : fs::directory_iterator(m_directory)) {
            top.insert(entry.path().filename().string());
        }
        EXPECT_EQ(top, (std::set<std::string>{"Attachments", "mailbox.pst"}));
    }

    std::string body() const
    {
        const message_values &values = export_message_values();
        return std::string(values.body_bytes.begin(), values.body_bytes.begin() + values.body_size);
    }

    std::vector<std::string> listed() const
    {
        std::vector<std::string> names;
        std::string list = narrow(export_message_values().attachment_list);
        const std::string prefix = attachments() + "/";
        std::size_t start = 0;
        for (std::size_t end; (end = list.find(" ;", start)) != std::string::npos;
             start = end + 2) {
            std::string path = list.substr(start, end - start);
            EXPECT_EQ(path.rfind(prefix, 0), 0u) << path;
            names.push_back(path.substr(prefix.size()));
        }
        EXPECT_EQ(start, list.size());
        return names;
    }

    testing::pst_builder m_builder;
    testing::pst_folder *m_inbox = nullptr;
    testing::scan_session m_session;
    std::string m_directory;
};

TEST_F(writer_fixture, body_choice_and_size_limit)
{
    auto &both = add();
    both.set_html("<p>x</p>");
    both.set_rtf("{\\rtf1 x}");
    add().set_body("plain");
    auto &large = add();
    large.set_html(std::string(70000, 'h'));
    large.set_rtf("{\\rtf1 unused}");
    add(); // no body at all
    add().set_rtf("{\\rtf1 only}");
    add().set_html(std::string(64998, 'k')); // 64999 with the zero: kept
    add().set_html(std::string(64999, 'd')); // 65000: dropped
    scan();

    preview(0);
    EXPECT_EQ(export_message_values().body_kind, u"html");
    EXPECT_EQ(body(), std::string("<p>x</p>", 9));

    preview(1);
    EXPECT_EQ(export_message_values().body_kind, u"txt");
    EXPECT_EQ(body(), std::string("plain", 6));

    // The HTML loader succeeds without keeping anything: no RTF either.
    preview(2);
    EXPECT_EQ(export_message_values().body_kind, u"html");
    EXPECT_EQ(export_message_values().body_size, 3u);

    preview(4);
    EXPECT_EQ(export_message_values().body_kind, u"rtf");
    // The RTF exactly as libpff decompresses it (zero bytes may follow).
    const std::string rtf = body();
    EXPECT_EQ(rtf.substr(0, 12), "{\\rtf1 only}");
    EXPECT_EQ(rtf.find_first_not_of('\0', 12), std::string::npos);

    // No body: the kind stays from before, the body is the preview's default.
    preview(3);
    EXPECT_EQ(export_message_values().body_kind, u"rtf");
    EXPECT_EQ(export_message_values().body_size, 3u);
    EXPECT_EQ(export_message_values().body_bytes[0], 0x20);

    preview(5);
    EXPECT_EQ(export_message_values().body_size, 64999u);
    preview(6);
    EXPECT_EQ(export_message_values().body_size, 3u);
}

TEST_F(writer_fixture, recipient_texts_and_separators)
{
    auto &plain = add();
    plain.add_recipient(1, "A");
    plain.add_recipient(1, "B");
    plain.add_recipient(2, "C");
    auto &odd = add();
    odd.add_recipient(1, "A");
    odd.recipients.emplace_back().set_unicode(0x3001, "Untyped");
    odd.add_recipient(0, "Zero");
    odd.add_recipient(4, "Four");
    odd.add_recipient(1, "D");
    auto &names = add();
    names.recipients.emplace_back().set_long(0x0C15, 3).set_unicode(0x5FF6, "R");
    names.recipients.emplace_back().set_long(0x0C15, 1);
    add(); // no recipient table rows
    scan();

    preview(0);
    const message_values &values = export_message_values();
    EXPECT_EQ(values.to_text, u"A, B, ");
    EXPECT_EQ(values.cc_text, u"C");
    EXPECT_EQ(values.bcc_text, u"");

    preview(1);
    EXPECT_EQ(values.to_text, u"UnknownD");
    EXPECT_EQ(values.cc_text, u"");

    preview(2);
    EXPECT_EQ(values.bcc_text, u"R, ");
    EXPECT_EQ(values.to_text, u"");

    preview(3);
    EXPECT_EQ(values.to_text, u"");
    EXPECT_EQ(values.bcc_text, u"");
}

TEST_F(writer_fixture, attachment_names_stay_inside_and_never_overwrite)
{
    auto &same = add();
    same.add_attachment("same.txt", convert::data_source::from_string("first"));
    same.add_attachment("same.txt", convert::data_source::from_string("second"));
    same.add_reference("ref.txt", "\\\\server\\share\\ref.txt");
    same.add_attachment("big.bin", convert::data_source::pattern(100000, 7));

    auto &odd = add();
    odd.add_attachment("LONG.TXT", convert::data_source::from_string("0")).erase(0x3707);
    odd.add_attachment("x", convert::data_source::from_string("1"))
        .erase(0x3707)
        .erase(0x3704)
        .set_unicode(0x3001, "Shown");
    odd.add_attachment("x", convert::data_source::from_string("2")).erase(0x3707).erase(0x3704);
    odd.add_attachment("..", convert::data_source::from_string("3"));
    odd.add_attachment("../../escape.txt", convert::data_source::from_string("4"));
    odd.add_attachment(std::string(300, 'n') + ".txt", convert::data_source::from_string("5"));
    odd.add_attachment("", convert::data_source::from_string("6"));
    scan();

    preview(0);
    const std::string base = attachments() + "/";
    EXPECT_EQ(listed(), (std::vector<std::string>{"same.txt", "same.txt", "big.bin"}));
    EXPECT_EQ(file_bytes(base + "same.txt"), (std::vector<std::uint8_t>{'f', 'i', 'r', 's', 't'}));
    const std::vector<std::uint8_t> big = file_bytes(base + "big.bin");
    ASSERT_EQ(big.size(), 100000u);
    for (std::size_t i = 0; i < big.size(); ++i) {
        ASSERT_EQ(big[i], convert::pattern_byte(7, i)) << i;
    }

    preview(1);
    const std::string shortened = std::string(251, 'n') + ".txt";
    const std::vector<std::string> expected{
        "LONG.TXT",         "Shown",   "Attachment2", "Attachment3",
        ".._.._escape.txt", shortened, "Attachment6"};
    EXPECT_EQ(listed(), expected);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(file_bytes(base + expected[i]),
                  std::vector<std::uint8_t>{static_cast<std::uint8_t>('0' + i)})
            << expected[i];
    }
}

TEST_F(writer_fixture, embedded_message_adds_a_row_while_previewed)
{
    auto &outer = add();
    outer.set_unicode(0x0037, "outer");
    auto &inner = outer.add_embedded("Fwd: inner", "IPM.Note");
    inner.set_unicode(0x0037, "inner");
    inner.set_body("inside");
    scan();
    const std::size_t rows = m_session.views.rows.size();
    const std::size_t records = m_session.state.records.count;

    preview(0);
    EXPECT_EQ(listed(), std::vector<std::string>{"Fwd_ inner"});
    EXPECT_TRUE(fs::is_directory(attachments() + "/Fwd_ inner"));
    ASSERT_EQ(m_session.views.rows.size(), rows + 1);
    ASSERT_EQ(m_session.state.records.count, records + 1);
    const item_record *added = m_session.state.records.tail;
    EXPECT_EQ(added->index, 0);
    EXPECT_EQ(added->kind, u"email");
    EXPECT_EQ(narrow(added->subject), "inner");
    // The outer message's body holders are its own, not the embedded one's.
    EXPECT_EQ(export_message_values().body_size, 3u);
}

} // namespace
} // namespace korvel
