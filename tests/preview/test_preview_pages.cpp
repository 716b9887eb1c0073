// The preview's pages, byte for byte, on mailboxes written by our writer and
// read back through libpff, as a click on a listed row builds them.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "preview/preview_builder.h"
#include "preview/rtf_reader.h"
#include "scan/item_export.h"
#include "scan/item_kinds.h"
#include "scan/text.h"
#include "tests/support/pst_builder.h"
#include "tests/support/samples.h"
#include "tests/support/scan_session.h"

namespace korvel {
namespace {

namespace fs = std::filesystem;
using testing::utf16le;
using convert::named;
namespace psets = convert::psets;

// Jan 05, 2010 13:45:07 UTC.
constexpr std::int64_t sample_time = 1262699107;

constexpr char16_t rows_prefix[] =
    u"<html><head></head><frameset rows='28%,*' border='0'><frame src='header.html'  "
    u"scrolling='auto' frameborder='1'><frame src='";
constexpr char16_t cols_prefix[] =
    u"<html><head></head><frameset cols='50%,*' border='0'><frame src='header.html'  "
    u"scrolling='auto' frameborder='1'><frame src='";
constexpr char16_t frameset_end[] = u"'></frameset></html>";

std::string file_bytes(const fs::path &path)
{
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// A writer-made mailbox, scanned, its Inbox listed; previews as the window
// makes them, into a scratch temporary directory.
class preview_pages : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_temporary = testing::scratch_directory(
            std::string("preview_") +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        message_values &values = export_message_values();
        message_values_clear(&values);
        values.temporary_directory = m_temporary + "/";
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
        const std::string path = m_temporary + "/mailbox.pst";
        m_builder.write(path);
        ASSERT_EQ(m_session.scan(path), 1);
        ASSERT_TRUE(m_session.fill("Top of Personal Folders/Inbox"));
    }

    // Clicks the row of the index-th message of the Inbox: its sequence and
    // kind texts as the list shows them.
    preview_outcome preview(int index, const std::u16string *kind_override = nullptr)
    {
        preview_outcome outcome;
        for (const item_record *r = m_session.state.records.head; r != nullptr; r = r->next) {
            if (r->index != index) {
                continue;
            }
            const std::u16string sequence = u16(std::to_string(r->sequence));
            for (const testing::recorded_row &row : m_session.views.rows) {
                if (row.cells[0] == sequence) {
                    EXPECT_EQ(preview_selected_item(&m_session.state, sequence,
                                                    kind_override ? *kind_override : *row.cells[1],
                                                    outcome),
                              1);
                    return outcome;
                }
            }
        }
        ADD_FAILURE() << "no row for message " << index;
        return outcome;
    }

    std::string work() const { return m_temporary + "/Attachments"; }
    std::u16string work16() const { return u16(work()); }
    std::string bytes(const std::string &name) const { return file_bytes(work() + "/" + name); }
    bool exists(const std::string &name) const { return fs::exists(work() + "/" + name); }

    std::string frameset(const char16_t *prefix, const std::string &body) const
    {
        return utf16le(prefix + work16() + u"/" + u16(body) + frameset_end);
    }

    testing::pst_builder m_builder;
    testing::pst_folder *m_inbox = nullptr;
    testing::scan_session m_session;
    std::string m_temporary;
};

TEST_F(preview_pages, email_page_frameset_and_files_are_byte_exact)
{
    auto &mail = add("IPM.Note");
    mail.set_unicode(0x0C1A, "Ann <Lee>");
    mail.set_unicode(0x0037, "<b>Hi</b> there");
    mail.add_recipient(1, "Bo");
    mail.add_recipient(1, "Lee; Ann");
    mail.add_recipient(2, "Dee");
    mail.add_attachment("a.doc", convert::data_source::from_string("doc"));
    mail.add_attachment("b.pdf", convert::data_source::from_string("pdf"));
    mail.set_html("<p>Hello</p>");
    scan();

    const preview_outcome outcome = preview(0);
    const std::u16string page =
        u"<html><style type='text/css'>body {margin-left: 10px;margin-top: 0px;margin-right: "
        u"0px;margin-bottom: 0px; }body,td,th {font-family: Verdana, Arial, Helvetica, "
        u"sans-serif;\tfont-size: 10px;color: #333333;}</style><body marginheight='0' "
        u"marginwidth='0' bgcolor='#e2effc'><table width='100%' border='0' cellspacing='1' "
        u"cellpadding='1'><tr><td width='47%' height='16' style='font-family:Verdana, Arial, "
        u"Helvetica, sans-serif; font-size:10px; font-weight:bold;'>Ann [Lee]</td></tr><tr><td "
        u"height='16' style='font-family:Verdana, Arial, Helvetica, sans-serif; font-size:10px; "
        u"font-weight:bold;'><b>Hi</b> there</td></tr><tr><td height='16' "
        u"style='font-family:Verdana, Arial, Helvetica, sans-serif; font-size:10px; "
        u"font-weight:normal;'><span style='font-family:Verdana, Arial, Helvetica, sans-serif; "
        u"font-size:10px; font-weight:bold;'>To: </span><span style='color:#BD28B8'>Bo, Lee;  "
        u"Ann, </span><br><b> CC:</b> Dee</td></tr><tr><td height='16' "
        u"style='font-family:Verdana, Arial, Helvetica, sans-serif; font-size:10px; "
        u"font-weight:normal;'><span style='font-family:Verdana, Arial, Helvetica, sans-serif; "
        u"font-size:10px; font-weight:bold;'>Attachment:</span>a.doc;b.pdf;</td> "
        u"</tr></table></body></html>";
    EXPECT_EQ(bytes("header.html"), utf16le(page));
    EXPECT_EQ(bytes("temp.html"), frameset(rows_prefix, "body.html"));
    EXPECT_EQ(bytes("body.html"), "<p>Hello</p>");
    EXPECT_EQ(bytes("a.doc"), "doc");
    EXPECT_EQ(bytes("b.pdf"), "pdf");
    EXPECT_TRUE(outcome.navigate);
    EXPECT_EQ(outcome.path, work16() + u"/temp.html");
    EXPECT_TRUE(outcome.content_ids.empty());
    // Nothing but the item's files: no temporary name is left behind.
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(work())) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"a.doc", "b.pdf", "body.html", "header.html",
                                               "temp.html"}));
}

