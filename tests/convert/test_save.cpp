// The save through the real libpff: a whole mailbox, checked folders and
// damaged files written into a new PST and read back item by item.
#include "convert/save/save.h"
#include "scan/text.h"
#include "tests/convert/save_compare.h"
#include "tests/support/pst_builder.h"
#include "tests/support/pst_damage.h"
#include "tests/support/samples.h"
#include "tests/support/scan_session.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

using korvel::testing::pst_builder;
using korvel::testing::reparent_node;
using korvel::testing::scan_session;
using korvel::testing::pff::file;
using korvel::testing::pff::item;
namespace convert = korvel::convert;
namespace compare = korvel::testing::save_compare;

#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

namespace {

std::string scratch(const std::string &test)
{
    return korvel::testing::scratch_directory("save_" + test);
}

// Scans the source and saves it; checked are tree paths of folders to save.
int save(scan_session &session, const std::string &source, const std::string &target,
         convert::save_report &report, const std::vector<std::string> &checked = {},
         bool recovered = true)
{
    session.scan(source);
    convert::save_request request;
    request.target = target;
    request.recovered_items = recovered;
    for (const std::string &path : checked) {
        korvel::tree_item tree = session.views.find_path(korvel::u16(path));
        libpff_item_t *folder = nullptr;
        for (korvel::folder_node *n = session.state.folders.head; n; n = n->next) {
            if (tree != 0 && n->item == tree) {
                folder = n->folder_item;
            }
        }
        EXPECT_NE(folder, nullptr) << path;
        request.folders.push_back(folder);
    }
    return convert::save_mailbox(&session.state, request, {}, report);
}

// Compares the whole source with its copy from the root folders down.
compare::totals compare_files(const std::string &source, const std::string &copy,
                              int extra_top_folders = 0)
{
    file s(source);
    file c(copy);
    compare::totals t;
    if (!s.opened || !c.opened) {
        ADD_FAILURE() << "cannot open";
        return t;
    }
    item sr = s.root();
    item cr = c.root();
    korvel::testing::pff::error_holder e;
    int fs = sr.sub_folder_count();
    int fc = cr.sub_folder_count();
    EXPECT_EQ(fc, fs + extra_top_folders);
    for (int i = 0; i < std::min(fs, fc); ++i) {
        item sf = sr.sub_folder(i);
        item cf = cr.sub_folder(i);
        std::string name = sf.folder_name().value_or("");
        EXPECT_EQ(cf.folder_name().value_or(""), name);
        compare::compare_folder(sf.get(), cf.get(), name, t);
    }
    return t;
}

// A mailbox with every kind of content the save must carry over, in either
// layout (in the 32-bit one, Unicode text is stored in each item's code page).
void build_everything(const std::string &path, convert::writer_options options = {})
{
    pst_builder b(options);
    auto &top = b.top_of_personal_folders();
    auto &inbox = *top.find(u8"Inbox");
    const convert::guid custom = convert::guid::parse("11223344-5566-7788-99aa-bbccddeeff00");

    auto &m = inbox.add_message("IPM.Note");
    m.set_unicode(0x0037, u8"Every type");
    m.set_long(0x0E07, 1);
    m.set_short(0x6601, -2)
        .set_long(0x6602, 123456)
        .set_float(0x6603, 1.5f)
        .set_double(0x6604, -2.25)
        .set_currency(0x6605, 99999)
        .set_raw(0x6606, convert::pt_apptime, {0, 0, 0, 0, 0, 0, 0xF0, 0x3F})
        .set_error(0x6607, 0x8004010F)
        .set_boolean(0x6608, true)
        .set_i8(0x6609, -1234567890123LL)
        .set_systime(0x660A, convert::filetime_from_unix(1700000000))
        .set_guid(0x660B, custom)
        .set_binary(0x660C, std::string(5000, 'b'))
        .set_unicode(0x660D, std::string(4000, 'u'))
        .set_mv_short(0x660E, {1, -1})
        .set_mv_long(0x660F, {1, 2, 3})
        .set_mv_float(0x6610, {0.5f})
        .set_mv_double(0x6611, {1.0, 2.0})
        .set_mv_i8(0x6612, {-1, 1})
        .set_mv_systime(0x6613, {1, 2})
        .set_mv_guid(0x6614, {custom, convert::psets::task})
        .set_mv_unicode(0x6615, {"one", "zwei", "三"})
        .set_mv_string8(0x6616, {"a", "b\xe9"})
        .set_mv_binary(0x6617, {{1, 2}, {}, {3}})
        .set_raw(0x6618, convert::pt_currency | convert::pt_mv, std::vector<std::uint8_t>(16, 7));
    m.set_unicode(convert::named(convert::psets::appointment, 0x8208), u8"Room 1");
    m.set_mv_unicode(convert::named(convert::psets::public_strings, u"Keywords"), {"red", "blue"});
    m.set_long(convert::named(custom, u"x-custom-count"), 7);
    m.set_long(convert::named(custom, 0x1234), 8);
    m.set_body("Plain body");
    m.set_html("<p>HTML body</p>");
    m.set_rtf("{\\rtf1\\ansi RTF body}");
    auto &r = m.add_recipient(1, "Ann", "ann@example.com");
    r.set_binary(0x0FFF, std::string("entry-id"));
    r.set_unicode(convert::named(convert::psets::address, 0x8005), u8"Ann A.");
    m.add_recipient(2, "Bob").set_binary(0x6700, std::string(5000, 'r'));
    m.add_recipient(3, "Carol", "carol@example.com");
    m.add_attachment("small.txt", convert::data_source::from_string("small"))
        .set_unicode(0x3712, u8"cid-1");
    m.add_attachment("big.bin", convert::data_source::pattern(300000, 4));
    m.add_attachment("empty.bin", convert::data_source::from_string(""));
    // Either side of the largest value kept inside a property context.
    m.add_attachment("in-heap.bin", convert::data_source::pattern(3580, 5));
    m.add_attachment("streamed.bin", convert::data_source::pattern(3581, 6));
    m.add_reference("linked.doc", "/srv/share/linked.doc");
    auto &inner = m.add_embedded("Forwarded", "IPM.Note");
    inner.set_unicode(0x0037, u8"Inner");
    inner.set_body("inner body");
    inner.add_recipient(1, "Dan", "dan@example.com");
    inner.add_attachment("inner.txt", convert::data_source::from_string("inner data"));
    auto &innermost = inner.add_embedded("Deeper", "IPM.Note");
    innermost.set_unicode(0x0037, u8"Innermost");
    innermost.add_attachment("deep.bin", convert::data_source::pattern(10000, 9));

    auto &plain = inbox.add_message("IPM.Note");
    plain.set_unicode(0x0037, u8"Uncompressed RTF");
    plain.set_rtf("{\\rtf1 plain}", false);
    inbox.add_associated_message("IPM.Microsoft.FolderDesign.NamedView")
        .set_unicode(0x3001, u8"A view");

    auto &contact = top.find(u8"Contacts")->add_message("IPM.Contact");
    contact.set_unicode(0x3001, u8"Eve Example");
    contact.set_unicode(convert::named(convert::psets::address, 0x8083), u8"eve@example.com");
    contact.set_binary(convert::named(convert::psets::address, 0x8028), std::string("\x01\x02"));
    auto &appointment = top.find(u8"Calendar")->add_message("IPM.Appointment");
    appointment.set_unicode(0x0037, u8"Meeting");
    appointment.set_systime(convert::named(convert::psets::appointment, 0x820D),
                            convert::filetime_from_unix(1700003600));
    appointment.set_boolean(convert::named(convert::psets::appointment, 0x8215), false);
    auto &task = top.find(u8"Tasks")->add_message("IPM.Task");
    task.set_unicode(0x0037, u8"Task");
    task.set_double(convert::named(convert::psets::task, 0x8102), 0.5);

    // 8-bit text in two code pages, Unicode and 8-bit names.
    auto &names = top.add_folder(u8"Données ✉ 日本");
    auto &w1252 = names.add_message("IPM.Note");
    w1252.set_long(0x3FFD, 1252);
    w1252.set_string8(0x0037, "\xe9t\xe9 \x80");
    w1252.set_string8(0x0C1A, "Ren\xe9");
    auto &w1251 = names.add_message("IPM.Note");
    w1251.set_long(0x3FFD, 1251);
    w1251.set_string8(0x0037, "\xcf\xf0\xe8\xe2\xe5\xf2");
    names.add_unnamed_folder().add_message("IPM.Note").set_unicode(0x0037, u8"In unnamed");
    // Double-byte code pages (second bytes equal to a backslash), and text whose
    // code page is unknown or missing.
    auto &w932 = names.add_message("IPM.Note");
    w932.set_long(0x3FFD, 932);
    w932.set_unicode(0x0037, u8"会議の件 ソ表");
    w932.add_recipient(1, "山田太郎");
    auto &w936 = names.add_message("IPM.Note");
    w936.set_long(0x3FFD, 936);
    w936.set_unicode(0x0037, u8"你好世界");
    w936.set_body("这是正文。");
    auto &unknown = names.add_message("IPM.Note");
    unknown.set_long(0x3FFD, 99999);
    unknown.set_string8(0x0037, "Caf\xe9 unknown");
    names.add_message("IPM.Note").set_string8(0x0037, "Caf\xe9 missing");

    // 40 levels, deeper than the tree shows.
    auto &deepest = b.root().add_folder(u8"Deep").add_folder_chain(40);
    deepest.add_message("IPM.Note").set_unicode(0x0037, u8"At level 41");
    b.write(path);
}

std::string copy_subject(const std::string &copy, const std::vector<std::string> &path, int index)
{
    file c(copy);
    item f = c.root();
    for (const std::string &name : path) {
        f = f.find_folder(name);
        if (!f) {
            return "<no folder " + name + ">";
        }
    }
    item m = f.message(index);
    return m.utf8(0x0037).value_or("<no subject>");
}

} // namespace

