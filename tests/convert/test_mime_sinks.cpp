// The mbox and EML sinks over a writer-made mailbox, read back with GMime's
// own parser (the Python readers of tests/scripts/test_convert_mail.sh check
// the same outputs independently).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include <fcntl.h>
#include <gmime/gmime.h>
#include <unistd.h>

#include "convert/mail/mail_sink.h"
#include "convert/mail/mime_message.h"
#include "convert/mail/mime_streams.h"
#include "tests/convert/mime_fixture.h"
#include "tests/convert/mime_walk.h"
#include "tests/support/samples.h"

namespace fs = std::filesystem;
namespace convert = korvel::convert;

namespace {

std::string read_file(const fs::path &p)
{
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct parsed
{
    GMimeMessage *message = nullptr;
    explicit parsed(GMimeMessage *m) : message(m) {}
    ~parsed()
    {
        if (message != nullptr) {
            g_object_unref(message);
        }
    }
    parsed(parsed &&o) noexcept : message(o.message) { o.message = nullptr; }
    parsed(const parsed &) = delete;
};

// Every message of an mbox file (or the one message of an EML file).
std::vector<parsed> parse(const fs::path &p, bool mbox)
{
    std::vector<parsed> out;
    FILE *f = std::fopen(p.c_str(), "rb");
    EXPECT_NE(f, nullptr) << p;
    if (f == nullptr) {
        return out;
    }
    GMimeStream *stream = g_mime_stream_file_new(f);
    GMimeParser *parser = g_mime_parser_new_with_stream(stream);
    g_mime_parser_set_format(parser, mbox ? GMIME_FORMAT_MBOX : GMIME_FORMAT_MESSAGE);
    while (!g_mime_parser_eos(parser)) {
        GMimeMessage *m = g_mime_parser_construct_message(parser, nullptr);
        if (m == nullptr) {
            break;
        }
        out.emplace_back(m);
        if (!mbox) {
            break;
        }
    }
    g_object_unref(parser);
    g_object_unref(stream);
    return out;
}

std::string content_type(GMimeObject *o)
{
    char *s = g_mime_content_type_get_mime_type(g_mime_object_get_content_type(o));
    std::string t = s;
    g_free(s);
    return t;
}

// The decoded content of a leaf part.
std::string part_bytes(GMimeObject *o)
{
    GMimeDataWrapper *w = g_mime_part_get_content(reinterpret_cast<GMimePart *>(o));
    GByteArray *array = g_byte_array_new();
    GMimeStream *mem = g_mime_stream_mem_new_with_byte_array(array);
    g_mime_stream_mem_set_owner(reinterpret_cast<GMimeStreamMem *>(mem), FALSE);
    g_mime_data_wrapper_write_to_stream(w, mem);
    std::string out(reinterpret_cast<const char *>(array->data), array->len);
    g_object_unref(mem);
    g_byte_array_free(array, TRUE);
    return out;
}

// "type[child,child]" outline of a MIME tree.
std::string outline(GMimeObject *o)
{
    std::string t = content_type(o);
    if (GMIME_IS_MULTIPART(o)) {
        auto *mp = reinterpret_cast<GMimeMultipart *>(o);
        t += "[";
        for (int i = 0; i < g_mime_multipart_get_count(mp); ++i) {
            t += (i ? "," : "") + outline(g_mime_multipart_get_part(mp, i));
        }
        t += "]";
    } else if (GMIME_IS_MESSAGE_PART(o)) {
        GMimeMessage *inner =
            g_mime_message_part_get_message(reinterpret_cast<GMimeMessagePart *>(o));
        t += "{" + outline(g_mime_message_get_mime_part(inner)) + "}";
    }
    return t;
}

GMimeObject *find_part(GMimeObject *o, const std::string &type)
{
    if (content_type(o) == type) {
        return o;
    }
    if (GMIME_IS_MULTIPART(o)) {
        auto *mp = reinterpret_cast<GMimeMultipart *>(o);
        for (int i = 0; i < g_mime_multipart_get_count(mp); ++i) {
            if (GMimeObject *p = find_part(g_mime_multipart_get_part(mp, i), type)) {
                return p;
            }
        }
    }
    return nullptr;
}

std::string subject(const parsed &p)
{
    const char *s = g_mime_message_get_subject(p.message);
    return s ? s : "";
}

class MimeSinks : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        convert::mime_initialize();
        dir_ = korvel::testing::scratch_directory("mime_sinks");
        pst_ = dir_ + "/fixture.pst";
        korvel::testing::write_mime_fixture(pst_);
    }
    static std::string dir_;
    static std::string pst_;
};
std::string MimeSinks::dir_;
std::string MimeSinks::pst_;