TEST_F(preview_pages, email_lines_appear_only_for_what_the_item_has)
{
    add("IPM.Note").add_recipient(1, "Bo");
    auto &blind = add("IPM.Note");
    blind.add_recipient(3, "Eve");
    blind.add_recipient(1, "Bo");
    add("IPM.Schedule.Meeting.Request").add_recipient(2, "Cy");
    scan();

    const std::u16string to_start = u"<span style='color:#BD28B8'>";
    preview(0);
    std::string page = bytes("header.html");
    EXPECT_NE(page.find(utf16le(to_start + u"Bo</span></td></tr></table></body></html>")),
              std::string::npos);
    EXPECT_EQ(page.find(utf16le(u"CC:")), std::string::npos);
    EXPECT_EQ(page.find(utf16le(u"Attachment:")), std::string::npos);

    preview(1);
    page = bytes("header.html");
    EXPECT_NE(page.find(utf16le(to_start + u"Bo</span><br><b> BCC:</b> Eve, </td></tr></table>")),
              std::string::npos);
    EXPECT_EQ(page.find(utf16le(u" CC:")), std::string::npos);

    // A meeting gets the e-mail page and the rows frameset. Its export reads
    // no recipients, and those of the e-mail before it are not shown.
    const preview_outcome outcome = preview(2);
    page = bytes("header.html");
    EXPECT_NE(page.find(utf16le(to_start + u"</span></td></tr></table>")), std::string::npos);
    EXPECT_EQ(bytes("temp.html"), frameset(rows_prefix, "body.txt"));
    EXPECT_EQ(outcome.path, work16() + u"/temp.html");
}

