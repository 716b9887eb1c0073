// The ten cells of a row and the column titles, from messages made by our
// writer with exactly the properties each case needs.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "scan/text.h"
#include "tests/support/pst_builder.h"
#include "tests/support/samples.h"
#include "tests/support/scan_session.h"

namespace korvel {
namespace {

using convert::message;
using convert::named;
using testing::narrow;
using testing::pst_builder;
using testing::scan_session;

// Lists one folder "Box" holding the given messages; rows top to bottom.
struct listing
{
    scan_session session;
    std::vector<std::vector<std::string>> rows;

    explicit listing(const std::string &name,
                     const std::vector<std::pair<std::string, std::function<void(message &)>>> &items)
    {
        pst_builder builder;
        auto &box = builder.root().add_folder("Box");
        for (const auto &[message_class, fill] : items) {
            fill(box.add_message(message_class));
        }
        const std::string path = testing::scratch_directory("list-" + name) + "/m.pst";
        builder.write(path);
        EXPECT_EQ(session.scan(path), 1);
        EXPECT_TRUE(session.fill("Box"));
        for (const auto &row : session.views.rows) {
            std::vector<std::string> cells;
            for (const auto &cell : row.cells) {
                cells.push_back(cell ? narrow(*cell) : "(blank)");
            }
            rows.push_back(cells);
        }
    }

