// Contacts and distribution lists as vCard 3.0, written by our PST writer and
// read back through libpff; the text rules (escaping, folding) on their own.
#include "convert/pim/pim_values.h"
#include "convert/pim/vcard.h"
#include "tests/convert/pff_read.h"
#include "tests/support/pst_builder.h"
#include "tests/support/samples.h"

#include <gtest/gtest.h>

#include <sstream>

using korvel::testing::pst_builder;
namespace convert = korvel::convert;
namespace pff = korvel::testing::pff;

namespace {

// Lines of a card, unfolded (CRLF + space joins), checking every physical
// line's length and end on the way.
std::vector<std::string> unfolded_lines(const std::string &text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find("\r\n", start);
        EXPECT_NE(end, std::string::npos) << "a line without CRLF";
        if (end == std::string::npos) {
            break;
        }
        EXPECT_LE(end - start, 75u) << text.substr(start, end - start);
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line[0] == ' ' && !lines.empty()) {
            lines.back() += line.substr(1);
        } else {
            lines.push_back(line);
        }
        start = end + 2;
    }
    return lines;
}

bool has_line(const std::vector<std::string> &lines, const std::string &line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

std::string lines_text(const std::vector<std::string> &lines)
{
    std::string out;
    for (const auto &line : lines) {
        out += line + "\n";
    }
    return out;
}

std::vector<std::uint8_t> one_off(const std::u16string &name, const std::u16string &address)
{
    std::vector<std::uint8_t> out = {0,    0,    0,    0,    0x81, 0x2B, 0x1F, 0xA4,
                                     0xBE, 0xA3, 0x10, 0x19, 0x9D, 0x6E, 0x00, 0xDD,
                                     0x01, 0x0F, 0x54, 0x02, 0,    0,    0x01, 0x90};
    for (const std::u16string &text : {name, std::u16string(u"SMTP"), address}) {
        for (char16_t c : text) {
            out.push_back(static_cast<std::uint8_t>(c));
            out.push_back(static_cast<std::uint8_t>(c >> 8));
        }
        out.push_back(0);
        out.push_back(0);
    }
    return out;
}

TEST(VcardText, EscapingAndFolding)
{
    EXPECT_EQ(convert::vcard_escape("a,b;c\\d\r\ne\nf\rg"), "a\\,b;c\\\\d\\ne\\nf\\ng");
    EXPECT_EQ(convert::vcard_escape("a,b;c", true), "a\\,b\\;c");
    EXPECT_EQ(convert::fold_content_line("FN:short"), "FN:short\r\n");
    // 200 two-byte characters: folded lines of at most 75 octets, never
    // inside a character, and unfolding gives the line back.
    std::string line = "NOTE:";
    for (int i = 0; i < 200; ++i) {
        line += "é";
    }
    const std::string folded = convert::fold_content_line(line);
    const auto lines = unfolded_lines(folded);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], line);
    std::size_t start = 0;
    while (start < folded.size()) {
        const std::size_t end = folded.find("\r\n", start);
        const std::string physical = folded.substr(start, end - start);
        // A line never ends on the lead byte of a sequence.
        ASSERT_FALSE(physical.empty());
        EXPECT_NE(static_cast<unsigned char>(physical.back()) & 0xC0, 0xC0) << physical;
        // Nor does the next one start inside a sequence.
        const std::size_t first = physical[0] == ' ' ? 1 : 0;
        EXPECT_NE(static_cast<unsigned char>(physical[first]) & 0xC0, 0x80) << physical;
        start = end + 2;
    }
}

TEST(VcardText, OneOffEntryIdsAndMultiValuesAreReadWithinTheirBytes)
{
    convert::one_off_entry entry;
    const auto bytes = one_off(u"Zoë", u"zoe@example.com");
    ASSERT_TRUE(convert::parse_one_off_entry_id(bytes, entry));
    EXPECT_EQ(entry.name, "Zoë");
    EXPECT_EQ(entry.address_type, "SMTP");
    EXPECT_EQ(entry.address, "zoe@example.com");
    for (std::size_t size = 0; size < bytes.size(); ++size) {
        std::vector<std::uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<long>(size));
        EXPECT_FALSE(convert::parse_one_off_entry_id(cut, entry)) << size;
    }
    auto other = bytes;
    other[5] ^= 0xFF; // not the one-off provider
    EXPECT_FALSE(convert::parse_one_off_entry_id(other, entry));

    std::vector<std::vector<std::uint8_t>> values;
    const std::vector<std::uint8_t> two = {2, 0, 0, 0, 12, 0, 0, 0, 14, 0, 0, 0, 'a', 'b', 'c'};
    ASSERT_TRUE(convert::parse_multi_value(two, values));
    ASSERT_EQ(values.size(), 2u);
    EXPECT_EQ(values[0], (std::vector<std::uint8_t>{'a', 'b'}));
    EXPECT_EQ(values[1], (std::vector<std::uint8_t>{'c'}));
    auto bad = two;
    bad[0] = 200; // more offsets than bytes
    EXPECT_FALSE(convert::parse_multi_value(bad, values));
    bad = two;
    bad[8] = 100; // an offset past the end
    EXPECT_FALSE(convert::parse_multi_value(bad, values));
    bad = two;
    bad[4] = 14;
    bad[8] = 12; // offsets going backwards
    EXPECT_FALSE(convert::parse_multi_value(bad, values));
}