TEST_F(preview_pages, body_file_follows_the_body_kind)
{
    add("IPM.Note").set_html("<p>web</p>");
    add("IPM.Note").set_body("plain caf\xC3\xA9");
    const std::string rtf = "{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}Hello \\'e9t\\'e9\\par}";
    add("IPM.Note").set_rtf(rtf);
    auto &both = add("IPM.Note");
    both.set_html("<i>html wins</i>");
    both.set_rtf("{\\rtf1 rtf}");
    add("IPM.Note").set_unicode(0x0037, "no body");
    scan();

    preview(0);
    EXPECT_EQ(bytes("body.html"), "<p>web</p>");
    EXPECT_FALSE(exists("body.txt"));

    preview(1);
    EXPECT_EQ(bytes("body.txt"), "plain caf\xC3\xA9");
    EXPECT_FALSE(exists("body.html"));

    // The raw RTF stays beside the text the reader made of it.
    preview(2);
    // libpff hands the decompressed RTF on with zero padding.
    const std::string copy = bytes("body.rtf");
    EXPECT_EQ(copy.substr(0, rtf.size()), rtf);
    EXPECT_EQ(copy.find_first_not_of('\0', rtf.size()), std::string::npos);
    EXPECT_EQ(bytes("body.txt"), utf16le(u"Hello \u00e9t\u00e9\n"));
    EXPECT_EQ(bytes("temp.html"), frameset(rows_prefix, "body.txt"));

    preview(3);
    EXPECT_EQ(bytes("body.html"), "<i>html wins</i>");
    EXPECT_FALSE(exists("body.rtf"));

    // No body recorded: the previous kind names the file, which holds the
    // default body (one UTF-16 space).
    preview(4);
    EXPECT_EQ(bytes("body.html"), std::string("\x20\x00", 2));
    EXPECT_EQ(bytes("temp.html"), frameset(rows_prefix, "body.html"));
}

TEST_F(preview_pages, bodies_that_are_not_text_still_preview)
{
    const std::string binary("<p>\xFF\xFE\x00\x81 half", 12);
    add("IPM.Note").set_html(binary);
    // A bad hexadecimal escape stops the reader; what it read stays.
    add("IPM.Note").set_rtf("{\\rtf1 before \\'zz after}");
    add("IPM.Note").set_string8(0x1000, "caf\xE9 \x80");
    scan();

    preview_outcome outcome = preview(0);
    EXPECT_TRUE(outcome.navigate);
    EXPECT_EQ(bytes("body.html"), binary);

    outcome = preview(1);
    EXPECT_TRUE(outcome.navigate);
    EXPECT_EQ(bytes("body.txt"), utf16le(u"before "));

    outcome = preview(2);
    EXPECT_TRUE(outcome.navigate);
    EXPECT_TRUE(exists("body.txt"));
    EXPECT_TRUE(exists("header.html"));
}

TEST_F(preview_pages, body_only_kinds_navigate_to_the_body_file)
{
    add("IPM.Note").set_body("mail");
    add("IPM.StickyNote").set_body("sticky");
    add("IPM.Activity").set_html("<p>call</p>");
    add("IPM.Post.RSS").set_body("feed");
    scan();

    const struct
    {
        int index;
        const char *body;
    } cases[] = {{1, "body.txt"}, {2, "body.html"}, {3, "body.txt"}};
    for (const auto &c : cases) {
        preview(0);
        ASSERT_TRUE(exists("header.html"));
        const preview_outcome outcome = preview(c.index);
        EXPECT_TRUE(outcome.navigate);
        EXPECT_EQ(outcome.path, work16() + u"/" + u16(c.body)) << c.index;
        EXPECT_FALSE(exists("header.html")) << c.index;
        EXPECT_FALSE(exists("temp.html")) << c.index;
    }
    // Documents (never listed) and kind texts the builder does not know go
    // the same way.
    for (const std::u16string kind : {u"document", u"folder", u"Email", u""}) {
        preview(0);
        const preview_outcome outcome = preview(0, &kind);
        EXPECT_EQ(outcome.path, work16() + u"/body.txt");
        EXPECT_FALSE(exists("header.html"));
        EXPECT_EQ(bytes("body.txt"), "mail");
    }
}

