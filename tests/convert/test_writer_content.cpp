// Every kind of content the writer stores, read back through libpff.
#include "convert/writer/lzfu.h"
#include "tests/convert/pff_read.h"
#include "tests/support/pst_builder.h"
#include "tests/support/samples.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>

using korvel::testing::pst_builder;
using korvel::testing::pff::error_holder;
using korvel::testing::pff::file;
using korvel::testing::pff::item;
namespace convert = korvel::convert;

#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

namespace {

std::string scratch_file(const std::string &test, const std::string &name)
{
    return korvel::testing::scratch_directory("convert_" + test) + "/" + name;
}

std::string body_text(libpff_item_t *m, int (*size_fn)(libpff_item_t *, size_t *, libpff_error_t **),
                      int (*get_fn)(libpff_item_t *, uint8_t *, size_t, libpff_error_t **))
{
    error_holder e;
    size_t size = 0;
    int r = size_fn(m, &size, &e.error);
    EXPECT_NE(r, -1) << e.text();
    if (r != 1) {
        return "<absent>";
    }
    std::string s(size, '\0');
    EXPECT_EQ(get_fn(m, reinterpret_cast<uint8_t *>(s.data()), size, &e.error), 1) << e.text();
    while (!s.empty() && s.back() == '\0') {
        s.pop_back();
    }
    return s;
}

std::vector<std::uint8_t> attachment_bytes(libpff_item_t *a)
{
    error_holder e;
    size64_t size = 0;
    EXPECT_EQ(libpff_attachment_get_data_size(a, &size, &e.error), 1) << e.text();
    std::vector<std::uint8_t> out(static_cast<std::size_t>(size));
    if (size > 0) {
        EXPECT_EQ(libpff_attachment_data_seek_offset(a, 0, SEEK_SET, &e.error), 0) << e.text();
        EXPECT_EQ(libpff_attachment_data_read_buffer(a, out.data(), out.size(), &e.error),
                  static_cast<ssize_t>(out.size()))
            << e.text();
    }
    return out;
}

item attachment_at(const item &m, int i)
{
    error_holder e;
    item a;
    EXPECT_EQ(libpff_message_get_attachment(m.get(), i, a.out(), &e.error), 1) << e.text();
    return a;
}

int attachment_count(const item &m)
{
    error_holder e;
    int n = -1;
    EXPECT_EQ(libpff_message_get_number_of_attachments(m.get(), &n, &e.error), 1) << e.text();
    return n;
}

std::vector<std::uint8_t> read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace

TEST(WriterContent, EveryPropertyTypeAndNamedProperties)
{
    std::string path = scratch_file("types", "types.pst");
    pst_builder b;
    auto &m = b.root().add_folder(u8"Inbox").add_message("IPM.Appointment");
    m.set_i8(0x0E09, -1234567890123LL);
    m.set_double(0x6700, 2.5);
    m.set_short(0x6701, -3);
    m.set_binary(0x0FF9, std::string_view("\x00\x01\xFF\x80", 4));
    m.set_string8(0x0E1D, "\xE9t\xE9"); // not UTF-8: kept as stored bytes
    m.set_boolean(0x0058, false);
    m.set_unicode(0x0070, u8"");
    m.set_mv_long(0x6702, {1, -2, 3});
    m.set_mv_unicode(0x6703, {"one", "zwei ✓", ""});
    m.set_mv_binary(0x6704, {{1, 2}, {}, {3}});
    m.set_unicode(convert::named(convert::psets::appointment, 0x8208), u8"Room 12");
    m.set_long(convert::named(convert::psets::task, 0x8101), 2);
    m.set_unicode(convert::named(convert::psets::log, 0x8700), u8"Phone call");
    m.set_unicode(convert::named(convert::psets::address, 0x8005), u8"Filed under");
    m.set_boolean(convert::named(convert::psets::common, 0x8506), true);
    m.set_unicode(convert::named(convert::psets::public_strings, u"Keywords-x"), u8"by name");
    std::string big(5000, 'x'); // larger than a heap item: stored in a subnode
    big += "end";
    m.set_unicode(0x0E1E, big);
    b.write(path);

    file f(path);
    ASSERT_TRUE(f.opened);
    auto msg = f.root().find_folder("Inbox").message(0);
    EXPECT_EQ(msg.u64(0x0E09), static_cast<std::uint64_t>(-1234567890123LL));
    EXPECT_EQ(msg.floating(0x6700), 2.5);
    EXPECT_EQ(msg.raw(0x6701, 0x0002), (std::vector<std::uint8_t>{0xFD, 0xFF}));
    EXPECT_EQ(msg.binary(0x0FF9), (std::vector<std::uint8_t>{0x00, 0x01, 0xFF, 0x80}));
    EXPECT_EQ(msg.raw(0x0E1D, 0x001E), (std::vector<std::uint8_t>{0xE9, 't', 0xE9}));
    EXPECT_EQ(msg.boolean(0x0058), false);
    EXPECT_EQ(msg.raw(0x0070, 0x001F), std::vector<std::uint8_t>{});
    EXPECT_EQ(msg.utf8(0x0E1E), big);
    EXPECT_EQ(msg.raw(0x6702, 0x1003),
              (std::vector<std::uint8_t>{1, 0, 0, 0, 0xFE, 0xFF, 0xFF, 0xFF, 3, 0, 0, 0}));
    {
        // Variable-size multi-values: count, offsets from the value start, items.
        auto mv = msg.raw(0x6703, 0x101F);
        ASSERT_TRUE(mv.has_value());
        std::vector<std::uint8_t> expect = {3, 0, 0, 0, 16, 0, 0, 0, 22, 0, 0, 0, 34, 0, 0, 0,
                                            'o', 0, 'n', 0, 'e', 0, 'z', 0, 'w', 0, 'e', 0,
                                            'i', 0, ' ', 0, 0x13, 0x27};
        EXPECT_EQ(*mv, expect);
        EXPECT_EQ(msg.raw(0x6704, 0x1102),
                  (std::vector<std::uint8_t>{3, 0, 0, 0, 16, 0, 0, 0, 18, 0, 0, 0, 18, 0, 0, 0, 1,
                                             2, 3}));
    }
    // Named properties are found by their numeric name through the map.
    EXPECT_EQ(msg.utf8(0x8208), "Room 12");
    EXPECT_EQ(msg.u32(0x8101), 2u);
    EXPECT_EQ(msg.utf8(0x8700), "Phone call");
    EXPECT_EQ(msg.utf8(0x8005), "Filed under");
    EXPECT_EQ(msg.boolean(0x8506), true);
    {
        error_holder e;
        char text[64] = {};
        const char *name = "Keywords-x";
        EXPECT_EQ(libpff_item_get_entry_value_utf8_string_by_utf8_name(
                      msg.get(), 0, reinterpret_cast<uint8_t *>(const_cast<char *>(name)),
                      std::strlen(name), reinterpret_cast<uint8_t *>(text), sizeof text, &e.error),
                  1)
            << e.text();
        EXPECT_STREQ(text, "by name");
    }
    EXPECT_EQ(f.orphans(), 0);
}

TEST(WriterContent, RecipientsAttachmentsAndBodies)
{
    std::string dir = korvel::testing::scratch_directory("convert_parts");
    std::string path = dir + "/parts.pst";
    std::string on_disk = dir + "/data.bin";
    {
        std::ofstream out(on_disk, std::ios::binary);
        for (int i = 0; i < 20000; ++i) {
            out.put(static_cast<char>(i * 7));
        }
    }
    std::string rtf = "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Arial;}}\\f0\\fs20 Hello RTF "
                      "body, hello RTF body, hello RTF body.\\par}";
    std::string long_body;
    for (int i = 0; i < 3000; ++i) {
        long_body += "line " + std::to_string(i) + "\r\n";
    }
    pst_builder b;
    auto &inbox = b.top_of_personal_folders().find(u8"Inbox")->add_folder(u8"Work");
    auto &m = inbox.add_message("IPM.Note");
    m.set_unicode(0x0037, u8"With parts");
    m.set_long(0x0E07, 0x01);
    m.add_recipient(1, "Ann Example", "ann@example.com");
    m.add_recipient(2, "Bob", "bob@example.com").set_unicode(0x5FF6, u8"Bob display");
    m.add_recipient(3, "Carol");
    m.set_body(long_body);
    m.set_html("<html><body><p>Hi</p></body></html>");
    m.set_rtf(rtf);
    m.add_attachment("small.txt", convert::data_source::from_string("small data"));
    m.add_attachment("file.bin", convert::data_source::from_file(on_disk));
    m.add_attachment("big.bin", convert::data_source::pattern(3u << 20, 7));
    m.add_attachment("empty.txt", convert::data_source::from_string(""));
    auto &inner = m.add_embedded("Forwarded", "IPM.Note");
    inner.set_unicode(0x0037, u8"Inner subject");
    inner.add_recipient(1, "Dave", "dave@example.com");
    inner.add_attachment("inner.txt", convert::data_source::from_string("inner data"));
    m.add_reference("linked.doc", "/srv/share/linked.doc");
    auto &plain = inbox.add_message("IPM.Note");
    plain.set_rtf(rtf, false);
    b.write(path);

    file f(path);
    ASSERT_TRUE(f.opened);
    auto top = f.root().find_folder("Top of Personal Folders");
    ASSERT_TRUE(top);
    EXPECT_EQ(top.sub_folder_count(), 11);
    auto work = top.find_folder("Inbox").find_folder("Work");
    ASSERT_TRUE(work);
    ASSERT_EQ(work.message_count(), 2);
    auto msg = work.message(0);
    EXPECT_EQ(msg.u32(0x0E07), 0x11u); // the attachment flag is added

    {
        error_holder e;
        item recipients;
        ASSERT_EQ(libpff_message_get_recipients(msg.get(), recipients.out(), &e.error), 1)
            << e.text();
        ASSERT_EQ(recipients.sets(), 3);
        EXPECT_EQ(recipients.u32(0x0C15, 0), 1u);
        EXPECT_EQ(recipients.utf8(0x3001, 0), "Ann Example");
        EXPECT_EQ(recipients.utf8(0x3003, 0), "ann@example.com");
        EXPECT_EQ(recipients.u32(0x0C15, 1), 2u);
        EXPECT_EQ(recipients.utf8(0x5FF6, 1), "Bob display");
        EXPECT_EQ(recipients.utf8(0x3001, 2), "Carol");
        // libpff shows a cell a row lacks as empty.
        EXPECT_EQ(recipients.raw(0x3003, 0x001F, 2), std::vector<std::uint8_t>{});
    }

    EXPECT_EQ(body_text(msg.get(), libpff_message_get_plain_text_body_size,
                        libpff_message_get_plain_text_body),
              long_body);
    EXPECT_EQ(body_text(msg.get(), libpff_message_get_html_body_size, libpff_message_get_html_body),
              "<html><body><p>Hi</p></body></html>");
    EXPECT_EQ(body_text(msg.get(), libpff_message_get_rtf_body_size, libpff_message_get_rtf_body),
              rtf);
    // The uncompressed form is stored as such (libpff only reads the compressed one).
    auto stored = work.message(1).binary(0x1009);
    ASSERT_TRUE(stored.has_value());
    std::vector<std::uint8_t> back;
    ASSERT_TRUE(convert::rtf_decompress(*stored, back));
    EXPECT_EQ(std::string(back.begin(), back.end()), rtf);
    EXPECT_EQ((std::vector<std::uint8_t>(stored->begin() + 8, stored->begin() + 16)),
              (std::vector<std::uint8_t>{'M', 'E', 'L', 'A', 0, 0, 0, 0}));

    ASSERT_EQ(attachment_count(msg), 6);
    auto small = attachment_at(msg, 0);
    EXPECT_EQ(small.utf8(0x3707), "small.txt");
    std::vector<std::uint8_t> expect_small = {'s', 'm', 'a', 'l', 'l', ' ', 'd', 'a', 't', 'a'};
    EXPECT_EQ(attachment_bytes(small.get()), expect_small);
    EXPECT_EQ(attachment_bytes(attachment_at(msg, 1).get()), read_file(on_disk));
    auto big = attachment_bytes(attachment_at(msg, 2).get());
    ASSERT_EQ(big.size(), 3u << 20);
    bool same = true;
    for (std::size_t i = 0; i < big.size() && same; ++i) {
        same = big[i] == convert::pattern_byte(7, i);
    }
    EXPECT_TRUE(same);
    EXPECT_TRUE(attachment_bytes(attachment_at(msg, 3).get()).empty());

    auto embedded = attachment_at(msg, 4);
    {
        error_holder e;
        int type = 0;
        ASSERT_EQ(libpff_attachment_get_type(embedded.get(), &type, &e.error), 1) << e.text();
        EXPECT_EQ(type, LIBPFF_ATTACHMENT_TYPE_ITEM);
        item inner_item;
        ASSERT_EQ(libpff_attachment_get_item(embedded.get(), inner_item.out(), &e.error), 1)
            << e.text();
        EXPECT_EQ(inner_item.utf8(0x0037), "Inner subject");
        ASSERT_EQ(attachment_count(inner_item), 1);
        std::vector<std::uint8_t> expect_inner = {'i', 'n', 'n', 'e', 'r', ' ', 'd', 'a', 't', 'a'};
        EXPECT_EQ(attachment_bytes(attachment_at(inner_item, 0).get()), expect_inner);
        item inner_recipients;
        ASSERT_EQ(libpff_message_get_recipients(inner_item.get(), inner_recipients.out(), &e.error),
                  1)
            << e.text();
        EXPECT_EQ(inner_recipients.utf8(0x3001, 0), "Dave");
    }
    auto reference = attachment_at(msg, 5);
    {
        error_holder e;
        int type = 0;
        ASSERT_EQ(libpff_attachment_get_type(reference.get(), &type, &e.error), 1) << e.text();
        EXPECT_EQ(type, LIBPFF_ATTACHMENT_TYPE_REFERENCE);
        EXPECT_EQ(reference.utf8(0x370D), "/srv/share/linked.doc");
    }
    EXPECT_EQ(f.orphans(), 0);
}

TEST(WriterContent, CompressedRtfRoundTripsAndShrinks)
{
    std::string rtf = "{\\rtf1\\ansi\\ansicpg1252\\deff0";
    for (int i = 0; i < 400; ++i) {
        rtf += "\\par line " + std::to_string(i % 7) + " of the body";
    }
    rtf += "}";
    auto packed = convert::rtf_compress(rtf);
    EXPECT_LT(packed.size(), rtf.size() / 4);
    std::vector<std::uint8_t> back;
    ASSERT_TRUE(convert::rtf_decompress(packed, back));
    EXPECT_EQ(std::string(back.begin(), back.end()), rtf);
    ASSERT_TRUE(convert::rtf_decompress(convert::rtf_compress(""), back));
    EXPECT_TRUE(back.empty());
    // A stored CRC over the compressed bytes; a changed byte breaks the stream.
    packed[20] = static_cast<std::uint8_t>(packed[20] ^ 0x55);
    std::vector<std::uint8_t> damaged;
    bool ok = convert::rtf_decompress(packed, damaged);
    EXPECT_TRUE(!ok || damaged != std::vector<std::uint8_t>(rtf.begin(), rtf.end()));
}