class ContactItems : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        path = new std::string(korvel::testing::scratch_directory("convert_vcard") + "/c.pst");
        pst_builder b;
        auto &contacts = b.root().add_folder("Contacts");
        const auto &address = convert::psets::address;

        auto &full = contacts.add_message("IPM.Contact");
        full.set_unicode(0x3001, "Dr. Zoë Ångström-Müller, PhD");
        full.set_unicode(0x3A11, "Ångström-Müller");
        full.set_unicode(0x3A06, "Zoë");
        full.set_unicode(0x3A44, "Maria");
        full.set_unicode(0x3A45, "Dr.");
        full.set_unicode(0x3A05, "PhD");
        full.set_unicode(0x3A4F, "Zo");
        full.set_unicode(0x3A16, "Ørsted; Partners");
        full.set_unicode(0x3A18, "Research");
        full.set_unicode(0x3A17, "Chief Scientist");
        full.set_unicode(convert::named(address, 0x8083), "zoe@example.com");
        full.set_unicode(convert::named(address, 0x8082), "SMTP");
        // An Exchange entry whose address is only in the shown name.
        full.set_unicode(convert::named(address, 0x8093), "/O=ORG/OU=SITE/CN=RECIPIENTS/CN=ZOE");
        full.set_unicode(convert::named(address, 0x8092), "EX");
        full.set_unicode(convert::named(address, 0x8094), "Zoë (zoe.work@example.org)");
        full.set_unicode(0x3A08, "+49 30 1234");
        full.set_unicode(0x3A09, "+49 30 5678");
        full.set_unicode(0x3A1C, "+49 170 000");
        full.set_unicode(0x3A24, "+49 30 9999");
        full.set_unicode(convert::named(address, 0x8045), "Unter den Linden 1");
        full.set_unicode(convert::named(address, 0x8046), "Berlin");
        full.set_unicode(convert::named(address, 0x8048), "10117");
        full.set_unicode(convert::named(address, 0x8049), "Deutschland");
        // The same work address as tags: written once.
        full.set_unicode(0x3A29, "Unter den Linden 1");
        full.set_unicode(0x3A27, "Berlin");
        full.set_unicode(0x3A5D, "Gartenstraße 5");
        full.set_unicode(0x3A59, "Potsdam");
        full.set_unicode(0x3A5A, "Deutschland");
        full.set_unicode(0x3A63, "Postfach 12");
        // Midnight local (UTC+2) as UTC: the day before in UTC.
        full.set_systime(0x3A42, convert::filetime_from_unix(452296800)); // 1984-05-01T22:00Z
        full.set_unicode(0x3A51, "https://example.org/zoe");
        std::string note = "Met at the conference, 2025; likes chess.\r\nSecond line: ";
        for (int i = 0; i < 20; ++i) {
            note += "long text ";
        }
        full.set_body(note);

        auto &bare = contacts.add_message("IPM.Contact");
        bare.set_unicode(0x3A06, "Bob");
        bare.set_unicode(0x3A11, "Builder");

        auto &list = contacts.add_message("IPM.DistList");
        list.set_unicode(0x3001, "Team, Berlin");
        list.set_mv_binary(
            convert::named(address, 0x8054),
            {one_off(u"Zoë", u"zoe@example.com"), one_off(u"Bob", u"bob@example.com"), {1, 2, 3}});

        contacts.add_message("IPM.Note").set_unicode(0x0037, "Not a contact");
        b.write(*path);
    }
    static void TearDownTestSuite()
    {
        delete path;
        path = nullptr;
    }

    std::vector<std::string> card(int index, int expected = 1)
    {
        pff::file f(*path);
        pff::item folder = f.root().find_folder("Contacts");
        pff::item message = folder.message(index);
        std::string text;
        std::string error;
        EXPECT_EQ(convert::contact_to_vcard(message.get(), text, error), expected) << error;
        last_text = text;
        return unfolded_lines(text);
    }

    static std::string *path;
    std::string last_text;
};

std::string *ContactItems::path = nullptr;