TEST_F(preview_pages, contact_page_lines_in_order)
{
    add("IPM.Contact");
    auto &ann = add("IPM.Contact");
    ann.set_unicode(0x3A06, "Ann");
    ann.set_unicode(0x3A16, "Acme");
    auto &twice = add("IPM.Contact");
    twice.set_unicode(0x3A63, "Other St");
    twice.set_unicode(0x3A5D, "1 High St");
    twice.set_unicode(0x3A1C, "555");
    twice.set_unicode(0x3A11, "Lee");
    twice.set_unicode(0x3A45, "Dr");
    twice.set_unicode(0x3A17, "Engineer");
    twice.set_unicode(0x3A13, "Prefix");
    twice.set_unicode(named(psets::address, 0x804A), "PO 7");
    twice.set_unicode(named(psets::address, 0x8005), "Lee, Ann");
    twice.set_body("note");
    scan();

    // No values at all: an empty page, and the frame beside it.
    preview_outcome outcome = preview(0);
    EXPECT_TRUE(exists("header.html"));
    EXPECT_EQ(bytes("header.html"), "");
    EXPECT_EQ(bytes("temp.html"), frameset(cols_prefix, "body.txt"));
    EXPECT_TRUE(outcome.navigate);
    EXPECT_EQ(outcome.path, work16() + u"/temp.html");

    preview(1);
    EXPECT_EQ(bytes("header.html"),
              utf16le(u"<b>First Name :</b> Ann<br><b>Company Name :</b> Acme<br>"));

    // Values shown twice are shown twice; labels follow the page's order,
    // not the read order.
    preview(2);
    EXPECT_EQ(bytes("header.html"), utf16le(u"<b>Last Name :</b> Lee<br>"
                                            u"<b>Full Name:</b> Lee, Ann<br>"
                                            u"<b>Display Name Prefix :</b> Prefix<br>"
                                            u"<b>Home Address :</b> 1 High St<br>"
                                            u"<b>Home Street :</b> 1 High St<br>"
                                            u"<b>Mileage :</b> 555<br>"
                                            u"<b>Mobile Phone :</b> 555<br>"
                                            u"<b>Other Street :</b> Other St<br>"
                                            u"<b>Surname :</b> Lee<br>"
                                            u"<b>Job Title :</b> Engineer<br>"
                                            u"<b>Title :</b> Dr<br>"
                                            u"<b>Busness Address Postal box :</b> PO 7<br>"));
    EXPECT_EQ(bytes("body.txt"), "note");
}

TEST_F(preview_pages, every_contact_value_has_a_line)
{
    auto &full = add("IPM.Contact");
    for (const contact_property &property : contact_properties) {
        const std::string value = "v" + std::to_string(property.tag);
        if (property.tag >= 0x8000) {
            full.set_unicode(named(psets::address, property.tag), value);
        } else {
            full.set_unicode(static_cast<std::uint16_t>(property.tag), value);
        }
    }
    scan();

    preview(0);
    const std::string page = bytes("header.html");
    std::size_t lines = 0;
    for (std::size_t at = page.find(utf16le(u"<br>")); at != std::string::npos;
         at = page.find(utf16le(u"<br>"), at + 1)) {
        ++lines;
    }
    // 66 lines; the birthday is a string here, so it is shown too.
    EXPECT_EQ(lines, 66u);
    EXPECT_EQ(page.rfind(utf16le(u"<b>First Name :</b> v14854<br>"), 0), 0u);
    EXPECT_NE(page.find(utf16le(u"<b>Language :</b> v47<br>")), std::string::npos);
    EXPECT_NE(page.find(utf16le(u"<b>Birth Day :</b> v14914<br>")), std::string::npos);
}

