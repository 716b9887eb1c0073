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

} // namespace
} // namespace korvel