TEST(SaveRoundTrip, SampleMailboxEveryItemWhole)
{
    std::string dir = scratch("enron");
    std::string source = korvel::testing::sample_path("enron.pst");
    scan_session session;
    convert::save_report report;
    ASSERT_EQ(save(session, source, dir + "/copy.pst", report), 1) << report.failure;
    EXPECT_TRUE(report.unreadable.empty()) << report.unreadable.front();
    compare::totals t = compare_files(source, dir + "/copy.pst", report.recovered ? 1 : 0);
    EXPECT_EQ(static_cast<std::size_t>(t.messages), report.items);
    EXPECT_GT(t.messages, 0);
    // Nothing else is left beside the copy.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir),
                            std::filesystem::directory_iterator()),
              1);
}

TEST(SaveRoundTrip, WriterMadeMailboxWithEveryKindOfContent)
{
    std::string dir = scratch("everything");
    build_everything(dir + "/source.pst");
    scan_session session;
    convert::save_report report;
    ASSERT_EQ(save(session, dir + "/source.pst", dir + "/copy.pst", report), 1) << report.failure;
    EXPECT_TRUE(report.unreadable.empty()) << report.unreadable.front();
    compare::totals t = compare_files(dir + "/source.pst", dir + "/copy.pst");
    EXPECT_EQ(t.folders, 3 + 12 + 1 + 40) << "root's sub-folders and below";
    EXPECT_EQ(static_cast<std::size_t>(t.messages), report.items - 1) << "one hidden item";

    // 8-bit text comes out as Unicode decoded by each message's code page.
    const std::vector<std::string> names = {"Top of Personal Folders", "Données ✉ 日本"};
    EXPECT_EQ(copy_subject(dir + "/copy.pst", names, 0), "été €");
    EXPECT_EQ(copy_subject(dir + "/copy.pst", names, 1), "Привет");
    std::vector<std::string> deep = {"Deep"};
    for (int i = 1; i <= 40; ++i) {
        deep.push_back("Level " + std::to_string(i));
    }
    EXPECT_EQ(copy_subject(dir + "/copy.pst", deep, 0), "At level 41");
}