TEST_F(ContactItems, EveryFieldWithNonAsciiTextAndFoldedLines)
{
    const auto lines = card(0);
    const std::string all = lines_text(lines);
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines.front(), "BEGIN:VCARD");
    EXPECT_EQ(lines[1], "VERSION:3.0");
    EXPECT_EQ(lines.back(), "END:VCARD");
    EXPECT_TRUE(has_line(lines, "FN:Dr. Zoë Ångström-Müller\\, PhD")) << all;
    EXPECT_TRUE(has_line(lines, "N:Ångström-Müller;Zoë;Maria;Dr.;PhD")) << all;
    EXPECT_TRUE(has_line(lines, "NICKNAME:Zo")) << all;
    EXPECT_TRUE(has_line(lines, "ORG:Ørsted\\; Partners;Research")) << all;
    EXPECT_TRUE(has_line(lines, "TITLE:Chief Scientist")) << all;
    EXPECT_TRUE(has_line(lines, "EMAIL;TYPE=INTERNET,PREF:zoe@example.com")) << all;
    EXPECT_TRUE(has_line(lines, "EMAIL;TYPE=INTERNET:zoe.work@example.org")) << all;
    EXPECT_TRUE(has_line(lines, "TEL;TYPE=WORK,VOICE:+49 30 1234")) << all;
    EXPECT_TRUE(has_line(lines, "TEL;TYPE=HOME,VOICE:+49 30 5678")) << all;
    EXPECT_TRUE(has_line(lines, "TEL;TYPE=CELL,VOICE:+49 170 000")) << all;
    EXPECT_TRUE(has_line(lines, "TEL;TYPE=WORK,FAX:+49 30 9999")) << all;
    EXPECT_TRUE(has_line(lines, "ADR;TYPE=WORK:;;Unter den Linden 1;Berlin;;10117;Deutschland"))
        << all;
    EXPECT_TRUE(has_line(lines, "ADR;TYPE=HOME:;;Gartenstraße 5;Potsdam;;;Deutschland")) << all;
    EXPECT_TRUE(has_line(lines, "ADR:;;Postfach 12;;;;")) << all;
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string &l) { return l.rfind("ADR;TYPE=WORK", 0) == 0; }),
              1);
    EXPECT_TRUE(has_line(lines, "BDAY;VALUE=DATE:1984-05-02")) << all;
    EXPECT_TRUE(has_line(lines, "URL:https://example.org/zoe")) << all;
    // The note is longer than a line: folded, and whole again unfolded.
    const auto note = std::find_if(lines.begin(), lines.end(),
                                   [](const std::string &l) { return l.rfind("NOTE:", 0) == 0; });
    ASSERT_NE(note, lines.end());
    EXPECT_GT(note->size(), 75u);
    EXPECT_EQ(
        note->rfind("NOTE:Met at the conference\\, 2025; likes chess.\\nSecond line: long", 0), 0u)
        << *note;
    EXPECT_NE(last_text.find("\r\n "), std::string::npos);
}

TEST_F(ContactItems, ContactWithoutDisplayNameIsNamedFromItsParts)
{
    const auto lines = card(1);
    EXPECT_TRUE(has_line(lines, "FN:Bob Builder")) << lines_text(lines);
    EXPECT_TRUE(has_line(lines, "N:Builder;Bob;;;")) << lines_text(lines);
}

TEST_F(ContactItems, DistributionListIsAGroupCard)
{
    const auto lines = card(2);
    const std::string all = lines_text(lines);
    EXPECT_TRUE(has_line(lines, "FN:Team\\, Berlin")) << all;
    EXPECT_TRUE(has_line(lines, "X-ADDRESSBOOKSERVER-KIND:group")) << all;
    EXPECT_TRUE(has_line(lines, "X-ADDRESSBOOKSERVER-MEMBER:mailto:zoe@example.com")) << all;
    EXPECT_TRUE(has_line(lines, "X-ADDRESSBOOKSERVER-MEMBER:mailto:bob@example.com")) << all;
    // The damaged member is left out, the others kept.
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string &l) {
                                return l.rfind("X-ADDRESSBOOKSERVER-MEMBER", 0) == 0;
                            }),
              2);
}

TEST_F(ContactItems, OtherItemsAreLeftOutAndTheFolderIsWrittenWhole)
{
    EXPECT_TRUE(card(3, 0).empty());
    pff::file f(*path);
    pff::item folder = f.root().find_folder("Contacts");
    std::ostringstream stream;
    convert::vcard_folder_counts counts;
    std::string error;
    ASSERT_EQ(convert::folder_write_vcards(folder.get(), stream, counts, error), 1) << error;
    EXPECT_EQ(counts.written, 3u);
    EXPECT_EQ(counts.skipped, 1u);
    EXPECT_TRUE(counts.unreadable.empty());
    const auto lines = unfolded_lines(stream.str());
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "BEGIN:VCARD"), 3);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "END:VCARD"), 3);
    std::string unused;
    EXPECT_EQ(convert::contact_to_vcard(nullptr, unused, error), -1);
}

} // namespace
