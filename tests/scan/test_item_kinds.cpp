// The preview-time dispatcher and the per-kind exporters, on mailboxes from
// our own writer read back through libpff.
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "scan/item_export.h"
#include "scan/item_kinds.h"
#include "scan/item_record.h"
#include "scan/pff_values.h"
#include "tests/support/pst_builder.h"
#include "tests/support/samples.h"
#include "tests/support/scan_session.h"

namespace korvel {
namespace {

namespace fs = std::filesystem;
using convert::named;
namespace psets = convert::psets;

// Jan 05, 2010 13:45:07 UTC.
constexpr std::int64_t sample_time = 1262699107;

// A mailbox written by our writer, scanned, with its Inbox listed.
class kinds_fixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_directory = testing::scratch_directory(
            std::string("kinds_") +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        message_values &values = export_message_values();
        message_values_clear(&values);
        values.temporary_directory = m_directory;
        kind_values_clear(&export_kind_values());
        m_inbox = m_builder.top_of_personal_folders().find("Inbox");
        ASSERT_NE(m_inbox, nullptr);
    }

    void TearDown() override { export_message_values().temporary_directory.clear(); }

    convert::message &add(std::string_view message_class)
    {
        return m_inbox->add_message(message_class);
    }

    void scan()
    {
        const std::string path = m_directory + "/mailbox.pst";
        m_builder.write(path);
        ASSERT_EQ(m_session.scan(path), 1);
        ASSERT_TRUE(m_session.fill("Top of Personal Folders/Inbox"));
    }

    // The preview of the message at index in the Inbox, as the window does it.
    void preview(int index)
    {
        fs::remove_all(m_directory + "/Attachments");
        fs::create_directory(m_directory + "/Attachments");
        message_values_reset_body(&export_message_values());
        export_message_values().attachment_list.clear();
        for (const item_record *r = m_session.state.records.head; r != nullptr; r = r->next) {
            if (r->index == index) {
                ASSERT_EQ(export_record_item(&m_session.state, r), 1);
                return;
            }
        }
        // Kinds without a record (documents, unlisted types) go to the
        // dispatcher straight from the folder.
        ASSERT_NE(m_session.state.records.head, nullptr);
        item_holder item;
        error_slot error;
        ASSERT_EQ(libpff_folder_get_sub_message(m_session.state.records.head->parent, index,
                                                item.out(), error.get()),
                  1);
        const char16_t path[] = u"/Inbox";
        EXPECT_EQ(export_handle_export_item(m_session.state.export_handle, item.get(), index, 10,
                                            path, 6, m_session.state.log_handle, error.get()),
                  1);
    }

    const std::optional<std::u16string> &contact(std::uint32_t tag, int occurrence = 0)
    {
        const auto &values = export_kind_values().contact.values;
        for (std::size_t i = 0; i < contact_properties.size(); ++i) {
            if (contact_properties[i].tag == tag && occurrence-- == 0) {
                return values[i];
            }
        }
        static const std::optional<std::u16string> none;
        ADD_FAILURE() << "no contact holder for " << tag;
        return none;
    }

