// The HTML de-encapsulator: what it recovers and what it refuses.
#include <gtest/gtest.h>

#include <string>

#include "convert/mail/rtf_html.h"
#include "tests/convert/mime_fixture.h"

namespace convert = korvel::convert;

namespace {

std::string extract(const std::string &rtf, int expect = 1)
{
    std::string html;
    std::uint32_t cp = 0;
    EXPECT_EQ(convert::rtf_html_extract(rtf, html, cp), expect) << rtf;
    return html;
}

TEST(RtfHtml, RecognisesOnlyTheHeaderMarker)
{
    EXPECT_TRUE(convert::rtf_encapsulates_html("{\\rtf1\\ansi\\fromhtml1 \\deff0{}}"));
    EXPECT_TRUE(convert::rtf_encapsulates_html("{\\rtf1\\ansi\\ansicpg1252\\fromhtml1}"));
    EXPECT_FALSE(convert::rtf_encapsulates_html("{\\rtf1\\ansi\\fromtext \\deff0}"));
    // After the first group the marker is body text, not a header word.
    EXPECT_FALSE(convert::rtf_encapsulates_html("{\\rtf1{\\fonttbl}\\fromhtml1}"));
    EXPECT_FALSE(convert::rtf_encapsulates_html("{\\rtf1 text\\fromhtml1}"));
    EXPECT_FALSE(convert::rtf_encapsulates_html("\\rtf1\\fromhtml1"));
    EXPECT_FALSE(convert::rtf_encapsulates_html(""));
    std::string html = "untouched";
    std::uint32_t cp = 0;
    EXPECT_EQ(convert::rtf_html_extract("{\\rtf1 plain}", html, cp), 0);
    EXPECT_TRUE(html.empty());
}

TEST(RtfHtml, RecoversTheDocumentOfTheFixture)
{
    std::string html;
    std::uint32_t cp = 0;
    ASSERT_EQ(convert::rtf_html_extract(korvel::testing::fixture_encapsulated_rtf(), html, cp), 1);
    EXPECT_EQ(html, korvel::testing::fixture_encapsulated_html());
    EXPECT_EQ(cp, 1252u);
}

TEST(RtfHtml, TagTextEscapesAndRtfOnlyRuns)
{
    // \par inside a tag group and in text is a line break; \htmlrtf runs and
    // skipped destinations give nothing; mhtmltag copies are ignored.
    EXPECT_EQ(extract("{\\rtf1\\fromhtml1{\\*\\htmltag <pre>}a\\par b\\tab c"
                      "{\\*\\mhtmltag <img src=\"cid:x\">}{\\*\\htmltag <img src=\"y\">}"
                      "\\htmlrtf skip{\\b more}\\htmlrtf0 d{\\*\\other hidden}{\\fonttbl{\\f0 F;}}"
                      "\\{\\}\\\\}"),
              "<pre>a\r\nb\tc<img src=\"y\">d{}\\");
    // \htmlrtf ends with its group.
    EXPECT_EQ(extract("{\\rtf1\\fromhtml1{\\htmlrtf x}y}"), "y");
}

TEST(RtfHtml, UnicodeEscapesBecomeCharacterReferences)
{
    // \uN skips \ucN fallback characters; surrogate pairs join; negative N wraps.
    EXPECT_EQ(extract("{\\rtf1\\fromhtml1 \\u233?x\\u-10179?\\u-8704?\\u-10179?z\\ldblquote\\~"
                      "\\uc2\\u8364\\'80\\'80y}"),
              "&#233;x&#128512;&#65533;z&#8220;&#160;&#8364;y");
    std::string html;
    std::uint32_t cp = 0;
    convert::rtf_html_extract("{\\rtf1\\ansi\\ansicpg1251\\fromhtml1 \\'e0}", html, cp);
    EXPECT_EQ(cp, 1251u);
    EXPECT_EQ(html, "\xE0");
}

TEST(RtfHtml, BrokenDocumentsEndWithWhatTheyHold)
{
    // Unclosed groups, a lone backslash, bad hex, \bin past the end, a close
    // too many and deep nesting all end quietly.
    EXPECT_EQ(extract("{\\rtf1\\fromhtml1{\\*\\htmltag <p>}text"), "<p>text");
    EXPECT_EQ(extract("{\\rtf1\\fromhtml1 a\\"), "a");
    EXPECT_EQ(extract("{\\rtf1\\fromhtml1 a\\'zz b}"), "azz b");
    EXPECT_EQ(extract("{\\rtf1\\fromhtml1 a\\bin99999 xyz}"), "a");
    EXPECT_EQ(extract("{\\rtf1\\fromhtml1 a}}b"), "a");
    std::string deep =
        "{\\rtf1\\fromhtml1 " + std::string(100000, '{') + "x" + std::string(100000, '}') + "y}";
    EXPECT_EQ(extract(deep), "xy");
    EXPECT_EQ(extract("{\\rtf1\\fromhtml1 \\u99999999999999999999?z\\u-99999?}"),
              "&#65533;z&#65533;");
}

} // namespace
