// The RTF reader over documents written to real C streams: text extraction,
// escapes, skipped destinations, binary runs, the error codes and the open
// groups that carry over from one document to the next.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "preview/rtf_reader.h"
#include "scan/text.h"

namespace korvel {
namespace {

struct file_closer
{
    void operator()(std::FILE *file) const { std::fclose(file); }
};
using file_ptr = std::unique_ptr<std::FILE, file_closer>;

struct parse_result
{
    int code;
    std::u16string text;
};

// Clears the RTF text and parses bytes as one document; the reader state is
// left as earlier documents left it.
parse_result parse(std::string_view bytes)
{
    file_ptr file(std::tmpfile());
    EXPECT_NE(file, nullptr);
    if (!file) {
        return {-1, {}};
    }
    EXPECT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file.get()), bytes.size());
    std::rewind(file.get());
    rtf_text.clear();
    int code = rtf_parse(file.get());
    return {code, rtf_text};
}

class RtfReader : public ::testing::Test
{
protected:
    void SetUp() override
    {
        rtf_reader_reset();
        rtf_text.clear();
    }
    void TearDown() override { rtf_reader_reset(); }
};

TEST_F(RtfReader, HelloWorldSkipsFontTableAndUnknownWords)
{
    auto result = parse("{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\fswiss Arial;}}"
                        "\\f0\\fs20 Hello\\par World}");
    EXPECT_EQ(result.code, rtf_ok);
    EXPECT_EQ(result.text, u"Hello\nWorld");
    EXPECT_EQ(rtf_reader_group_depth(), 0U);
}

TEST_F(RtfReader, DestinationsAreSkippedWithTheirGroupsOnly)
{
    auto result = parse("{\\rtf1{\\info{\\title T}{\\author A}}{\\colortbl;\\red0;}"
                        "{\\stylesheet{\\s0 Normal;}}{\\header H}{\\pict 0a0b}Body}");
    EXPECT_EQ(result.code, rtf_ok);
    EXPECT_EQ(result.text, u"Body");
}

TEST_F(RtfReader, HexadecimalEscapesInBothCasesAndAsWindows1252)
{
    EXPECT_EQ(parse("caf\\'e9").text, u"caf\u00e9");
    EXPECT_EQ(parse("caf\\'E9").text, u"caf\u00e9");
    // Bytes 0x80-0x9F are the 1252 punctuation, not C1 controls; raw text
    // bytes convert the same way.
    EXPECT_EQ(parse("\\'80\\'93x\\'94").text, u"\u20ac\u201cx\u201d");
    EXPECT_EQ(parse("\x93q\x94").text, u"\u201cq\u201d");
    // A zero byte appends nothing.
    EXPECT_EQ(parse("a\\'00b").text, u"ab");
    // Line breaks between the digits are ignored like everywhere else.
    EXPECT_EQ(parse("\\'4\r\n1").text, u"A");
}

TEST_F(RtfReader, NonHexDigitAfterEscapeIsErrorFourKeepingEarlierText)
{
    auto result = parse("ok\\'g1 more");
    EXPECT_EQ(result.code, rtf_bad_hex);
    EXPECT_EQ(result.text, u"ok");
    EXPECT_EQ(parse("\\'4z").code, rtf_bad_hex);
}

TEST_F(RtfReader, StarSkipsOnlyUnknownDestinations)
{
    EXPECT_EQ(parse("{\\*\\generator Riched20;}Text").text, u"Text");
    EXPECT_EQ(parse("{\\*\\b bold}").text, u"bold");
    // The flag is consumed by the next word even when that word is known.
    EXPECT_EQ(parse("{\\*\\b x\\foo y}").text, u"xy");
    // Unknown words without the star are ignored, their group's text kept.
    EXPECT_EQ(parse("{\\foo text}").text, u"text");
}

TEST_F(RtfReader, UnicodeEscapeKeepsOnlyTheFallback)
{
    EXPECT_EQ(parse("caf\\u233e").text, u"cafe");
    EXPECT_EQ(parse("\\u-3913?x").text, u"?x");
    EXPECT_EQ(parse("\\u8364 ?").text, u"?");
}

TEST_F(RtfReader, LineBreaksAndCharacterWords)
{
    auto result = parse("a\\line b\\par c\\\nd\\\re\r\nf\\tab g\\ldblquote h\\rdblquote ");
    EXPECT_EQ(result.code, rtf_ok);
    EXPECT_EQ(result.text, u"a\rb\nc\nd\nef\tg\"h\"");
    EXPECT_EQ(parse("\\{\\}\\\\").text, u"{}\\");
}

TEST_F(RtfReader, DelimitersOfControlWordsAndSymbols)
{
    // One blank ends a word and is dropped; a second one is text.
    EXPECT_EQ(parse("\\b  x").text, u" x");
    // Any other byte ends the word and is read again.
    EXPECT_EQ(parse("\\b1x\\par\\par;").text, u"x\n\n;");
    // Nothing after a control symbol is consumed.
    EXPECT_EQ(parse("\\~ x").text, u" x");
    // A "-" without digits is consumed with the word.
    EXPECT_EQ(parse("\\b-x").text, u"x");
}

TEST_F(RtfReader, BinaryRunsStepOverTheirBytes)
{
    // Emitted in normal text, braces and zero bytes included, the zero byte
    // counting as one of the four.
    auto result = parse(std::string_view("\\bin4 {\0}\\x", 11));
    EXPECT_EQ(result.code, rtf_ok);
    EXPECT_EQ(result.text, u"{}\\x");
    // Stepped over inside a skipped destination, so its braces are no groups.
    result = parse("{\\pict\\bin6 }}}\\'z}after");
    EXPECT_EQ(result.code, rtf_ok);
    EXPECT_EQ(result.text, u"after");
    // The count is the digits alone.
    EXPECT_EQ(parse("{\\pict\\bin-2 }}}x").text, u"x");
}