TEST_F(preview_pages, appointment_page_lines_and_their_rules)
{
    auto &meeting = add("IPM.Appointment");
    meeting.set_unicode(0x0037, "Standup");
    meeting.set_unicode(0x0C1F, "org@example.com");
    meeting.set_systime(named(psets::appointment, 0x820D),
                        convert::filetime_from_unix(sample_time));
    meeting.set_systime(named(psets::appointment, 0x820E),
                        convert::filetime_from_unix(sample_time + 3600));
    meeting.set_systime(named(psets::appointment, 0x8235),
                        convert::filetime_from_unix(sample_time));
    meeting.set_systime(named(psets::appointment, 0x8236),
                        convert::filetime_from_unix(sample_time + 86400));
    meeting.set_long(named(psets::appointment, 0x8213), 60);
    meeting.set_long(named(psets::appointment, 0x8205), 0x1A);
    meeting.set_unicode(named(psets::appointment, 0x8208), "Room 1");
    meeting.set_unicode(named(psets::appointment, 0x8232), "Weekly");
    meeting.add_attachment("agenda.txt", convert::data_source::from_string("agenda"));
    meeting.set_html("<p>see you</p>");
    auto &bare = add("IPM.Appointment");
    bare.set_long(named(psets::appointment, 0x8205), 2);
    scan();

    const preview_outcome outcome = preview(0);
    EXPECT_EQ(bytes("header.html"),
              utf16le(u"<b>Start Date/Time :</b> Jan 05, 2010 13:45:07<br>"
                      u"<b>End Date/Time :</b> Jan 05, 2010 14:45:07<br>"
                      u"<b>Reminder Date :</b> Weekly<br>"
                      u"<b>Location :</b> Room 1<br>"
                      u"<b>Subject :</b> Standup [org@example.com]<br>"
                      u"<b>First Effective Time :</b> Jan 05, 2010 13:45:07<br>"
                      u"<b>Last Effective Time </b> Jan 06, 2010 13:45:07<br>"
                      u"<b>Busy Status :</b> 1a<br>"
                      u"<b>Duration :</b> 60<br>"));
    EXPECT_EQ(bytes("temp.html"), frameset(cols_prefix, "body.html"));
    EXPECT_EQ(bytes("agenda.txt"), "agenda");
    EXPECT_EQ(outcome.path, work16() + u"/temp.html");

    // No subject: the subject text is one blank, which is not empty.
    preview(1);
    EXPECT_EQ(bytes("header.html"), utf16le(u"<b>Subject :</b>  <br><b>Busy Status :</b> 2<br>"));
}

TEST_F(preview_pages, task_page_lines_and_the_percent_line)
{
    auto &task = add("IPM.Task");
    task.set_unicode(0x0037, "Report <draft>");
    task.set_systime(named(psets::task, 0x8104), convert::filetime_from_unix(sample_time));
    task.set_systime(named(psets::task, 0x8105), convert::filetime_from_unix(sample_time + 60));
    task.set_long(named(psets::task, 0x8101), 1);
    task.set_double(named(psets::task, 0x8102), 0.25);
    task.set_long(named(psets::task, 0x8110), 90);
    task.set_long(named(psets::task, 0x8111), 0x1F);
    task.set_boolean(named(psets::task, 0x811C), false);
    task.set_long(named(psets::task, 0x8112), 256);
    auto &unknown = add("IPM.Task");
    unknown.set_unicode(0x0037, "Later");
    unknown.set_long(named(psets::task, 0x8101), 7);
    scan();

    preview(0);
    EXPECT_EQ(bytes("header.html"), utf16le(u"<b>Start Date:</b> Jan 05, 2010 13:45:07<br>"
                                            u"<b>Due Date:</b> Jan 05, 2010 13:46:07<br>"
                                            u"<b>Subject:</b> Report [draft]<br>"
                                            u"<b>Version:</b> 100<br>"
                                            u"<b>Complete:</b> no<br>"
                                            u"<b>Total Effort:</b> 1f<br>"
                                            u"<b>Actual Effort:</b> 5a<br>"
                                            u"<b>Completed:</b> 0.25%<br>"
                                            u"<b>Status:</b> In Progress<br>"));
    EXPECT_EQ(bytes("temp.html"), frameset(cols_prefix, "body.txt"));

    // Empty texts give no line: an unknown status word, no effort.
    preview(1);
    EXPECT_EQ(bytes("header.html"), utf16le(u"<b>Subject:</b> Later<br>"));
}