TEST_F(MimeSinks, MboxMirrorsTheFolderTreeAndCountsTheMail)
{
    auto sink = convert::make_mbox_sink();
    const std::string top = dir_ + "/out.mbox.tmp";
    auto counts = korvel::testing::sink_walk(pst_, *sink, top);
    EXPECT_EQ(counts.written, 15);
    EXPECT_EQ(counts.left_out, 1); // the sticky note
    EXPECT_EQ(counts.failed, 0);
    const std::string out = top + "/Mail";
    EXPECT_TRUE(fs::is_regular_file(out + "/Mail"));
    EXPECT_TRUE(fs::is_regular_file(out + "/Mail.sbd/Sub"));
    // Folders outside "Top of Personal Folders" without mail are left out.
    EXPECT_FALSE(fs::exists(out + "/Contacts"));
    // Contacts and calendar items in their own tree, beside the mail.
    const std::string pim = top + "/Contacts and Calendars";
    std::string vcf = read_file(pim + "/Contacts.vcf");
    EXPECT_EQ(vcf.rfind("BEGIN:VCARD\r\n", 0), 0u) << vcf;
    EXPECT_NE(vcf.find("FN:Erin Contact\r\n"), std::string::npos) << vcf;
    std::string ics = read_file(pim + "/Calendar.ics");
    EXPECT_EQ(ics.rfind("BEGIN:VCALENDAR\r\n", 0), 0u) << ics;
    EXPECT_NE(ics.find("BEGIN:VEVENT"), std::string::npos) << ics;
    EXPECT_NE(ics.find("BEGIN:VTODO"), std::string::npos) << ics;
    EXPECT_EQ(ics.substr(ics.size() - 15), "END:VCALENDAR\r\n");
    EXPECT_FALSE(fs::exists(pim + "/Mail.ics"));

    auto messages = parse(out + "/Mail", true);
    ASSERT_EQ(messages.size(), 11u);
    std::vector<std::string> subjects;
    for (auto &m : messages) {
        subjects.push_back(subject(m));
    }
    EXPECT_EQ(subjects[0], "HTML and text");
    EXPECT_EQ(subjects[5],
              "Gr\xC3\xBC\xC3\x9F"
              "e \xE6\x97\xA5\xE6\x9C\xAC \xE2\x9C\x93 \xF0\x9F\x98\x80"); // an emoji too
    EXPECT_EQ(subjects[6], "Caf\xC3\xA9 8-bit");
    EXPECT_EQ(subjects[7], "From lines");

    // mboxrd: one more ">" on every ">*From " line, none on other lines.
    std::string raw = read_file(out + "/Mail");
    EXPECT_NE(raw.find("\n>From here on\n>>From quoted\n>>>From twice\nFrom\n"), std::string::npos);
    EXPECT_EQ(raw.rfind("From ann@example.com Wed May  1 10:01:00 2024\n", 0), 0u);
    EXPECT_EQ(parse(out + "/Mail.sbd/Sub", true).size(), 1u);
}

