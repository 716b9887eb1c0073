// The writer-made mailbox the mail-format tests convert: one message per case
// worth checking (bodies in every form, inline image, embedded message with
// its own attachment, 8-bit and Unicode subjects, "From " lines in a body,
// two messages with one subject), a contact, an appointment and a task.
#pragma once

#include <string>

#include "tests/support/pst_builder.h"

namespace korvel::testing {

// The encapsulated-HTML RTF of the "encapsulated" case and the HTML it holds.
inline const char *fixture_encapsulated_rtf()
{
    return "{\\rtf1\\ansi\\ansicpg1252\\fromhtml1 \\deff0{\\fonttbl{\\f0\\fswiss Arial;}}"
           "{\\colortbl\\red0\\green0\\blue0;}\r\n"
           "{\\*\\htmltag64}{\\*\\htmltag19 <html>}{\\*\\htmltag34 <head>}"
           "{\\*\\htmltag177 <style>p \\{ color: red \\}</style>}{\\*\\htmltag41 </head>}"
           "{\\*\\htmltag50 <body>}\\htmlrtf \\pard\\plain\\f0\\fs20 \\htmlrtf0 "
           "{\\*\\htmltag84 <p>}Caf\\'e9 \\u8364? ok{\\*\\htmltag244 <br>}\\htmlrtf \\line\r\n"
           "\\htmlrtf0 {\\*\\htmltag84 <a href=\"http://example.com/\">}\\htmlrtf {\\field{\\*"
           "\\fldinst{HYPERLINK \"http://example.com/\"}}{\\fldrslt\\cf1\\ul \\htmlrtf0 link"
           "\\htmlrtf }}\\htmlrtf0 {\\*\\htmltag92 </a>}{\\*\\htmltag92 </p>}"
           "{\\*\\htmltag58 </body>}{\\*\\htmltag27 </html>}}";
}
inline const char *fixture_encapsulated_html()
{
    return "<html><head><style>p { color: red }</style></head><body><p>Caf\xE9 &#8364; "
           "ok<br><a href=\"http://example.com/\">link</a></p></body></html>";
}

// Writes the fixture mailbox to path. Folder "Mail" holds the mail cases,
// "Mail/Sub" one more message, "Contacts" a contact.
inline void write_mime_fixture(const std::string &path)
{
    namespace c = korvel::convert;
    pst_builder b;
    auto &mail = b.root().add_folder("Mail");
    auto sender = [](c::message &m) {
        m.set_unicode(0x0C1A, "Ann Sender");
        m.set_unicode(0x0C1F, "ann@example.com");
        m.set_unicode(0x0C1E, "SMTP");
        m.set_unicode(0x0042, "Ann Sender");
        m.set_unicode(0x0065, "ann@example.com");
        m.set_unicode(0x0064, "SMTP");
        m.set_systime(0x0039, c::filetime_from_unix(1714557600)); // 2024-05-01 10:00:00 UTC
        m.set_systime(0x0E06, c::filetime_from_unix(1714557660));
        m.add_recipient(1, "Bob To", "bob@example.com");
        m.add_recipient(2, "Carol Cc", "carol@example.com");
    };
    {
        auto &m = mail.add_message("IPM.Note");
        sender(m);
        m.set_unicode(0x0037, "HTML and text");
        m.set_unicode(0x1035, "<id-1@example.com>");
        m.set_body("Plain text body\r\n");
        m.set_html("<html><body><p>HTML body</p></body></html>");
    }
    {
        auto &m = mail.add_message("IPM.Note");
        sender(m);
        m.set_unicode(0x0037, "RTF only");
        m.set_rtf("{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Arial;}}\\f0 Hello from RTF\\par second "
                  "line\\par}");
    }
    {
        auto &m = mail.add_message("IPM.Note");
        sender(m);
        m.set_unicode(0x0037, "Encapsulated HTML");
        m.set_rtf(fixture_encapsulated_rtf());
    }
    {
        auto &m = mail.add_message("IPM.Note");
        sender(m);
        m.set_unicode(0x0037, "Inline image");
        m.set_body("See the picture");
        m.set_html("<p>See <img src=\"cid:pic1@example.com\"></p>");
        auto &img = m.add_attachment("pic.png", c::data_source::pattern(3000, 7));
        img.set_unicode(0x3712, "<pic1@example.com>");
        img.set_unicode(0x370E, "image/png");
        m.add_attachment("r\xC3\xA9sum\xC3\xA9 \xC3\xBC.txt",
                         c::data_source::from_string("attached text"));
    }
    {
        auto &m = mail.add_message("IPM.Note");
        sender(m);
        m.set_unicode(0x0037, "Embedded message");
        m.set_body("Forwarding");
        auto &inner = m.add_embedded("Inner message", "IPM.Note");
        inner.set_unicode(0x0037, "Inner message");
        inner.set_unicode(0x0C1A, "Dan Inner");
        inner.set_unicode(0x0C1F, "dan@example.com");
        inner.set_unicode(0x0C1E, "SMTP");
        inner.set_body("Inner body");
        inner.add_attachment("inner.bin", c::data_source::pattern(70000, 3));
    }
    {
        auto &m = mail.add_message("IPM.Note");
        sender(m);
        m.set_unicode(0x0037, "Gr\xC3\xBC\xC3\x9F"
                              "e \xE6\x97\xA5\xE6\x9C\xAC \xE2\x9C\x93 \xF0\x9F\x98\x80");
        m.set_body("Unicode subject");
    }
    {
        auto &m = mail.add_message("IPM.Note");
        sender(m);
        m.set_long(0x3FFD, 1252);
        m.set_string8(0x0037, "Caf\xE9 8-bit");
        m.set_body("8-bit subject");
    }
    {
        auto &m = mail.add_message("IPM.Note");
        sender(m);
        m.set_unicode(0x0037, "From lines");
        m.set_body("First line\nFrom here on\n>From quoted\n>>From twice\nFrom");
    }
    {
        auto &m = mail.add_message("IPM.Note");
        m.erase(0x001A); // no class at all: taken as mail
        m.set_unicode(0x0037, "No class");
        m.set_body("classless");
    }
    for (int i = 0; i < 2; ++i) {
        auto &m = mail.add_message("ipm.note.custom");
        sender(m);
        m.set_unicode(0x0037, "Same/subject");
        m.set_body(i == 0 ? "first" : "second");
    }
    {
        auto &m = mail.add_message("IPM.StickyNote");
        m.set_unicode(0x0037, "A sticky note");
    }
    auto &sub = mail.add_folder("Sub");
    {
        auto &m = sub.add_message("REPORT.IPM.Note.NDR");
        m.set_unicode(0x0037, "Undeliverable");
        m.set_body("report");
    }
    auto &contacts = b.root().add_folder("Contacts");
    {
        auto &m = contacts.add_message("IPM.Contact");
        m.set_unicode(0x3001, "Erin Contact");
    }
    auto &calendar = b.root().add_folder("Calendar");
    {
        auto &m = calendar.add_message("IPM.Appointment");
        m.set_unicode(0x0037, "Planning");
        m.set_systime(c::named(c::psets::appointment, 0x820D), c::filetime_from_unix(1714557600));
        m.set_systime(c::named(c::psets::appointment, 0x820E), c::filetime_from_unix(1714561200));
        auto &t = calendar.add_message("IPM.Task");
        t.set_unicode(0x0037, "Report");
    }
    b.write(path);
}

} // namespace korvel::testing