TEST_F(preview_pages, inline_images_map_content_ids_to_their_files)
{
    auto &mail = add("IPM.Note");
    mail.set_html("<img src=\"cid:logo@x\"><img src=\"cid:chart\">");
    mail.add_attachment("logo.png", convert::data_source::from_string("png"))
        .set_unicode(0x3712, "<logo@x>");
    mail.add_attachment("chart.gif", convert::data_source::from_string("gif"))
        .set_unicode(0x3712, "chart");
    mail.add_attachment("plain.txt", convert::data_source::from_string("txt"));
    // Same name as the first: not written, so it names no file.
    mail.add_attachment("logo.png", convert::data_source::from_string("other"))
        .set_unicode(0x3712, "second");
    scan();

    const preview_outcome outcome = preview(0);
    EXPECT_EQ(outcome.content_ids, (std::map<std::string, std::string>{
                                       {"logo@x", work() + "/logo.png"},
                                       {"chart", work() + "/chart.gif"},
                                   }));
    EXPECT_EQ(bytes("logo.png"), "png");
    // The second of two same-named files is listed twice, as the engine lists it.
    EXPECT_NE(bytes("header.html").find(utf16le(u"logo.png;chart.gif;plain.txt;logo.png;")),
              std::string::npos);
}

TEST_F(preview_pages, failures_end_or_skip_as_each_page_allows)
{
    // An attached message makes a directory under its name, where a page
    // then cannot be written.
    auto &mail = add("IPM.Note");
    mail.set_unicode(0x0C1A, "Ann");
    mail.add_embedded("header.html", "IPM.Note");
    auto &no_frameset = add("IPM.Note");
    no_frameset.add_embedded("temp.html", "IPM.Note");
    auto &appointment = add("IPM.Appointment");
    appointment.add_embedded("header.html", "IPM.Note");
    auto &appointment_frameset = add("IPM.Appointment");
    appointment_frameset.add_embedded("temp.html", "IPM.Note");
    scan();

    // E-mail: the header page is skipped, the frameset still shown.
    preview_outcome outcome = preview(0);
    EXPECT_TRUE(fs::is_directory(work() + "/header.html"));
    EXPECT_TRUE(outcome.navigate);
    EXPECT_EQ(bytes("temp.html"), frameset(rows_prefix, "body.txt"));

    // E-mail without a frameset page: the pane stays.
    outcome = preview(1);
    EXPECT_FALSE(outcome.navigate);
    EXPECT_TRUE(exists("header.html"));

    // Appointment without a header page: nothing more is done.
    outcome = preview(2);
    EXPECT_FALSE(outcome.navigate);
    EXPECT_FALSE(exists("temp.html"));

    // Appointment without a frameset page: the pane goes there all the same.
    outcome = preview(3);
    EXPECT_TRUE(outcome.navigate);
    EXPECT_EQ(outcome.path, work16() + u"/temp.html");
    EXPECT_TRUE(fs::is_directory(work() + "/temp.html"));

    // No file of the previews lies beside the working directory.
    for (const auto &entry : fs::directory_iterator(m_temporary)) {
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(name == "Attachments" || name == "mailbox.pst") << name;
    }
}

