// Where a save may write: never the source, never an existing file unasked,
// nothing left behind after a Stop or a failure of the output.
#include "convert/save/save.h"
#include "tests/convert/pff_read.h"
#include "tests/support/pst_builder.h"
#include "tests/support/samples.h"
#include "tests/support/scan_session.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

using korvel::testing::scan_session;
namespace convert = korvel::convert;
namespace fs = std::filesystem;

namespace {

std::string read_all(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> entries(const std::string &dir)
{
    std::vector<std::string> out;
    for (const auto &e : fs::directory_iterator(dir)) {
        out.push_back(e.path().filename().string());
    }
    std::sort(out.begin(), out.end());
    return out;
}

// A scanned copy of the sample mailbox in its own directory.
struct fixture
{
    std::string dir;
    std::string source;
    scan_session session;
    explicit fixture(const std::string &name)
        : dir(korvel::testing::scratch_directory("save_target_" + name)),
          source(dir + "/mailbox.pst")
    {
        fs::copy_file(korvel::testing::sample_path("enron.pst"), source);
        session.scan(source);
    }
    int save(const std::string &target, convert::save_report &report, bool replace = false,
             const std::function<void(int)> &progress = {})
    {
        convert::save_request request;
        request.target = target;
        request.replace_existing = replace;
        return convert::save_mailbox(&session.state, request, progress, report);
    }
};

} // namespace

TEST(SaveTarget, TheSourceIsRefusedAlsoThroughLinks)
{
    fixture f("source");
    const std::string before = read_all(f.source);
    fs::create_symlink(f.source, f.dir + "/symlink.pst");
    fs::create_hard_link(f.source, f.dir + "/hardlink.pst");
    fs::create_directory(f.dir + "/sub");
    fs::create_directory_symlink(f.dir, f.dir + "/sub/up");
    for (const std::string &target :
         {f.source, f.dir + "/symlink.pst", f.dir + "/hardlink.pst", f.dir + "/sub/up/mailbox.pst",
          f.dir + "/sub/../mailbox.pst"}) {
        SCOPED_TRACE(target);
        EXPECT_EQ(convert::check_save_target(f.source, target), convert::target_check::is_source);
        convert::save_report report;
        EXPECT_EQ(f.save(target, report, true), -1);
        EXPECT_FALSE(report.failure.empty());
    }
    EXPECT_EQ(read_all(f.source), before);
    EXPECT_EQ(entries(f.dir),
              (std::vector<std::string>{"hardlink.pst", "mailbox.pst", "sub", "symlink.pst"}));
}

TEST(SaveTarget, AnExistingTargetIsReplacedOnlyWhenAsked)
{
    fixture f("existing");
    const std::string target = f.dir + "/copy.pst";
    {
        std::ofstream(target) << "keep me";
    }
    EXPECT_EQ(convert::check_save_target(f.source, target), convert::target_check::exists);
    convert::save_report report;
    EXPECT_EQ(f.save(target, report), -1);
    EXPECT_NE(report.failure.find("already exists"), std::string::npos) << report.failure;
    EXPECT_EQ(read_all(target), "keep me");
    EXPECT_EQ(entries(f.dir), (std::vector<std::string>{"copy.pst", "mailbox.pst"}));

    ASSERT_EQ(f.save(target, report, true), 1) << report.failure;
    korvel::testing::pff::file copy(target);
    EXPECT_TRUE(copy.opened);
    EXPECT_EQ(entries(f.dir), (std::vector<std::string>{"copy.pst", "mailbox.pst"}));

    // A dangling link is something there too.
    fs::create_symlink(f.dir + "/nowhere", f.dir + "/dangling.pst");
    EXPECT_EQ(convert::check_save_target(f.source, f.dir + "/dangling.pst"),
              convert::target_check::exists);
    EXPECT_EQ(convert::check_save_target(f.source, f.dir + "/missing/copy.pst"),
              convert::target_check::no_directory);
    EXPECT_EQ(convert::check_save_target(f.source, f.dir + "/new.pst"), convert::target_check::ok);
}

TEST(SaveTarget, AStoppedSaveLeavesNothing)
{
    fixture f("stop");
    const std::string target = f.dir + "/copy.pst";
    convert::save_report report;
    // Stopped once the writing is under way.
    int calls = 0;
    EXPECT_EQ(f.save(target, report, false,
                     [&](int percent) {
                         ++calls;
                         if (percent >= 30) {
                             f.session.state.stop_requested = true;
                         }
                     }),
              0);
    EXPECT_TRUE(report.stopped);
    EXPECT_TRUE(report.failure.empty());
    EXPECT_GT(calls, 1);
    EXPECT_EQ(entries(f.dir), (std::vector<std::string>{"mailbox.pst"}));
    // Stopped before it starts.
    EXPECT_EQ(f.save(target, report), 0);
    EXPECT_EQ(entries(f.dir), (std::vector<std::string>{"mailbox.pst"}));
    f.session.state.stop_requested = false;
    EXPECT_EQ(f.save(target, report), 1);
}

TEST(SaveTarget, AStopDuringABigAttachmentEndsItPartWay)
{
    std::string dir = korvel::testing::scratch_directory("save_target_stop_big");
    korvel::testing::pst_builder b;
    auto &m = b.root().add_folder(u8"Big").add_message("IPM.Note");
    m.add_attachment("big.bin", convert::data_source::pattern(48u << 20, 1));
    b.write(dir + "/source.pst");
    scan_session session;
    session.scan(dir + "/source.pst");
    convert::save_request request;
    request.target = dir + "/copy.pst";
    convert::save_report report;
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        session.state.stop_requested = true;
    });
    int r = convert::save_mailbox(&session.state, request, {}, report);
    stopper.join();
    EXPECT_EQ(r, 0);
    EXPECT_TRUE(report.stopped);
    EXPECT_TRUE(report.unreadable.empty());
    EXPECT_EQ(report.items, 0u);
    EXPECT_EQ(entries(dir), (std::vector<std::string>{"source.pst"}));
}

