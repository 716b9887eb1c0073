// The save on more than one thread against the save on one: the same copy,
// byte for byte and property for property as libpff reads it back (the mbox
// and EML trees byte for byte), the same report, and a Stop that leaves
// nothing behind.
#include "convert/save/save.h"
#include "tests/convert/save_compare.h"
#include "tests/support/pst_builder.h"
#include "tests/support/pst_damage.h"
#include "tests/support/samples.h"
#include "tests/support/scan_session.h"

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string_view>

using korvel::testing::pst_builder;
using korvel::testing::scan_session;
namespace convert = korvel::convert;
namespace compare = korvel::testing::save_compare;
namespace pff = korvel::testing::pff;

namespace {

int save(scan_session &session, const std::string &target, unsigned threads,
         convert::save_report &report, const std::function<void(int)> &progress = {},
         convert::output_format format = convert::output_format::pst)
{
    convert::save_request request;
    request.target = target;
    request.threads = threads;
    request.format = format;
    return convert::save_mailbox(&session.state, request, progress, report);
}

std::string bytes_of(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Every folder below the root of the one-thread copy against the other.
compare::totals compare_copies(const std::string &one, const std::string &other)
{
    pff::file a(one);
    pff::file b(other);
    compare::totals t;
    if (!a.opened || !b.opened) {
        ADD_FAILURE() << "cannot open " << one << " or " << other;
        return t;
    }
    pff::item ar = a.root();
    pff::item br = b.root();
    EXPECT_EQ(br.sub_folder_count(), ar.sub_folder_count());
    for (int i = 0; i < std::min(ar.sub_folder_count(), br.sub_folder_count()); ++i) {
        pff::item af = ar.sub_folder(i);
        pff::item bf = br.sub_folder(i);
        compare::compare_folder(af.get(), bf.get(), af.folder_name().value_or(""), t);
    }
    return t;
}

// 40 folders (some nested) of mail with recipients, attachments of one and
// of many blocks, a few of megabytes, embedded messages and hidden items.
void build_forty_folders(const std::string &path)
{
    pst_builder b;
    auto &top = b.top_of_personal_folders();
    for (int f = 0; f < 40; ++f) {
        auto &parent = f % 4 == 3 ? *top.find(u8"Inbox") : top;
        auto &folder = parent.add_folder("Folder " + std::to_string(f + 1));
        for (int n = 0; n < f % 7 + 1; ++n) {
            auto &m = folder.add_message("IPM.Note");
            m.set_unicode(0x0037, "Message " + std::to_string(f) + "." + std::to_string(n));
            m.set_body("Body of " + std::to_string(n) +
                       std::string(300 * static_cast<std::size_t>(n), 'x'));
            m.add_recipient(1, "Bob", "bob@example.com");
            const std::uint64_t size = n == 2 ? 100'000 : 3'000;
            m.add_attachment("data.bin", convert::data_source::pattern(
                                             size, static_cast<std::uint32_t>(f * 10 + n)));
            if (n == 1) {
                auto &inner = m.add_embedded("Forwarded", "IPM.Note");
                inner.set_unicode(0x0037, "Inner " + std::to_string(f));
                inner.add_attachment("inner.txt", convert::data_source::from_string("inside"));
            }
        }
        if (f % 13 == 6) {
            // Big enough to be streamed from the reading thread's file.
            folder.add_message("IPM.Note")
                .add_attachment("big.bin", convert::data_source::pattern(
                                               3u << 20, static_cast<std::uint32_t>(f)));
        }
        if (f % 5 == 0) {
            folder.add_associated_message("IPM.Configuration").set_unicode(0x0037, "hidden");
        }
        if (f % 9 == 4) {
            // Written beside the mail by the mail formats, the calendar item
            // from the reading thread's file.
            folder.add_message("IPM.Contact").set_unicode(0x3001, "Contact " + std::to_string(f));
            auto &meeting = folder.add_message("IPM.Appointment");
            meeting.set_unicode(0x0037, "Meeting " + std::to_string(f));
            // Its stamp, which would otherwise be the time of the conversion.
            meeting.set_systime(0x3008, convert::filetime_from_unix(1714550000));
            meeting.set_systime(convert::named(convert::psets::appointment, 0x820D),
                                convert::filetime_from_unix(1714557600 + f * 3600));
            meeting.set_systime(convert::named(convert::psets::appointment, 0x820E),
                                convert::filetime_from_unix(1714561200 + f * 3600));
        }
    }
    b.write(path);
}

// Saves source with 1, 2 and 4 threads; returns the one-thread report.
convert::save_report expect_same_saves(const std::string &source, const std::string &dir)
{
    scan_session session;
    session.scan(source);
    convert::save_report one;
    if (save(session, dir + "/one.pst", 1, one) != 1) {
        ADD_FAILURE() << one.failure;
        return one;
    }
    const std::string one_bytes = bytes_of(dir + "/one.pst");
    for (unsigned threads : {2u, 4u}) {
        SCOPED_TRACE(std::to_string(threads) + " threads");
        const std::string copy = dir + "/copy-" + std::to_string(threads) + ".pst";
        convert::save_report many;
        if (save(session, copy, threads, many) != 1) {
            ADD_FAILURE() << many.failure;
            continue;
        }
        EXPECT_EQ(many.items, one.items);
        EXPECT_EQ(many.folders, one.folders);
        EXPECT_EQ(many.recovered, one.recovered);
        EXPECT_EQ(many.unreadable, one.unreadable);
        EXPECT_EQ(many.notes, one.notes);
        compare::totals t = compare_copies(dir + "/one.pst", copy);
        EXPECT_GT(t.messages, 0);
        EXPECT_TRUE(bytes_of(copy) == one_bytes) << "the copies differ in their bytes";
    }
    return one;
}

// The text with every multipart boundary (=_korvel_, 16 hex digits, _, hex
// digits; new for every message) masked. By hand: std::regex takes minutes
// over the encoded attachments in a sanitizer build.
std::string mask_boundaries(const std::string &text)
{
    static constexpr std::string_view prefix = "=_korvel_";
    const auto hex_run = [&text](std::size_t at) {
        std::size_t end = at;
        while (end < text.size() && std::isxdigit(static_cast<unsigned char>(text[end])) != 0 &&
               std::isupper(static_cast<unsigned char>(text[end])) == 0) {
            ++end;
        }
        return end - at;
    };
    std::string masked;
    masked.reserve(text.size());
    std::size_t from = 0;
    for (std::size_t at = text.find(prefix); at != std::string::npos;
         at = text.find(prefix, at + 1)) {
        const std::size_t stamp = at + prefix.size();
        if (hex_run(stamp) < 16 || stamp + 16 >= text.size() || text[stamp + 16] != '_') {
            continue;
        }
        const std::size_t serial = hex_run(stamp + 17);
        if (serial == 0) {
            continue;
        }
        masked.append(text, from, at - from).append("=_korvel_B");
        from = stamp + 17 + serial;
        at = from - 1;
    }
    return masked.append(text, from);
}

// Every file of an output directory by its path in it, with the multipart
// boundaries masked.
std::map<std::string, std::string> tree_of(const std::string &dir)
{
    std::map<std::string, std::string> files;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(dir)) {
        if (entry.is_regular_file()) {
            files[std::filesystem::relative(entry.path(), dir).string()] =
                mask_boundaries(bytes_of(entry.path().string()));
        }
    }
    return files;
}

// Converts source with one thread and with each of threads: the same trees
// and reports. Returns how many lines the one-thread reports name unreadable.
std::size_t expect_same_conversions(const std::string &source, const std::string &dir,
                                    const std::vector<convert::output_format> &formats,
                                    const std::vector<unsigned> &threads_list)
{
    scan_session session;
    session.scan(source);
    std::size_t unreadable = 0;
    for (auto format : formats) {
        const std::string name = format == convert::output_format::mbox ? "mbox" : "eml";
        convert::save_report one;
        if (save(session, dir + "/one." + name, 1, one, {}, format) != 1) {
            ADD_FAILURE() << one.failure;
            continue;
        }
        const auto one_tree = tree_of(dir + "/one." + name);
        EXPECT_GT(one.items, 0u);
        unreadable += one.unreadable.size();
        for (unsigned threads : threads_list) {
            SCOPED_TRACE(name + " with " + std::to_string(threads) + " threads");
            const std::string copy = dir + "/copy-" + std::to_string(threads) + "." + name;
            convert::save_report many;
            if (save(session, copy, threads, many, {}, format) != 1) {
                ADD_FAILURE() << many.failure;
                continue;
            }
            EXPECT_EQ(many.items, one.items);
            EXPECT_EQ(many.skipped, one.skipped);
            EXPECT_EQ(many.unreadable, one.unreadable);
            EXPECT_EQ(many.notes, one.notes);
            const auto tree = tree_of(copy);
            EXPECT_EQ(tree.size(), one_tree.size());
            for (const auto &[path, bytes] : one_tree) {
                const auto found = tree.find(path);
                EXPECT_TRUE(found != tree.end() && found->second == bytes) << path << " differs";
            }
        }
    }
    return unreadable;
}

} // namespace