    // The cells of the item read n-th (1-based), which is row size - n.
    const std::vector<std::string> &item(std::size_t n) const { return rows[rows.size() - n]; }
    std::string title(int column) const { return narrow(session.views.column_titles[column]); }
};

void none(message &) {}

TEST(item_listing, FlagWords)
{
    listing l("flags", {{"IPM.Note", [](message &m) { m.set_long(0x0E07, 0x0); }},
                        {"IPM.Note", [](message &m) { m.set_long(0x0E07, 0x1); }},
                        {"IPM.Note", [](message &m) { m.set_long(0x0E07, 0x3); }},
                        {"IPM.Note", [](message &m) { m.set_long(0x0E07, 0x211); }},
                        {"IPM.Note", [](message &m) { m.set_long(0x0E07, 0x31); }},
                        {"IPM.Note", none}});
    ASSERT_EQ(l.rows.size(), 6u);
    EXPECT_EQ(l.item(1)[5], "Unread");
    EXPECT_EQ(l.item(2)[5], "Read");
    EXPECT_EQ(l.item(3)[5], "Unmodified");
    EXPECT_EQ(l.item(4)[5], "NRN pending");
    EXPECT_EQ(l.item(5)[5], "From me");
    EXPECT_EQ(l.item(6)[5], "(blank)");
}

TEST(item_listing, PriorityImportanceSensitivityAndSize)
{
    auto with = [](int priority, int importance, int sensitivity) {
        return [=](message &m) {
            m.set_long(0x0026, priority);
            m.set_long(0x0017, importance);
            m.set_long(0x0036, sensitivity);
        };
    };
    listing l("words", {{"IPM.Note", with(-1, 0, 0)},
                        {"IPM.Note", with(0, 1, 1)},
                        {"IPM.Note", with(1, 2, 2)},
                        {"IPM.Note", with(2, 3, 3)},
                        {"IPM.Note", with(7, -1, 4)},
                        {"IPM.Note", [](message &m) { m.set_long(0x0E08, 0); }}});
    ASSERT_EQ(l.rows.size(), 6u);
    const std::vector<std::vector<std::string>> expected = {
        {"Non Urgent", "None", "Low"},       {"Normal", "Personal", "Normal"},
        {"Urgent", "Private", "High"},       {"None", "Confidential", "(blank)"},
        {"None", "None", "(blank)"},         {"None", "None", "(blank)"}};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const auto &row = l.item(i + 1);
        EXPECT_EQ((std::vector<std::string>{row[7], row[8], row[9]}), expected[i]) << i;
    }
    EXPECT_EQ(l.item(6)[6], "0  Bytes");
    EXPECT_EQ(l.item(5)[6], "(blank)");
}

TEST(item_listing, SubjectsAndConversationTopics)
{
    listing l("subjects",
              {{"IPM.Note", [](message &m) { m.set_unicode(0x0070, "topic unused"); }},
               {"IPM.Note",
                [](message &m) {
                    m.set_unicode(0x0037, "");
                    m.set_unicode(0x0070, "the--topic");
                }},
               {"IPM.Note",
                [](message &m) {
                    m.set_unicode(0x0037, "--");
                    m.set_unicode(0x0070, "topic instead");
                }},
               {"IPM.Note", [](message &m) { m.set_unicode(0x0037, "join--ed and --- one"); }},
               {"IPM.Note", [](message &m) { m.set_unicode(0x0037, "tab\there\r\nline\\slash"); }},
               {"IPM.Note", [](message &m) { m.set_unicode(0x0037, "Caf\xc3\xa9 \xe6\x97\xa5"); }},
               {"IPM.Note",
                [](message &m) {
                    m.set_long(0x3FFD, 1252);
                    m.set_string8(0x0037, "Caf\xe9");
                }},
               {"IPM.Note", [](message &m) { m.set_unicode(0x0037, ""); }}});
    ASSERT_EQ(l.rows.size(), 8u);
    EXPECT_EQ(l.item(1)[3], " ");
    EXPECT_EQ(l.item(2)[3], "thetopic");
    EXPECT_EQ(l.item(3)[3], "topic instead");
    EXPECT_EQ(l.item(4)[3], "joined and - one");
    EXPECT_EQ(l.item(5)[3], "tabherelineslash");
    EXPECT_EQ(l.item(6)[3], "Caf\xc3\xa9 \xe6\x97\xa5");
    EXPECT_EQ(l.item(7)[3], "Caf\xc3\xa9");
    // Empty subject and no topic: the cell stays blank.
    EXPECT_EQ(l.item(8)[3], "(blank)");
}

// Texts longer than the buffer a row's strings are read into come out whole,
// 8-bit ones too (their UTF-8 outgrows the stored bytes), and a short text
// after them is not mixed with what they left.
TEST(item_listing, LongTextsAreShownWhole)
{
    std::string long_subject;
    std::string long_name;
    for (int i = 0; i < 3000; ++i) {
        long_subject += i < 2500 ? "\xc3\xa9" : "";
        long_name += "\xc3\xa9";
    }
    const std::string long_topic = std::string(6000, 't') + "--end";
    listing l("long",
              {{"IPM.Note", [&](message &m) { m.set_unicode(0x0037, long_subject); }},
               {"IPM.Note",
                [](message &m) {
                    m.set_long(0x3FFD, 1252);
                    m.set_string8(0x0C1A, std::string(3000, '\xe9'));
                }},
               {"IPM.Note",
                [&](message &m) {
                    m.set_unicode(0x0037, "");
                    m.set_unicode(0x0070, long_topic);
                }},
               {"IPM.Note", [](message &m) { m.set_unicode(0x0037, "short"); }}});
    ASSERT_EQ(l.rows.size(), 4u);
    EXPECT_EQ(l.item(1)[3], long_subject);
    EXPECT_EQ(l.item(2)[2], long_name);
    EXPECT_EQ(l.item(3)[3], std::string(6000, 't') + "end");
    EXPECT_EQ(l.item(4)[3], "short");
}

TEST(item_listing, SendersAndAddresses)
{
    listing l("senders",
              {{"IPM.Note",
                [](message &m) {
                    m.set_unicode(0x0C1A, "Ann Smith");
                    m.set_unicode(0x0C1F, "ann@example.com");
                }},
               {"IPM.Note",
                [](message &m) {
                    m.set_unicode(0x0C1A, "Bob");
                    m.set_unicode(0x0C1F, "/O=ORG/OU=SITE/CN=RECIPIENTS/CN=BOB");
                }},
               {"IPM.Note", [](message &m) { m.set_unicode(0x0C1F, "who@example.com"); }},
               {"IPM.Note", none},
               {"IPM.Note", [](message &m) { m.set_unicode(0x0C1A, "J\xc3\xb6rg"); }}});
    ASSERT_EQ(l.rows.size(), 5u);
    EXPECT_EQ(l.item(1)[2], "Ann Smith <ann@example.com>");
    EXPECT_EQ(l.item(2)[2], "Bob");
    EXPECT_EQ(l.item(3)[2], "Unknown <who@example.com>");
    EXPECT_EQ(l.item(4)[2], "Unknown");
    EXPECT_EQ(l.item(5)[2], "J\xc3\xb6rg");
}

TEST(item_listing, DeliveryTime)
{
    const std::uint64_t march_2011 = (1299506709ull + 11644473600ull) * 10000000ull;
    listing l("dates", {{"IPM.Note", [=](message &m) { m.set_systime(0x0E06, march_2011); }},
                        {"IPM.Note", none}});
    ASSERT_EQ(l.rows.size(), 2u);
    EXPECT_EQ(l.item(1)[4], "Mar 07, 2011 14:05:09");
    EXPECT_EQ(l.item(2)[4], "");
}

TEST(item_listing, KindsTheirSlotsAndColumnTitles)
{
    const auto location = named(convert::psets::appointment, 0x8208);
    const auto task_status = named(convert::psets::task, 0x8101);
    const auto log_type = named(convert::psets::log, 0x8700);
    listing l("kinds",
              {{"IPM.Contact",
                [](message &m) {
                    m.set_unicode(0x0037, "Ann Smith");
                    m.set_unicode(0x3A16, "Example Ltd");
                    m.set_unicode(0x0C1F, "ann@example.com");
                }},
               {"IPM.Contact", [](message &m) { m.set_unicode(0x0037, "No Company"); }},
               {"IPM.Activity",
                [&](message &m) {
                    m.set_unicode(0x0037, "Phone call");
                    m.set_unicode(log_type, "Conversation");
                }},
               {"IPM.Appointment",
                [&](message &m) {
                    m.set_unicode(0x0037, "Meeting");
                    m.set_unicode(location, "Room 1");
                }},
               {"IPM.Appointment", [](message &m) { m.set_unicode(0x0037, "Nowhere"); }},
               {"IPM.Document.txtfile", [](message &m) { m.set_unicode(0x0037, "doc"); }},
               {"IPM.DistList", [](message &m) { m.set_unicode(0x0037, "list"); }},
               {"IPM.Schedule.Meeting.Request", [](message &m) { m.set_unicode(0x0037, "m"); }},
               {"IPM.StickyNote", [](message &m) { m.set_unicode(0x0037, "n"); }},
               {"IPM.Post.RSS", [](message &m) { m.set_unicode(0x0037, "r"); }},
               {"IPM.Task", [&](message &m) { m.set_long(task_status, 4); }},
               {"IPM.Task", [&](message &m) { m.set_long(task_status, 6); }},
               {"IPM.Task",
                [&](message &m) {
                    m.set_unicode(0x0037, "Do it");
                    m.set_long(task_status, 2);
                }}});
    // The document and the distribution list get no row.
    ASSERT_EQ(l.rows.size(), 11u);
    auto cells = [&](std::size_t n) {
        const auto &row = l.item(n);
        return std::vector<std::string>{row[0], row[1], row[2], row[3]};
    };
    EXPECT_EQ(cells(1), (std::vector<std::string>{"1", "contact",
                                                  "Ann Smith <ann@example.com>", "Example Ltd"}));
    EXPECT_EQ(cells(2), (std::vector<std::string>{"2", "contact", "No Company", "(blank)"}));
    EXPECT_EQ(cells(3), (std::vector<std::string>{"3", "activity", "Conversation", "Phone call"}));
    EXPECT_EQ(cells(4), (std::vector<std::string>{"4", "appointment", "Meeting", "Room 1"}));
    EXPECT_EQ(cells(5), (std::vector<std::string>{"5", "appointment", "Nowhere", "(blank)"}));
    EXPECT_EQ(cells(6), (std::vector<std::string>{"6", "meeting", "Unknown", "m"}));
    EXPECT_EQ(cells(7), (std::vector<std::string>{"7", "note", "Unknown", "n"}));
    EXPECT_EQ(cells(8), (std::vector<std::string>{"8", "RSSfeed", "Unknown", "r"}));
    EXPECT_EQ(cells(9), (std::vector<std::string>{"9", "task", " ", "Waiting on someone else"}));
    EXPECT_EQ(cells(10), (std::vector<std::string>{"10", "task", " ", "(blank)"}));
    EXPECT_EQ(cells(11), (std::vector<std::string>{"11", "task", "Do it", "Completed"}));
    EXPECT_EQ(l.title(2), "Subject: ");
    EXPECT_EQ(l.title(3), "Status");

    // Records keep their own position among the folder's messages.
    std::vector<std::int32_t> indexes;
    for (const item_record *r = l.session.state.records.head; r != nullptr; r = r->next) {
        indexes.push_back(r->index);
    }
    EXPECT_EQ(indexes, (std::vector<std::int32_t>{0, 1, 2, 3, 4, 7, 8, 9, 10, 11, 12}));
}

TEST(item_listing, ContactTitlesAndUnchangedTitlesForAnEmptyFolder)
{
    listing contacts("contacts", {{"IPM.Contact", [](message &m) { m.set_unicode(0x0037, "A"); }},
                                  {"IPM.Contact", [](message &m) { m.set_unicode(0x0037, "B"); }}});
    EXPECT_EQ(contacts.title(2), "Full Name");
    EXPECT_EQ(contacts.title(3), "Company Name");

    listing documents("documents", {{"IPM.Document.x", none}});
    EXPECT_TRUE(documents.rows.empty());
    EXPECT_EQ(documents.title(2), "From");
    EXPECT_EQ(documents.title(3), "E-mail Subject");
}

} // namespace
} // namespace korvel