TEST_F(RtfReader, BinaryCountsOfAnySize)
{
    // A zero-length run holds no bytes: the brace after it still closes.
    auto result = parse("{\\bin0}x");
    EXPECT_EQ(result.code, rtf_ok);
    EXPECT_EQ(result.text, u"x");
    // Counts beyond any integer type run to the end of the stream.
    result = parse("{\\pict\\bin99999999999999999999999999999999 }}}");
    EXPECT_EQ(result.code, rtf_unclosed_group);
    EXPECT_EQ(result.text, u"");
    // A run cut off by the end of a document does not reach into the next,
    // whose "}" closes the group left open.
    result = parse("x}");
    EXPECT_EQ(result.code, rtf_ok);
    EXPECT_EQ(result.text, u"x");
    result = parse("\\bin4294967297 ab}");
    EXPECT_EQ(result.code, rtf_ok);
    EXPECT_EQ(result.text, u"ab}");
}

TEST_F(RtfReader, OverLongWordsAndParameters)
{
    // Far beyond any keyword: read to its end and taken as unknown.
    std::string document = "\\" + std::string(100000, 'q') + " text";
    EXPECT_EQ(parse(document).text, u"text");
    // A known keyword with more letters after it is not that keyword.
    EXPECT_EQ(parse("\\par" + std::string(40, 'a') + " x").text, u"x");
    EXPECT_EQ(parse("{\\*\\" + std::string(40, 'b') + " hidden}y").text, u"y");
    // Parameters of any number of digits, either sign.
    EXPECT_EQ(parse("\\b99999999999999999999999999999 x\\li-" + std::string(500, '9') +
                    " y\\paperw2147483648 z")
                  .text,
              u"xyz");
}

TEST_F(RtfReader, UnbalancedGroupsReturnOneAndThree)
{
    auto result = parse("{a}}b");
    EXPECT_EQ(result.code, rtf_unbalanced_close);
    EXPECT_EQ(result.text, u"a");
    EXPECT_EQ(parse("}").code, rtf_unbalanced_close);

    result = parse("{\\rtf1 abc");
    EXPECT_EQ(result.code, rtf_unclosed_group);
    EXPECT_EQ(result.text, u"abc");
    EXPECT_EQ(rtf_reader_group_depth(), 1U);
}

TEST_F(RtfReader, EndAfterBackslashOrSignIsSeven)
{
    auto result = parse("abc\\");
    EXPECT_EQ(result.code, rtf_end_of_file);
    EXPECT_EQ(result.text, u"abc");
    EXPECT_EQ(parse("\\li-").code, rtf_end_of_file);
    // A word ending at the end of the stream still acts.
    result = parse("a\\par");
    EXPECT_EQ(result.code, rtf_ok);
    EXPECT_EQ(result.text, u"a\n");
    EXPECT_EQ(parse("").code, rtf_ok);
}

TEST_F(RtfReader, OpenGroupsAndStarCarryOverToTheNextDocument)
{
    auto first = parse("{\\fonttbl{");
    EXPECT_EQ(first.code, rtf_unclosed_group);
    EXPECT_EQ(rtf_reader_group_depth(), 2U);
    // The next document starts in normal state; its first "}" restores the
    // skipped font table, its second the normal text around it.
    auto second = parse("a}b}c");
    EXPECT_EQ(second.code, rtf_ok);
    EXPECT_EQ(second.text, u"ac");
    EXPECT_EQ(rtf_reader_group_depth(), 0U);
    EXPECT_EQ(rtf_reader_stack_bytes(), 0U);

    EXPECT_EQ(parse("\\*").code, rtf_ok);
    EXPECT_EQ(parse("{\\generator x}shown").text, u"shown");
}

TEST_F(RtfReader, DeepNestingCostsMemoryByTheDocumentOnly)
{
    // A flood of braces shares one saved state, carried over whole.
    const std::size_t depth = 1000000;
    auto result = parse(std::string(depth, '{') + "deep");
    EXPECT_EQ(result.code, rtf_unclosed_group);
    EXPECT_EQ(rtf_reader_group_depth(), depth);
    EXPECT_LE(rtf_reader_stack_bytes(), 256U);
    result = parse(std::string(depth, '}'));
    EXPECT_EQ(result.code, rtf_ok);
    EXPECT_EQ(rtf_reader_group_depth(), 0U);

    // Groups that each change the state keep one entry apiece, within a
    // small multiple of the document's size, and all of them restore.
    std::string changing;
    for (int i = 0; i < 100000; ++i) {
        changing += "{\\b1{\\b0";
    }
    result = parse(changing);
    EXPECT_EQ(result.code, rtf_unclosed_group);
    EXPECT_EQ(rtf_reader_group_depth(), 200000U);
    EXPECT_LE(rtf_reader_stack_bytes(), 32 * changing.size());
    result = parse("{\\fonttbl" + std::string(200002, '}') + "x");
    EXPECT_EQ(result.code, rtf_unbalanced_close);
    EXPECT_EQ(result.text, u"");
    EXPECT_EQ(rtf_reader_group_depth(), 0U);
    // A later document is not disturbed by what the earlier ones left.
    rtf_reader_reset();
    EXPECT_EQ(parse("{x}").text, u"x");
}

} // namespace
} // namespace korvel