TEST_F(MimeSinks, EmlFilesAreNamedBySubjectAndNeverOverwritten)
{
    auto sink = convert::make_eml_sink();
    const std::string top = dir_ + "/out.eml.tmp";
    auto counts = korvel::testing::sink_walk(pst_, *sink, top);
    EXPECT_EQ(counts.written, 15);
    const std::string out = top + "/Mail";
    EXPECT_TRUE(fs::is_regular_file(out + "/Mail/No class.eml"));
    EXPECT_TRUE(fs::is_regular_file(top + "/Contacts and Calendars/Contacts.vcf"));
    EXPECT_TRUE(fs::is_regular_file(top + "/Contacts and Calendars/Calendar.ics"));
    EXPECT_TRUE(fs::is_regular_file(out + "/Mail/HTML and text.eml"));
    EXPECT_TRUE(fs::is_regular_file(out + "/Mail/Same_subject.eml"));
    EXPECT_TRUE(fs::is_regular_file(out + "/Mail/Same_subject (2).eml"));
    EXPECT_TRUE(fs::is_regular_file(out + "/Mail/Caf\xC3\xA9 8-bit.eml"));
    EXPECT_TRUE(fs::is_regular_file(out + "/Mail/Sub/Undeliverable.eml"));
    EXPECT_FALSE(fs::exists(out + "/Contacts"));
    EXPECT_EQ(read_file(out + "/Mail/Same_subject.eml").find("second"), std::string::npos);

    // A second conversion into an existing directory is refused and harms nothing.
    auto again = convert::make_eml_sink();
    convert::sink_error error;
    EXPECT_EQ(again->open(top, error), -1);
    EXPECT_TRUE(error.fatal);
    EXPECT_FALSE(error.message.empty());
    EXPECT_TRUE(fs::is_regular_file(out + "/Mail/HTML and text.eml"));
}

TEST_F(MimeSinks, BodiesImagesAndEmbeddedMessagesKeepTheirStructure)
{
    auto sink = convert::make_eml_sink();
    std::string out = dir_ + "/structure.tmp";
    korvel::testing::sink_walk(pst_, *sink, out);
    std::map<std::string, std::string> shapes;
    for (const char *name :
         {"HTML and text", "RTF only", "Encapsulated HTML", "Inline image", "Embedded message"}) {
        auto m = parse(out + "/Mail/Mail/" + name + ".eml", false);
        ASSERT_EQ(m.size(), 1u) << name;
        shapes[name] = outline(g_mime_message_get_mime_part(m[0].message));
    }
    EXPECT_EQ(shapes["HTML and text"], "multipart/alternative[text/plain,text/html]");
    EXPECT_EQ(shapes["RTF only"], "text/plain");
    EXPECT_EQ(shapes["Encapsulated HTML"], "multipart/alternative[text/plain,text/html]");
    EXPECT_EQ(shapes["Inline image"],
              "multipart/mixed[multipart/alternative[text/plain,multipart/related[text/"
              "html,image/png]],text/plain]");
    EXPECT_EQ(shapes["Embedded message"],
              "multipart/mixed[text/plain,message/rfc822{multipart/mixed[text/"
              "plain,application/octet-stream]}]");

    auto rtf = parse(out + "/Mail/Mail/RTF only.eml", false);
    EXPECT_NE(part_bytes(g_mime_message_get_mime_part(rtf[0].message)).find("Hello from RTF"),
              std::string::npos);

    auto encapsulated = parse(out + "/Mail/Mail/Encapsulated HTML.eml", false);
    GMimeObject *html =
        find_part(g_mime_message_get_mime_part(encapsulated[0].message), "text/html");
    ASSERT_NE(html, nullptr);
    EXPECT_EQ(part_bytes(html), korvel::testing::fixture_encapsulated_html());
    EXPECT_STREQ(g_mime_object_get_content_type_parameter(html, "charset"), "windows-1252");

    auto image = parse(out + "/Mail/Mail/Inline image.eml", false);
    GMimeObject *png = find_part(g_mime_message_get_mime_part(image[0].message), "image/png");
    ASSERT_NE(png, nullptr);
    EXPECT_STREQ(g_mime_object_get_content_id(png), "pic1@example.com");
    std::string bytes = part_bytes(png);
    ASSERT_EQ(bytes.size(), 3000u);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        ASSERT_EQ(static_cast<std::uint8_t>(bytes[i]), convert::pattern_byte(7, i)) << i;
    }
    // The attachment name survives its RFC 2231 encoding.
    GMimeMultipart *mixed =
        reinterpret_cast<GMimeMultipart *>(g_mime_message_get_mime_part(image[0].message));
    EXPECT_STREQ(g_mime_part_get_filename(
                     reinterpret_cast<GMimePart *>(g_mime_multipart_get_part(mixed, 1))),
                 "r\xC3\xA9sum\xC3\xA9 \xC3\xBC.txt");

    auto embedded = parse(out + "/Mail/Mail/Embedded message.eml", false);
    GMimeObject *rfc822 =
        find_part(g_mime_message_get_mime_part(embedded[0].message), "message/rfc822");
    ASSERT_NE(rfc822, nullptr);
    GMimeMessage *inner =
        g_mime_message_part_get_message(reinterpret_cast<GMimeMessagePart *>(rfc822));
    EXPECT_STREQ(g_mime_message_get_subject(inner), "Inner message");
    GMimeObject *bin = find_part(g_mime_message_get_mime_part(inner), "application/octet-stream");
    ASSERT_NE(bin, nullptr);
    EXPECT_EQ(part_bytes(bin).size(), 70000u);
}