TEST(SaveRoundTrip, AnsiMailboxWithEveryKindOfContentBecomesUnicode)
{
    std::string dir = scratch("ansi");
    build_everything(dir + "/source.pst", pst_builder::ansi(1252));
    scan_session session;
    convert::save_report report;
    ASSERT_EQ(save(session, dir + "/source.pst", dir + "/copy.pst", report), 1) << report.failure;
    EXPECT_TRUE(report.unreadable.empty()) << report.unreadable.front();
    compare::totals t = compare_files(dir + "/source.pst", dir + "/copy.pst");
    EXPECT_EQ(t.folders, 3 + 12 + 1 + 40);
    EXPECT_EQ(static_cast<std::size_t>(t.messages), report.items - 1);

    // The copy is Unicode; 8-bit text decoded by each message's code page,
    // never dropped when the code page is unknown or missing.
    file copy(dir + "/copy.pst");
    item names = copy.root().find_folder("Top of Personal Folders").find_folder("Données ? ??");
    ASSERT_TRUE(names);
    std::vector<std::string> subjects;
    for (int i = 0; i < 6; ++i) {
        subjects.push_back(names.message(i).utf8(0x0037).value_or("<none>"));
    }
    EXPECT_EQ(subjects, (std::vector<std::string>{"été €", "Привет", "会議の件 ソ表", "你好世界",
                                                  "Café unknown", "Café missing"}));
    EXPECT_EQ(names.message(3).utf8(0x1000).value_or(""), "这是正文。");
}