    testing::pst_builder m_builder;
    testing::pst_folder *m_inbox = nullptr;
    testing::scan_session m_session;
    std::string m_directory;
};

TEST_F(kinds_fixture, contact_values_fill_or_clear_every_holder)
{
    add("IPM.Note").add_recipient(1, "Ann");
    auto &full = add("IPM.Contact");
    full.set_unicode(named(psets::address, 0x8005), "Lee, Ann");
    full.set_unicode(0x3A06, "Ann");
    full.set_unicode(0x3A16, "Acme");
    full.set_unicode(0x3A5D, "1 High Street");
    full.set_unicode(0x3A1C, "555 0100");
    full.set_unicode(named(psets::address, 0x804A), "PO 7");
    full.set_string8(0x3A11, "Caf\xE9");
    full.set_systime(0x3A42, convert::filetime_from_unix(sample_time));
    full.set_body("contact note");
    auto &bare = add("IPM.Contact");
    bare.set_unicode(0x3A17, "Engineer");
    scan();

    preview(0);
    EXPECT_EQ(export_message_values().to_text, u"Ann");
    preview(1);
    EXPECT_EQ(m_session.state.kind_name, u"contact");
    // A contact has no recipients: the e-mail's names are gone.
    EXPECT_TRUE(export_message_values().to_text.empty());
    EXPECT_EQ(contact(0x8005), u"Lee, Ann");
    EXPECT_EQ(contact(0x3A06), u"Ann");
    EXPECT_EQ(contact(0x3A16), u"Acme");
    EXPECT_EQ(contact(0x3A11), u"Café");
    EXPECT_EQ(contact(0x804A), u"PO 7");
    // Listed twice, filled twice.
    EXPECT_EQ(contact(0x3A5D, 0), u"1 High Street");
    EXPECT_EQ(contact(0x3A5D, 1), u"1 High Street");
    EXPECT_EQ(contact(0x3A1C, 0), u"555 0100");
    EXPECT_EQ(contact(0x3A1C, 1), u"555 0100");
    // A birthday stored as a date is no string.
    EXPECT_EQ(contact(0x3A42), std::nullopt);
    EXPECT_EQ(contact(0x3A17), std::nullopt);
    EXPECT_EQ(export_message_values().body_kind, u"txt");

    preview(2);
    EXPECT_EQ(contact(0x3A17), u"Engineer");
    EXPECT_EQ(contact(0x3A06), std::nullopt);
    EXPECT_EQ(contact(0x3A5D, 1), std::nullopt);
}

TEST_F(kinds_fixture, task_values_take_their_text_forms)
{
    auto &task = add("IPM.Task");
    task.set_systime(named(psets::task, 0x8104), convert::filetime_from_unix(sample_time));
    task.set_long(named(psets::task, 0x8101), 7);
    task.set_double(named(psets::task, 0x8102), 0.25);
    task.set_long(named(psets::task, 0x8110), 90);
    task.set_long(named(psets::task, 0x8111), 0x1F);
    task.set_boolean(named(psets::task, 0x811C), false);
    task.set_long(named(psets::task, 0x8112), 256);
    auto &done = add("IPM.Task");
    done.set_long(named(psets::task, 0x8101), 2);
    done.set_double(named(psets::task, 0x8102), 1.0);
    done.set_boolean(named(psets::task, 0x811C), true);
    scan();

    preview(0);
    const task_values &values = export_kind_values().task;
    EXPECT_EQ(m_session.state.kind_name, u"task");
    EXPECT_EQ(values.start_date, u"Jan 05, 2010 13:45:07");
    EXPECT_EQ(values.due_date, std::nullopt);
    EXPECT_EQ(values.status, u"");
    EXPECT_EQ(values.percent_complete, u"0.25");
    EXPECT_EQ(values.actual_effort, u"5a");
    EXPECT_EQ(values.total_effort, u"1f");
    EXPECT_EQ(values.complete, u"no");
    EXPECT_EQ(values.version, u"100");

    // The next task starts from empty holders.
    preview(1);
    EXPECT_EQ(values.start_date, std::nullopt);
    EXPECT_EQ(values.status, u"Completed");
    EXPECT_EQ(values.percent_complete, u"1.00");
    EXPECT_EQ(values.complete, u"yes");
    EXPECT_EQ(values.actual_effort, u"");
    EXPECT_EQ(values.version, u"");
}

TEST_F(kinds_fixture, appointment_values_are_cleared_per_appointment)
{
    auto &meeting = add("IPM.Appointment");
    meeting.set_systime(named(psets::appointment, 0x820D),
                        convert::filetime_from_unix(sample_time));
    meeting.set_systime(named(psets::appointment, 0x820E),
                        convert::filetime_from_unix(sample_time + 3600));
    meeting.set_long(named(psets::appointment, 0x8213), 60);
    meeting.set_long(named(psets::appointment, 0x8205), 2);
    meeting.set_unicode(named(psets::appointment, 0x8208), "Room 1");
    meeting.set_unicode(named(psets::appointment, 0x8232), "Weekly");
    meeting.add_attachment("agenda.txt", convert::data_source::from_string("agenda"));
    meeting.set_body("see you");
    auto &later = add("IPM.Appointment");
    later.set_long(named(psets::appointment, 0x8205), 0x1A);
    scan();

    preview(0);
    const appointment_values &values = export_kind_values().appointment;
    EXPECT_EQ(m_session.state.kind_name, u"appointment");
    EXPECT_EQ(values.start, u"Jan 05, 2010 13:45:07");
    EXPECT_EQ(values.end, u"Jan 05, 2010 14:45:07");
    EXPECT_EQ(values.duration, u"60");
    EXPECT_EQ(values.busy_status, u"2");
    EXPECT_EQ(values.location, u"Room 1");
    EXPECT_EQ(values.recurrence_pattern, u"Weekly");
    EXPECT_EQ(values.clip_start, std::nullopt);
    EXPECT_TRUE(fs::exists(m_directory + "/Attachments/agenda.txt"));
    EXPECT_EQ(export_message_values().body_kind, u"txt");

    preview(1);
    EXPECT_EQ(values.location, std::nullopt);
    EXPECT_EQ(values.start, std::nullopt);
    EXPECT_EQ(values.duration, std::nullopt);
    EXPECT_EQ(values.busy_status, u"1a");
}

TEST_F(kinds_fixture, body_only_kinds_and_unlisted_types_leave_other_holders)
{
    auto &mail = add("IPM.Note");
    mail.add_recipient(1, "Ann");
    mail.set_body("mail");
    add("IPM.StickyNote").set_body("sticky");
    add("IPM.Post.RSS").set_html("<p>feed</p>");
    add("IPM.Activity").set_body("call");
    auto &list = add("IPM.DistList");
    list.set_body("members");
    list.add_attachment("members.txt", convert::data_source::from_string("x"));
    scan();

    preview(0);
    auto &task = export_kind_values().task;
    task.status = u"earlier";

    preview(1);
    EXPECT_EQ(m_session.state.kind_name, u"note");
    EXPECT_EQ(export_message_values().body_kind, u"txt");
    EXPECT_EQ(std::string(export_message_values().body_bytes.begin(),
                          export_message_values().body_bytes.end()),
              std::string("sticky", 7));
    EXPECT_EQ(export_message_values().to_text, u"Ann");
    EXPECT_EQ(task.status, u"earlier");

    preview(2);
    EXPECT_EQ(m_session.state.kind_name, u"RSSfeed");
    EXPECT_EQ(export_message_values().body_kind, u"html");

    preview(3);
    EXPECT_EQ(m_session.state.kind_name, u"activity");
    EXPECT_EQ(export_message_values().body_kind, u"txt");

    // An unlisted type: nothing is read, the kind name stays.
    preview(4);
    EXPECT_EQ(m_session.state.kind_name, u"activity");
    EXPECT_EQ(export_message_values().body_size, 3u);
    EXPECT_TRUE(export_message_values().attachment_list.empty());
    EXPECT_FALSE(fs::exists(m_directory + "/Attachments/members.txt"));
    EXPECT_EQ(export_message_values().to_text, u"Ann");
}

} // namespace
} // namespace korvel