TEST_F(MimeSinks, AbandonRemovesEverythingWritten)
{
    auto sink = convert::make_mbox_sink();
    std::string out = dir_ + "/abandoned.tmp";
    convert::sink_error error;
    ASSERT_EQ(sink->open(out, error), 1);
    convert::sink_folder folder;
    folder.path = {"Top of Personal Folders"};
    ASSERT_EQ(sink->begin_folder(folder, error), 1);
    EXPECT_TRUE(fs::is_regular_file(out + "/Mail/Top of Personal Folders"));
    sink->abandon();
    EXPECT_FALSE(fs::exists(out));
}

TEST_F(MimeSinks, SiblingNamesStayApartAndSafe)
{
    auto sink = convert::make_mbox_sink();
    std::string out = dir_ + "/names.tmp";
    convert::sink_error error;
    ASSERT_EQ(sink->open(out, error), 1);
    // Under "Top of Personal Folders", where empty folders are made too.
    const std::string top_name = "Top of Personal Folders";
    convert::sink_folder top;
    top.path = {top_name};
    ASSERT_EQ(sink->begin_folder(top, error), 1);
    for (std::string name : {"Inbox", "inbox", "..", "x.sbd", "", "a\tb"}) {
        convert::sink_folder f;
        f.path = {top_name, name};
        ASSERT_EQ(sink->begin_folder(f, error), 1) << name;
        if (name == "Inbox") {
            convert::sink_folder child;
            child.path = {top_name, name, "Child"};
            ASSERT_EQ(sink->begin_folder(child, error), 1);
            ASSERT_EQ(sink->end_folder(error), 1);
        }
        ASSERT_EQ(sink->end_folder(error), 1);
    }
    ASSERT_EQ(sink->close(error), 1);
    out += "/Mail/" + top_name + ".sbd";
    std::vector<std::string> names;
    for (const auto &e : fs::directory_iterator(out)) {
        names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Folder", "Folder (2)", "Inbox", "Inbox.sbd", "a b",
                                               "inbox (2)", "x.sbd_"}));
    EXPECT_TRUE(fs::is_regular_file(out + "/Inbox.sbd/Child"));
}