TEST(SaveCheckedFolders, OnlyTheyAndTheirSubFoldersUnderTheirAncestors)
{
    std::string dir = scratch("checked");
    build_everything(dir + "/source.pst");
    scan_session session;
    convert::save_report report;
    // Level 3 is inside checked Level 2: saved once.
    ASSERT_EQ(save(session, dir + "/source.pst", dir + "/copy.pst", report,
                   {"Top of Personal Folders/Inbox", "Deep/Level 1/Level 2/Level 3",
                    "Top of Personal Folders/Données ✉ 日本", "Deep/Level 1/Level 2"},
                   false),
              1)
        << report.failure;
    file s(dir + "/source.pst");
    file c(dir + "/copy.pst");
    item ctop = c.root().find_folder("Top of Personal Folders");
    ASSERT_TRUE(ctop);
    EXPECT_EQ(ctop.sub_folder_count(), 2);
    EXPECT_EQ(ctop.message_count(), 0);
    compare::totals t;
    item stop = s.root().find_folder("Top of Personal Folders");
    compare::compare_folder(stop.find_folder("Inbox").get(), ctop.find_folder("Inbox").get(),
                            "Inbox", t);
    compare::compare_folder(stop.find_folder("Données ✉ 日本").get(),
                            ctop.find_folder("Données ✉ 日本").get(), "names", t);
    EXPECT_FALSE(ctop.find_folder("Contacts"));
    // The ancestors below "Deep" are empty parents; everything below level 2 is whole.
    item level1 = c.root().find_folder("Deep").find_folder("Level 1");
    ASSERT_TRUE(level1);
    EXPECT_EQ(level1.sub_folder_count(), 1);
    EXPECT_EQ(c.root().sub_folder_count(), 2);
    std::vector<std::string> deep = {"Deep"};
    for (int i = 1; i <= 40; ++i) {
        deep.push_back("Level " + std::to_string(i));
    }
    EXPECT_EQ(copy_subject(dir + "/copy.pst", deep, 0), "At level 41");
    EXPECT_EQ(report.items, 3u + 7u + 1u);         // Inbox (one hidden), names and below, deep
    EXPECT_EQ(report.folders, 3u + 1u + 2u + 39u); // parents, Inbox, names and unnamed, levels
    EXPECT_EQ(level1.find_folder("Level 2").sub_folder_count(), 1);
}

namespace {

// Copies a file with a damaged part: cut at cut_at (0: keep all) and
// overwritten with junk at the given offsets.
void damage(const std::string &from, const std::string &to, std::uintmax_t cut_at,
            const std::vector<std::uintmax_t> &junk_at)
{
    std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
    if (cut_at) {
        std::filesystem::resize_file(to, cut_at);
    }
    std::fstream f(to, std::ios::in | std::ios::out | std::ios::binary);
    for (std::uintmax_t at : junk_at) {
        f.seekp(static_cast<std::streamoff>(at));
        std::string junk(4096, '\x5A');
        f.write(junk.data(), static_cast<std::streamsize>(junk.size()));
    }
}

// Messages the listing shows per tree path.
std::map<std::string, std::size_t> listing(scan_session &session)
{
    std::map<std::string, std::size_t> out;
    std::vector<std::string> paths;
    for (korvel::folder_node *n = session.state.folders.head; n; n = n->next) {
        paths.push_back(korvel::utf16_to_utf8(n->parent_path + u"/" + n->name).substr(1));
    }
    for (const std::string &p : paths) {
        if (session.fill(p)) {
            out[p] = session.views.rows.size();
        }
    }
    return out;
}

std::size_t copy_messages(const std::string &copy, const std::string &tree_path)
{
    file c(copy);
    item f = c.root();
    std::size_t start = 0;
    while (f && start <= tree_path.size()) {
        std::size_t slash = tree_path.find('/', start);
        std::string name = tree_path.substr(start, slash - start);
        f = f.find_folder(name);
        if (slash == std::string::npos) {
            break;
        }
        start = slash + 1;
    }
    return f ? static_cast<std::size_t>(f.message_count()) : 0;
}

} // namespace

