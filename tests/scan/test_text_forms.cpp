// Names made safe for paths, child paths, date texts and the 8-bit decoding.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "scan/export_handle.h"
#include "scan/target_path.h"
#include "scan/text.h"
#include "tests/support/recording_views.h"

namespace korvel {
namespace {

using testing::narrow;

struct handle_fixture : ::testing::Test
{
    export_handle_t *handle = nullptr;
    void SetUp() override { ASSERT_EQ(export_handle_initialize(&handle, 'i', nullptr), 1); }
    void TearDown() override { export_handle_free(&handle, nullptr); }

    std::u16string sanitized(std::u16string name)
    {
        EXPECT_EQ(export_handle_sanitize_filename(handle, name.data(), name.size(), nullptr), 1);
        return name;
    }

    std::u16string child(const std::u16string &parent, const std::string &name,
                         std::size_t *size = nullptr)
    {
        char16_t *path = nullptr;
        std::size_t path_size = 0;
        int result = export_handle_create_target_path(
            handle, parent.c_str(), parent.size() + 1,
            reinterpret_cast<const std::uint8_t *>(name.c_str()),
            static_cast<std::ptrdiff_t>(name.size() + 1), &path, &path_size, nullptr);
        EXPECT_EQ(result, 1);
        if (result != 1) {
            return u"(failed)";
        }
        std::u16string out(path, path_size - 1);
        EXPECT_EQ(path[path_size - 1], 0);
        delete[] path;
        if (size != nullptr) {
            *size = path_size;
        }
        return out;
    }
};

TEST_F(handle_fixture, SanitizeReplacesTheReservedSetAndControlsOnly)
{
    EXPECT_EQ(sanitized(u"!\"$%&'*+/:;<>?@\\`~"), u"__________________");
    EXPECT_EQ(sanitized(u"a\tb\rc|d"), u"a_b_c|d");
    EXPECT_EQ(sanitized(u"#=|^[]{},"), u"#=|^[]{},");
    EXPECT_EQ(sanitized(u"Caf\u00e9 \u65e5\u672c"), u"Caf\u00e9 \u65e5\u672c");
    std::u16string with_zero(u"a\0b", 3);
    EXPECT_EQ(sanitized(with_zero), with_zero);
}

TEST_F(handle_fixture, SanitizeRefusesMissingArguments)
{
    char16_t name[] = u"x";
    EXPECT_EQ(export_handle_sanitize_filename(nullptr, name, 1, nullptr), -1);
    EXPECT_EQ(export_handle_sanitize_filename(handle, nullptr, 1, nullptr), -1);
    EXPECT_EQ(export_handle_sanitize_filename(handle, name, 0x80000000u, nullptr), -1);
}

TEST_F(handle_fixture, TargetPathJoinsAndCleansOnlyTheName)
{
    std::size_t size = 0;
    EXPECT_EQ(child(u".export", "Sent: Old", &size), u".export/Sent_ Old");
    EXPECT_EQ(size, 18u);
    EXPECT_EQ(child(u".export/A_B", "Calendar: Team"), u".export/A_B/Calendar_ Team");
    EXPECT_EQ(child(u".export", "a/b\\c"), u".export/a_b_c");
    EXPECT_EQ(child(u".export", "\xe6\x97\xa5\xe6\x9c\xac"), u".export/\u65e5\u672c");
}

TEST_F(handle_fixture, TargetPathRefusesBadInput)
{
    const std::u16string parent = u".export";
    char16_t *path = nullptr;
    std::size_t size = 7;
    const auto *invalid = reinterpret_cast<const std::uint8_t *>("\xff\xfe");
    EXPECT_EQ(export_handle_create_target_path(handle, parent.c_str(), 8, invalid, 3, &path, &size,
                                               nullptr),
              -1);
    EXPECT_EQ(path, nullptr);
    EXPECT_EQ(size, 0u);
    const auto *name = reinterpret_cast<const std::uint8_t *>("x");
    EXPECT_EQ(export_handle_create_target_path(handle, parent.c_str(), 8, name, -1, &path, &size,
                                               nullptr),
              -1);
    char16_t held[] = u"held";
    path = held;
    EXPECT_EQ(
        export_handle_create_target_path(handle, parent.c_str(), 8, name, 2, &path, &size, nullptr),
        -1);
    EXPECT_EQ(path, held);
}

TEST_F(handle_fixture, TargetPathStopsAtTheNamesOwnSize)
{
    // A damaged name without its terminating zero is read no further than its size.
    const std::uint8_t name[3] = {'a', 'b', 'c'};
    const std::u16string parent = u".export";
    char16_t *path = nullptr;
    std::size_t size = 0;
    ASSERT_EQ(
        export_handle_create_target_path(handle, parent.c_str(), 8, name, 2, &path, &size, nullptr),
        1);
    EXPECT_EQ(std::u16string(path), u".export/ab");
    delete[] path;
}

TEST(date_text, FormsAndLimits)
{
    EXPECT_EQ(narrow(filetime_date_text(0)), "Jan 01, 1601 00:00:00");
    // 7 March 2011, 14:05:09 UTC.
    const std::uint64_t march_2011 = (1299506709ull + 11644473600ull) * 10000000ull;
    EXPECT_EQ(narrow(filetime_date_text(march_2011)), "Mar 07, 2011 14:05:09");
    EXPECT_EQ(narrow(filetime_date_text(march_2011 + 9999999)), "Mar 07, 2011 14:05:09");
    // 29 February 2000 23:59:59 and 31 December 9999 23:59:59.
    EXPECT_EQ(narrow(filetime_date_text((951868799ull + 11644473600ull) * 10000000ull)),
              "Feb 29, 2000 23:59:59");
    EXPECT_EQ(narrow(filetime_date_text((253402300799ull + 11644473600ull) * 10000000ull)),
              "Dec 31, 9999 23:59:59");
    // 1 January 10000 is past the date form.
    EXPECT_EQ(narrow(filetime_date_text((253402300800ull + 11644473600ull) * 10000000ull)),
              "(0x24c85a5e 0xd1c04000)");
    char buffer[24];
    filetime_to_date_text(~0ull, buffer);
    EXPECT_STREQ(buffer, "(0xffffffff 0xffffffff)");
    EXPECT_EQ(std::strlen(buffer), 23u);
}

TEST(eight_bit_text, UTF8FirstThenWindows1252PerByte)
{
    EXPECT_EQ(decode_8bit("plain"), u"plain");
    EXPECT_EQ(decode_8bit("Caf\xc3\xa9"), u"Caf\u00e9");
    EXPECT_EQ(decode_8bit("Caf\xe9"), u"Caf\u00e9");
    EXPECT_EQ(decode_8bit("\x80 \x9f"), u"\u20ac \u0178");
    EXPECT_EQ(decode_8bit("\xf0\x9f\x98\x80"), u"\U0001F600");
    // Overlong forms and surrogates are not UTF-8: each byte stands alone.
    EXPECT_EQ(decode_8bit("\xc0\xaf"), u"\u00c0\u00af");
    EXPECT_EQ(decode_8bit("\xed\xa0\x80").size(), 3u);
    EXPECT_EQ(decode_8bit(std::string("ab\0cd", 5)), u"ab");
    EXPECT_EQ(utf16_to_utf8(u"\U0001F600\u00e9"), "\xf0\x9f\x98\x80\xc3\xa9");
}

} // namespace
} // namespace korvel