TEST(SaveParallel, EnronAndAFortyFolderMailboxComeOutAsOneThreadWritesThem)
{
    expect_same_saves(korvel::testing::sample_path("enron.pst"),
                      korvel::testing::scratch_directory("save_parallel_enron"));
    const std::string dir = korvel::testing::scratch_directory("save_parallel_forty");
    build_forty_folders(dir + "/forty.pst");
    expect_same_saves(dir + "/forty.pst", dir);
}

TEST(SaveParallel, MboxAndEmlComeOutAsOneThreadWritesThem)
{
    const auto mbox = convert::output_format::mbox;
    const auto eml = convert::output_format::eml;
    expect_same_conversions(korvel::testing::sample_path("enron.pst"),
                            korvel::testing::scratch_directory("convert_parallel_enron"), {mbox},
                            {2});
    const std::string dir = korvel::testing::scratch_directory("convert_parallel_forty");
    build_forty_folders(dir + "/forty.pst");
    expect_same_conversions(dir + "/forty.pst", dir, {mbox, eml}, {2, 4});
    // A damaged copy: unreadable items and attachments, contents from the node index.
    std::vector<std::uint8_t> bytes = korvel::testing::read_bytes(dir + "/forty.pst");
    ASSERT_TRUE(korvel::testing::damage_by_name("bit-flips", bytes));
    std::filesystem::create_directories(dir + "/damaged");
    korvel::testing::write_bytes(dir + "/damaged/source.pst", bytes);
    EXPECT_GT(expect_same_conversions(dir + "/damaged/source.pst", dir + "/damaged", {mbox}, {2}),
              0u);
}