TEST(SaveDamaged, TruncatedAndOverwrittenSourcesGiveACopyWithEverythingListed)
{
    std::string dir = scratch("damaged");
    std::string source = korvel::testing::sample_path("enron.pst");
    const std::uintmax_t size = std::filesystem::file_size(source);
    // Writer-made mailboxes whose messages fill the middle of the file, in
    // both layouts (the 32-bit one's 8-bit text in 1251).
    for (bool ansi : {false, true}) {
        pst_builder b(ansi ? pst_builder::ansi(1251) : convert::writer_options{});
        auto &bulk = b.root().add_folder(u8"Bulk");
        for (int i = 0; i < 150; ++i) {
            auto &m = bulk.add_message("IPM.Note");
            m.set_long(0x3FFD, 1251);
            m.set_unicode(0x0037, "Сообщение " + std::to_string(i));
            m.set_body(std::string(6000, static_cast<char>('a' + i % 26)));
            m.add_attachment("a.bin",
                             convert::data_source::pattern(9000, static_cast<std::uint32_t>(i)));
        }
        b.write(dir + (ansi ? "/bulk-ansi.pst" : "/bulk.pst"));
    }
    const std::uintmax_t bulk_size = std::filesystem::file_size(dir + "/bulk.pst");
    const std::uintmax_t ansi_size = std::filesystem::file_size(dir + "/bulk-ansi.pst");
    struct damage_case
    {
        std::string name;
        std::string from;
        std::uintmax_t cut;
        std::vector<std::uintmax_t> junk;
    };
    const damage_case cases[] = {
        {"truncated", source, size * 6 / 10, {}},
        {"overwritten", source, 0, {size / 3, size / 2, size * 3 / 4}},
        {"both", source, size * 8 / 10, {size / 5, size / 2}},
        {"bulk-overwritten",
         dir + "/bulk.pst",
         0,
         {bulk_size / 4, bulk_size / 3, bulk_size / 2, bulk_size * 2 / 3}},
        // Cut short as a 32-bit file past its size limit is, and overwritten.
        {"ansi-truncated", dir + "/bulk-ansi.pst", ansi_size / 2, {}},
        {"ansi-overwritten",
         dir + "/bulk-ansi.pst",
         0,
         {ansi_size / 4, ansi_size / 3, ansi_size / 2, ansi_size * 2 / 3}},
    };
    for (const damage_case &d : cases) {
        SCOPED_TRACE(d.name);
        std::string damaged = dir + "/" + d.name + ".pst";
        std::string copy = dir + "/" + d.name + "-copy.pst";
        damage(d.from, damaged, d.cut, d.junk);
        scan_session session;
        convert::save_report report;
        int r = save(session, damaged, copy, report);
        ASSERT_EQ(r, 1) << report.failure;
        std::map<std::string, std::size_t> listed = listing(session);
        for (const auto &[path, n] : listed) {
            EXPECT_GE(copy_messages(copy, path), n) << path;
        }
        file c(copy);
        ASSERT_TRUE(c.opened);
        item recovered = c.root().find_folder("Recovered Items");
        if (report.recovered > 0) {
            ASSERT_TRUE(recovered);
            EXPECT_EQ(static_cast<std::size_t>(recovered.message_count()), report.recovered);
        } else {
            EXPECT_FALSE(recovered);
        }
    }
}