TEST(SaveTarget, AnOutputThatCannotBeWrittenEndsTheSaveWithItsCause)
{
    fixture f("unwritable");
    convert::save_report report;
    // A directory nobody may write in (root may write almost anywhere).
    std::string locked = "/sys";
    if (::geteuid() != 0) {
        locked = f.dir + "/locked";
        fs::create_directory(locked);
        fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
    }
    EXPECT_EQ(f.save(locked + "/copy.pst", report), -1);
    EXPECT_TRUE(report.failure.find(std::strerror(EACCES)) != std::string::npos ||
                report.failure.find(std::strerror(EROFS)) != std::string::npos)
        << report.failure;

    // The disk fills up half-way: the cause is named and nothing is left.
    struct rlimit old_limit;
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old_limit), 0);
    struct rlimit small = old_limit;
    small.rlim_cur = 2 * 1024 * 1024;
    auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    int r = f.save(f.dir + "/copy.pst", report);
    ::setrlimit(RLIMIT_FSIZE, &old_limit);
    std::signal(SIGXFSZ, old_handler);
    EXPECT_EQ(r, -1);
    EXPECT_NE(report.failure.find(std::strerror(EFBIG)), std::string::npos) << report.failure;
    EXPECT_EQ(entries(f.dir), (std::vector<std::string>{"mailbox.pst"}));
}

TEST(SaveTarget, DefaultNameBesideTheSource)
{
    EXPECT_EQ(convert::default_save_target("/m/Outlook.pst", convert::output_format::pst),
              "/m/Outlook-repaired.pst");
    EXPECT_EQ(convert::default_save_target("/m/OLD.PST", convert::output_format::pst),
              "/m/OLD-repaired.PST");
    EXPECT_EQ(convert::default_save_target("/m/a.b/box", convert::output_format::pst),
              "/m/a.b/box-repaired.pst");
    EXPECT_EQ(convert::default_save_target("box.pst", convert::output_format::mbox),
              "box-repaired.mbox");
}