TEST_F(preview_pages, unknown_sequence_builds_from_what_the_holders_hold)
{
    auto &mail = add("IPM.Note");
    mail.set_unicode(0x0C1A, "Ann");
    mail.add_recipient(1, "Bo");
    mail.set_html("<p>x</p>");
    scan();
    preview(0);

    preview_outcome outcome;
    for (const std::u16string sequence : {u"999", u"abc", u""}) {
        ASSERT_EQ(preview_selected_item(&m_session.state, sequence, u"email", outcome), 1);
        const std::string page = bytes("header.html");
        // Empty From, Subject and To, the default body in the previous kind's file.
        EXPECT_NE(page.find(utf16le(u"font-weight:bold;'></td></tr><tr><td height='16' "
                                    u"style='font-family:Verdana, Arial, Helvetica, sans-serif; "
                                    u"font-size:10px; font-weight:bold;'></td>")),
                  std::string::npos);
        EXPECT_NE(page.find(utf16le(u"color:#BD28B8'></span>")), std::string::npos);
        EXPECT_EQ(bytes("body.html"), std::string("\x20\x00", 2));
        EXPECT_TRUE(outcome.navigate);
    }
    // " 1x" reads as 1, as the list's numbers are read.
    ASSERT_EQ(preview_selected_item(&m_session.state, u" 1x", u"email", outcome), 1);
    EXPECT_EQ(bytes("body.html"), "<p>x</p>");
}

TEST_F(preview_pages, long_temporary_directory_is_used_whole)
{
    std::string deep = m_temporary;
    while (deep.size() < 400) {
        deep += "/a-rather-long-directory-name";
    }
    fs::create_directories(deep);
    export_message_values().temporary_directory = deep;
    add("IPM.Note").set_body("long");
    scan();

    const preview_outcome outcome = preview(0);
    const std::u16string body = u16(deep) + u"/Attachments/body.txt";
    EXPECT_EQ(outcome.path, u16(deep) + u"/Attachments/temp.html");
    EXPECT_GT(outcome.path.size(), 400u);
    EXPECT_EQ(file_bytes(deep + "/Attachments/temp.html"),
              utf16le(rows_prefix + body + frameset_end));
    EXPECT_EQ(file_bytes(deep + "/Attachments/body.txt"), "long");
}

// Every listed item of every folder of the sample mailbox previews, and
// every file it writes stays in the working directory.
TEST(preview_sample, every_enron_item_previews_inside_the_working_directory)
{
    const std::string temporary = testing::scratch_directory("preview_enron");
    message_values &values = export_message_values();
    message_values_clear(&values);
    values.temporary_directory = temporary;
    // The next test must not find our directory, however this one ends.
    const std::unique_ptr<message_values, void (*)(message_values *)> restore(
        &values, [](message_values *v) { v->temporary_directory.clear(); });
    testing::scan_session session;
    ASSERT_EQ(session.scan(testing::sample_path("enron.pst")), 1);
    const std::string work = temporary + "/Attachments";
    const std::u16string work16 = u16(work) + u"/";

    std::size_t previews = 0;
    const std::vector<testing::recorded_tree_item> tree = session.views.tree;
    for (const testing::recorded_tree_item &folder : tree) {
        if (folder.level == 0) {
            continue;
        }
        folder_fill(&session.state, folder.handle);
        const std::vector<testing::recorded_row> rows(session.views.rows.begin(),
                                                      session.views.rows.end());
        for (const testing::recorded_row &row : rows) {
            preview_outcome outcome;
            ASSERT_EQ(preview_selected_item(&session.state, *row.cells[0], *row.cells[1], outcome),
                      1);
            ++previews;
            EXPECT_TRUE(outcome.navigate);
            EXPECT_EQ(outcome.path.compare(0, work16.size(), work16), 0);
            for (const auto &[id, path] : outcome.content_ids) {
                EXPECT_EQ(path.compare(0, work.size() + 1, work + "/"), 0) << id;
            }
            for (const auto &entry : fs::directory_iterator(temporary)) {
                EXPECT_EQ(entry.path().filename(), "Attachments");
            }
            const std::string inside = fs::canonical(work).string() + "/";
            for (const auto &entry : fs::recursive_directory_iterator(work)) {
                EXPECT_FALSE(entry.is_symlink()) << entry.path();
                EXPECT_EQ(fs::canonical(entry.path()).string().rfind(inside, 0), 0u)
                    << entry.path();
            }
        }
    }
    EXPECT_GT(previews, 70u);
}

} // namespace
} // namespace korvel