TEST(SaveDamaged, OrphanMessagesGoToRecoveredItemsOnce)
{
    std::string dir = scratch("orphans");
    pst_builder b;
    auto &mail = b.root().add_folder(u8"Mail");
    for (int i = 1; i <= 3; ++i) {
        auto &m = mail.add_message("IPM.Note");
        m.set_unicode(0x0037, "Message " + std::to_string(i));
        m.set_body("body " + std::to_string(i));
    }
    // A folder (node 0x8042) with a sub-folder, each with a message.
    auto &lost = b.root().add_folder(u8"Lost");
    lost.add_message("IPM.Note").set_unicode(0x0037, u8"In lost");
    lost.add_folder(u8"Lost below").add_message("IPM.Note").set_unicode(0x0037, u8"Below lost");
    b.root().add_message("IPM.Note").set_unicode(0x0037, u8"In the root");
    b.write(dir + "/source.pst");
    // The second message (node 0x200044: the root's message comes first) and the folder "Lost" lose
    // their parents.
    ASSERT_TRUE(reparent_node(dir + "/source.pst", 0x200044, (0x7FF0u << 5) | 0x02));
    ASSERT_TRUE(reparent_node(dir + "/source.pst", (0x402u << 5) | 0x02, (0x7FF1u << 5) | 0x02));

    scan_session session;
    convert::save_report report;
    ASSERT_EQ(save(session, dir + "/source.pst", dir + "/copy.pst", report), 1) << report.failure;
    EXPECT_EQ(report.recovered, 4u);
    {
        file c(dir + "/copy.pst");
        EXPECT_FALSE(c.root().find_folder("Lost"));
        EXPECT_EQ(c.root().message_count(), 0);
        item recovered = c.root().find_folder("Recovered Items");
        ASSERT_TRUE(recovered);
        ASSERT_EQ(recovered.message_count(), 4);
        std::set<std::string> subjects;
        for (int i = 0; i < 4; ++i) {
            subjects.insert(recovered.message(i).utf8(0x0037).value_or(""));
        }
        EXPECT_EQ(subjects,
                  (std::set<std::string>{"In the root", "Message 2", "In lost", "Below lost"}));
        EXPECT_EQ(c.root().find_folder("Mail").message_count(), 2);
    }

    // Saved again from the same session: the same, once; and without the choice, no folder.
    convert::save_request request;
    request.target = dir + "/again.pst";
    ASSERT_EQ(convert::save_mailbox(&session.state, request, {}, report), 1) << report.failure;
    EXPECT_EQ(report.recovered, 4u);
    // Without the choice only the root's own message is kept there.
    request.target = dir + "/without.pst";
    request.recovered_items = false;
    ASSERT_EQ(convert::save_mailbox(&session.state, request, {}, report), 1) << report.failure;
    EXPECT_EQ(report.recovered, 1u);
    file w(dir + "/without.pst");
    item kept = w.root().find_folder("Recovered Items");
    ASSERT_TRUE(kept);
    ASSERT_EQ(kept.message_count(), 1);
    EXPECT_EQ(kept.message(0).utf8(0x0037), "In the root");
}

namespace {

// Breaks the heap that holds the first copy of marker (a property context):
// the heap signature at the start of its block is cleared.
bool break_heap_holding(const std::string &path, const std::string &marker)
{
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    std::string data((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    std::size_t at = data.find(marker);
    if (at == std::string::npos) {
        return false;
    }
    for (std::size_t p = at / 64 * 64;; p -= 64) {
        if (static_cast<unsigned char>(data[p + 2]) == 0xEC &&
            static_cast<unsigned char>(data[p + 3]) == 0xBC) {
            f.clear();
            f.seekp(static_cast<std::streamoff>(p + 2));
            f.put('\0');
            return static_cast<bool>(f);
        }
        if (p == 0) {
            return false;
        }
    }
}

} // namespace

TEST(SaveDamaged, AnUnreadableItemOrAttachmentIsNamedAndTheRestSaved)
{
    std::string dir = scratch("unreadable");
    convert::writer_options plain;
    plain.permute = false; // the markers stay findable in the file
    pst_builder b(plain);
    auto &mail = b.root().add_folder(u8"Mail");
    for (int i = 1; i <= 5; ++i) {
        auto &m = mail.add_message("IPM.Note");
        m.set_unicode(0x0037, "Message " + std::to_string(i));
        m.set_unicode(0x1000, i == 3 ? "BODYMARK" : "fine");
        m.add_attachment(i == 4 ? "ATTMARK" : "a.bin", convert::data_source::from_string("data"));
    }
    b.write(dir + "/source.pst");
    ASSERT_TRUE(
        break_heap_holding(dir + "/source.pst", std::string("B\0O\0D\0Y\0M\0A\0R\0K\0", 16)));
    ASSERT_TRUE(break_heap_holding(dir + "/source.pst", std::string("A\0T\0T\0M\0A\0R\0K\0", 14)));

    scan_session session;
    convert::save_report report;
    ASSERT_EQ(save(session, dir + "/source.pst", dir + "/copy.pst", report), 1) << report.failure;
    std::string lines;
    for (const std::string &line : report.unreadable) {
        lines += line + "\n";
    }
    EXPECT_NE(lines.find("Mail, item 3"), std::string::npos) << lines;
    EXPECT_NE(lines.find("Mail, item 4, attachment 1"), std::string::npos) << lines;
    file c(dir + "/copy.pst");
    item copied = c.root().find_folder("Mail");
    ASSERT_TRUE(copied);
    EXPECT_GE(copied.message_count(), 4);
    EXPECT_EQ(copied.message(0).utf8(0x0037), "Message 1");
    EXPECT_EQ(copied.message(copied.message_count() - 1).utf8(0x0037), "Message 5");
}