// mboxrd quoting must not depend on where the writes are cut.
TEST(MboxrdWriter, QuotesFromLinesAcrossEverySplit)
{
    const std::string text = "From a\n>From b\nFro\n>>From  c\n>Fr\nx From d\n>\nFrom";
    const std::string want = ">From a\n>>From b\nFro\n>>>From  c\n>Fr\nx From d\n>\nFrom\n";
    for (std::size_t cut = 0; cut <= text.size(); ++cut) {
        std::string path = korvel::testing::scratch_directory("mboxrd") + "/out";
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        {
            convert::fd_writer w(fd, true);
            ASSERT_TRUE(w.write(text.data(), cut));
            ASSERT_TRUE(w.write(text.data() + cut, text.size() - cut));
            ASSERT_TRUE(w.end_message());
            ASSERT_TRUE(w.flush());
        }
        ::close(fd);
        EXPECT_EQ(read_file(path), want) << "cut at " << cut;
    }
}

TEST(MboxrdWriter, TruncateDropsAFailedMessageOnly)
{
    std::string path = korvel::testing::scratch_directory("mboxrd_truncate") + "/out";
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    {
        convert::fd_writer w(fd, true);
        ASSERT_TRUE(w.write("kept\n", 5));
        ASSERT_TRUE(w.flush());
        std::uint64_t start = w.offset();
        std::string big(600000, 'x'); // larger than the buffer: partly on disk
        ASSERT_TRUE(w.write(big.data(), big.size()));
        ASSERT_TRUE(w.truncate_to(start));
        ASSERT_TRUE(w.write("next\n", 5));
        ASSERT_TRUE(w.flush());
    }
    ::close(fd);
    EXPECT_EQ(read_file(path), "kept\nnext\n");
}

TEST(MailClasses, MailContactsCalendarAndTheRest)
{
    using convert::item_family;
    EXPECT_EQ(convert::classify_message_class("IPM.Note"), item_family::mail);
    EXPECT_EQ(convert::classify_message_class("ipm.note.SMIME.MultipartSigned"), item_family::mail);
    EXPECT_EQ(convert::classify_message_class("REPORT.IPM.Note.NDR"), item_family::mail);
    EXPECT_EQ(convert::classify_message_class("IPM.Schedule.Meeting.Request"), item_family::mail);
    EXPECT_EQ(convert::classify_message_class("IPM.Notes"), item_family::other);
    EXPECT_EQ(convert::classify_message_class("IPM.Contact"), item_family::contact);
    EXPECT_EQ(convert::classify_message_class("IPM.DistList"), item_family::distribution_list);
    EXPECT_EQ(convert::classify_message_class("IPM.Appointment"), item_family::appointment);
    EXPECT_EQ(convert::classify_message_class("IPM.Task"), item_family::task);
    EXPECT_EQ(convert::classify_message_class("IPM.StickyNote"), item_family::other);
    EXPECT_EQ(convert::classify_message_class(""), item_family::other);
}

} // namespace

namespace {

// A Stop while a big attachment is written gives the message up part-way and
// leaves nothing of it in the folder's file.
TEST(MimeStop, AStopDuringAnAttachmentLeavesNoPartOfTheMessage)
{
    convert::mime_initialize();
    std::string dir = korvel::testing::scratch_directory("mime_stop");
    korvel::testing::pst_builder b;
    auto &m = b.root().add_folder("Mail").add_message("IPM.Note");
    m.set_unicode(0x0037, "Big");
    m.add_attachment("big.bin", convert::data_source::pattern(3000000, 1));
    b.write(dir + "/big.pst");

    korvel::testing::pff::file file(dir + "/big.pst");
    korvel::testing::pff::item folder = file.root().sub_folder(0);
    korvel::testing::pff::item message = folder.message(0);
    auto sink = convert::make_mbox_sink();
    std::atomic<bool> stop{true};
    sink->set_stop_flag(&stop);
    convert::sink_error error;
    ASSERT_EQ(sink->open(dir + "/out", error), 1);
    convert::sink_folder f;
    f.path = {"Mail"};
    ASSERT_EQ(sink->begin_folder(f, error), 1);
    EXPECT_EQ(sink->add_message(message.get(), false, error), -1);
    EXPECT_FALSE(error.fatal);
    stop = false;
    ASSERT_EQ(sink->close(error), 1);
    EXPECT_EQ(fs::file_size(dir + "/out/Mail/Mail"), 0u);
}

} // namespace
