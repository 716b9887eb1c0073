// The sample mailbox as mbox: every mail item of every folder is written, in
// order, and every RTF body that encapsulates HTML comes out with that HTML.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <gmime/gmime.h>

#include "convert/mail/mail_sink.h"
#include "convert/mail/mime_message.h"
#include "convert/mail/rtf_html.h"
#include "tests/convert/mime_walk.h"
#include "tests/support/samples.h"

namespace fs = std::filesystem;
namespace convert = korvel::convert;
namespace pff = korvel::testing::pff;

namespace {

struct source_folder
{
    fs::path file; // the folder's mbox file in the output
    // Per mail item in order: true when its RTF body encapsulates HTML.
    std::vector<bool> encapsulated;
};

std::string rtf_of(libpff_item_t *m)
{
    std::size_t size = 0;
    if (libpff_message_get_rtf_body_size(m, &size, nullptr) != 1 || size == 0) {
        return {};
    }
    std::string rtf(size, '\0');
    if (libpff_message_get_rtf_body(m, reinterpret_cast<std::uint8_t *>(rtf.data()), size,
                                    nullptr) != 1) {
        return {};
    }
    return rtf;
}

// users_own: below "Top of Personal Folders", where empty folders are written
// too; elsewhere only folders with mail are.
void collect(const pff::item &folder, const fs::path &file, bool users_own,
             std::vector<source_folder> &out)
{
    source_folder f;
    f.file = file;
    for (int i = 0; i < folder.message_count(); ++i) {
        pff::item m = folder.message(i);
        if (convert::classify_message_class(convert::read_message_class(m.get())) !=
            convert::item_family::mail) {
            continue;
        }
        f.encapsulated.push_back(convert::rtf_encapsulates_html(rtf_of(m.get())));
    }
    if (users_own || !f.encapsulated.empty()) {
        out.push_back(f);
    }
    for (int i = 0; i < folder.sub_folder_count(); ++i) {
        pff::item sub = folder.sub_folder(i);
        std::string name = convert::safe_file_name(sub.folder_name().value_or(""), 120, "Folder");
        collect(sub, fs::path(file.string() + ".sbd") / name, users_own, out);
    }
}

bool has_html_part(GMimeObject *o)
{
    GMimeContentType *t = g_mime_object_get_content_type(o);
    if (g_mime_content_type_is_type(t, "text", "html")) {
        return true;
    }
    if (GMIME_IS_MULTIPART(o)) {
        auto *mp = reinterpret_cast<GMimeMultipart *>(o);
        for (int i = 0; i < g_mime_multipart_get_count(mp); ++i) {
            if (has_html_part(g_mime_multipart_get_part(mp, i))) {
                return true;
            }
        }
    }
    return false;
}

std::vector<bool> html_flags(const fs::path &mbox)
{
    std::vector<bool> out;
    FILE *f = std::fopen(mbox.c_str(), "rb");
    if (f == nullptr) {
        ADD_FAILURE() << "missing " << mbox;
        return out;
    }
    GMimeStream *stream = g_mime_stream_file_new(f);
    GMimeParser *parser = g_mime_parser_new_with_stream(stream);
    g_mime_parser_set_format(parser, GMIME_FORMAT_MBOX);
    while (!g_mime_parser_eos(parser)) {
        GMimeMessage *m = g_mime_parser_construct_message(parser, nullptr);
        if (m == nullptr) {
            break;
        }
        out.push_back(has_html_part(g_mime_message_get_mime_part(m)));
        g_object_unref(m);
    }
    g_object_unref(parser);
    g_object_unref(stream);
    return out;
}

TEST(MimeEnron, EveryMailItemAndEveryEncapsulatedHtmlBody)
{
    convert::mime_initialize();
    std::string pst = korvel::testing::sample_path("enron.pst");
    std::string out = korvel::testing::scratch_directory("mime_enron") + "/enron.mbox";
    auto sink = convert::make_mbox_sink();
    auto counts = korvel::testing::sink_walk(pst, *sink, out);
    EXPECT_EQ(counts.failed, 0);

    pff::file file(pst);
    pff::item root = file.root();
    std::vector<source_folder> folders;
    for (int i = 0; i < root.sub_folder_count(); ++i) {
        pff::item sub = root.sub_folder(i);
        const std::string name = sub.folder_name().value_or("");
        collect(sub, fs::path(out) / "Mail" / convert::safe_file_name(name, 120, "Folder"),
                name == "Top of Personal Folders", folders);
    }
    int mail = 0;
    int encapsulated = 0;
    for (const source_folder &f : folders) {
        std::vector<bool> html = html_flags(f.file);
        ASSERT_EQ(html.size(), f.encapsulated.size()) << f.file;
        for (std::size_t i = 0; i < html.size(); ++i) {
            ++mail;
            if (f.encapsulated[i]) {
                ++encapsulated;
                EXPECT_TRUE(html[i]) << f.file << " message " << i + 1;
            }
        }
    }
    EXPECT_EQ(mail, counts.written);
    EXPECT_EQ(mail, 71) << "mail items in enron.pst";
    // The sample keeps every body as plain text: it holds no RTF body at all,
    // so none encapsulates HTML. The writer-made fixtures cover that case.
    EXPECT_EQ(encapsulated, 0) << "HTML-encapsulating RTF bodies in enron.pst";
}

} // namespace