TEST(SaveParallel, DamagedCopiesGiveTheSameCopyAndTheSameReport)
{
    const std::string dir = korvel::testing::scratch_directory("save_parallel_damaged");
    build_forty_folders(dir + "/forty.pst");
    const std::vector<std::uint8_t> intact = korvel::testing::read_bytes(dir + "/forty.pst");
    // Unreadable items and attachments, and contents listed from the node index.
    std::size_t unreadable = 0;
    std::size_t notes = 0;
    for (const std::string damage : {"bit-flips", "hole", "contents-tables"}) {
        SCOPED_TRACE(damage);
        const std::string case_dir = dir + "/" + damage;
        std::filesystem::create_directories(case_dir);
        std::vector<std::uint8_t> bytes = intact;
        ASSERT_TRUE(korvel::testing::damage_by_name(damage, bytes));
        korvel::testing::write_bytes(case_dir + "/source.pst", bytes);
        const convert::save_report report = expect_same_saves(case_dir + "/source.pst", case_dir);
        unreadable += report.unreadable.size();
        notes += report.notes.size();
    }
    EXPECT_GT(unreadable, 0u);
    EXPECT_GT(notes, 0u);
}

TEST(SaveParallel, AStopLeavesNothingBehind)
{
    const std::string dir = korvel::testing::scratch_directory("save_parallel_stop");
    build_forty_folders(dir + "/forty.pst");
    scan_session session;
    session.scan(dir + "/forty.pst");
    for (int stop_at : {1, 30, 90}) {
        SCOPED_TRACE("stopped at " + std::to_string(stop_at) + "%");
        convert::save_report report;
        EXPECT_EQ(save(session, dir + "/copy.pst", 4, report,
                       [&](int percent) {
                           if (percent >= stop_at) {
                               session.state.stop_requested = true;
                           }
                       }),
                  0);
        EXPECT_TRUE(report.stopped);
        EXPECT_TRUE(report.failure.empty()) << report.failure;
        session.state.stop_requested = false;
        std::vector<std::string> left;
        for (const auto &entry : std::filesystem::directory_iterator(dir)) {
            left.push_back(entry.path().filename().string());
        }
        EXPECT_EQ(left, std::vector<std::string>{"forty.pst"});
    }
}

// A save whose scan left the free-space search to it (a big file) searches on
// a file of its own beside the walk when it has threads: the same copy and
// report as the search on the scan's file, which it leaves unsearched, and a
// Stop during the walk ends that search too.
TEST(SaveParallel, TheFreeSpaceSearchBesideTheWalkFindsWhatTheScansFileFinds)
{
    const std::string dir = korvel::testing::scratch_directory("save_parallel_free_space");
    const std::string source = dir + "/source.pst";
    ASSERT_TRUE(korvel::testing::write_mailbox_with_recovered_items(source));
    convert::save_report one;
    std::string one_bytes;
    for (unsigned threads : {1u, 2u, 4u}) {
        SCOPED_TRACE(std::to_string(threads) + " threads");
        scan_session session;
        session.state.recovered.search_at_scan_limit = 0;
        ASSERT_EQ(session.scan(source), 1);
        const std::string copy = dir + "/copy-" + std::to_string(threads) + ".pst";
        convert::save_report report;
        ASSERT_EQ(save(session, copy, threads, report), 1) << report.failure;
        // The deleted message, and the two outside any folder.
        EXPECT_EQ(report.recovered, 3u);
        EXPECT_EQ(session.state.recovered.free_space_searched, threads == 1);
        if (threads == 1) {
            one = report;
            one_bytes = bytes_of(copy);
            continue;
        }
        EXPECT_EQ(report.unreadable, one.unreadable);
        EXPECT_EQ(report.notes, one.notes);
        EXPECT_TRUE(bytes_of(copy) == one_bytes) << "the copies differ in their bytes";

        const std::string stopped = dir + "/stopped.pst";
        EXPECT_EQ(save(session, stopped, threads, report,
                       [&](int percent) {
                           if (percent > 0) {
                               session.state.stop_requested = true;
                           }
                       }),
                  0);
        EXPECT_TRUE(report.stopped);
        EXPECT_FALSE(std::filesystem::exists(stopped));
        session.state.stop_requested = false;
    }
}
