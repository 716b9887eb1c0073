// Save benchmark: MB/s of saving a large writer-made mailbox into a new PST
// with 1, 2 and 4 threads, against cp of the same file and readpst on it,
// three rounds in alternation with medians compared, and the save's peak
// memory (maximum resident set of the process that saves).
// Usage: bench_save [DIR] [MB] [OTHER_BENCH_SAVE]   (default: build-bench/data, 1000 MB)
// OTHER_BENCH_SAVE, the bench_save of a build against the other libpff, saves
// the same file in the same run (bench_save --save-only SOURCE TARGET [THREADS]): the
// difference is our libpff patches' (checksums, decryption, the free-space search).
#include "bench/alternate.h"
#include "convert/save/save.h"
#include "convert/writer/pst_writer.h"
#include "scan/scan_state.h"
#include "scan/source_file.h"
#include "scan/text.h"

#include <libpff.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

namespace convert = korvel::convert;

double seconds_since(std::chrono::steady_clock::time_point t)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

// About mb megabytes of mail: 20 folders of e-mails with bodies, recipients
// and one attachment each (one in fifty a large one).
void build(const std::string &path, std::uint64_t mb)
{
    convert::pst_writer w(path);
    std::uint32_t top = w.add_top_of_personal_folders();
    const std::uint64_t per_message = 110 * 1024;
    const std::uint64_t messages = mb * 1000 * 1000 / per_message;
    std::vector<std::uint32_t> folders;
    for (int i = 0; i < 20; ++i) {
        convert::property_bag props;
        props.set_unicode(0x3001, "Folder " + std::to_string(i + 1));
        props.set_unicode(0x3613, "IPF.Note");
        folders.push_back(w.add_folder(top, props));
    }
    const std::string body(2000, 'b');
    const std::string html = "<html><body><p>" + std::string(3000, 'h') + "</p></body></html>";
    for (std::uint64_t n = 0; n < messages; ++n) {
        convert::message m("IPM.Note");
        m.set_unicode(0x0037, "Message " + std::to_string(n));
        m.set_long(0x0E07, 1);
        m.set_systime(0x0E06, convert::filetime_from_unix(1300000000 + static_cast<long>(n)));
        m.set_unicode(0x0C1A, "Ann Smith");
        m.set_unicode(convert::named(convert::psets::common, 0x8520), "x");
        m.set_body(body);
        m.set_html(html);
        m.add_recipient(1, "Bob", "bob@example.com");
        m.add_recipient(2, "Carol", "carol@example.com");
        std::uint64_t size = n % 50 == 49 ? 2 * 1024 * 1024 : 60 * 1024;
        m.add_attachment("file.bin",
                         convert::data_source::pattern(size, static_cast<std::uint32_t>(n)));
        w.add_message(folders[n % folders.size()], m);
    }
    w.finish();
}

// Opens source and saves it into target (in the child the caller forked)
// with threads threads (0: the save's default). The caller removes target
// after its timing, as cp's copy is: unlinking a gigabyte file whose pages
// are still cached took 0.34-0.37 s, no part of a save.
bool save(const std::string &source, const std::string &target, unsigned threads = 0)
{
    korvel::scan_state state;
    state.mailbox_path = korvel::u16(source);
    libpff_error_t *error = nullptr;
    if (libpff_file_initialize(&state.file, &error) != 1 ||
        korvel::source_io_initialize(source, &state.source_io) != 1 ||
        libpff_file_open_file_io_handle(state.file, state.source_io, LIBPFF_OPEN_READ, &error) != 1) {
        std::fprintf(stderr, "cannot open %s\n", source.c_str());
        return false;
    }
    convert::save_request request;
    request.target = target;
    request.threads = threads;
    convert::save_report report;
    if (convert::save_mailbox(&state, request, {}, report) != 1) {
        std::fprintf(stderr, "save failed: %s\n", report.failure.c_str());
        return false;
    }
    return true;
}

} // namespace

const char *libpff_build()
{
#if defined(KORVEL_BUNDLED_LIBPFF)
    return "our patched libpff";
#else
    return "the system's libpff";
#endif
}

int main(int argc, char **argv)
{
    if ((argc == 4 || argc == 5) && std::string(argv[1]) == "--save-only") {
        const unsigned threads =
            argc == 5 ? static_cast<unsigned>(std::strtoul(argv[4], nullptr, 10)) : 0;
        const korvel::bench::run_time t =
            korvel::bench::time_in_child([&] { return save(argv[2], argv[3], threads); });
        std::filesystem::remove(argv[3]);
        std::printf("save with %s: %.2f s\n", libpff_build(), t.wall);
        return t.wall > 0 ? 0 : 1;
    }
    std::string dir = argc > 1 ? argv[1] : "build-bench/data";
    std::uint64_t mb = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1000;
    std::filesystem::create_directories(dir);
    const std::string source = dir + "/save-source.pst";
    const std::string target = dir + "/save-copy.pst";
    const std::string cp_target = dir + "/save-cp.pst";
    const std::string readpst_dir = dir + "/save-readpst";

    if (!std::filesystem::exists(source)) {
        auto t = std::chrono::steady_clock::now();
        build(source, mb);
        std::printf("built %s in %.1f s\n", source.c_str(), seconds_since(t));
    }
    const double size_mb = static_cast<double>(std::filesystem::file_size(source)) / 1e6;
    std::filesystem::remove(target);
    std::filesystem::remove(cp_target);
    std::filesystem::remove_all(readpst_dir);

    // Every contender's time ends with a sync, so that none leaves its writes
    // to be flushed during the next one's run (a gigabyte of dirty pages after
    // a save made readpst's runs up to three times slower).
    // cp first in every round; readpst in one process (-j 0), as ours: its
    // parallel jobs now and then drop a message, so their output (and time)
    // is not the whole job.
    std::vector<korvel::bench::contender> contenders;
    contenders.push_back({"cp", [&] {
                              auto t = korvel::bench::time_command("cp '" + source + "' '" +
                                                                   cp_target + "' && sync");
                              std::filesystem::remove(cp_target);
                              return t;
                          }});
    // The save with one thread (as it always ran), two and four.
    for (unsigned threads : {1u, 2u, 4u}) {
        contenders.push_back({"save/" + std::to_string(threads), [&, threads] {
                                  const korvel::bench::run_time t =
                                      korvel::bench::time_in_child([&] {
                                          const bool saved = save(source, target, threads);
                                          ::sync();
                                          return saved;
                                      });
                                  std::filesystem::remove(target);
                                  return t;
                              }});
    }
    contenders.push_back({"readpst", [&] {
                              std::filesystem::create_directories(readpst_dir);
                              auto t = korvel::bench::time_command("readpst -j 0 -q -D -S -o '" +
                                                                   readpst_dir + "' '" + source +
                                                                   "' > /dev/null && sync");
                              std::filesystem::remove_all(readpst_dir);
                              return t;
                          }});
    std::printf("mailbox %.0f MB, three rounds of cp, save with 1, 2 and 4 threads (%s), "
                "readpst\n",
                size_mb, libpff_build());
    if (!korvel::bench::alternate(contenders, 3)) {
        return 1;
    }
    const korvel::bench::contender &cp = contenders[0];
    const korvel::bench::contender &readpst = contenders.back();
    std::printf("medians of three:\n");
    for (const korvel::bench::contender &c : contenders) {
        std::printf("  %-8s %8.2f s wall = %7.1f MB/s   %8.2f s CPU   %5.0f MB peak   "
                    "readpst/this %.2f wall, %.2f CPU\n",
                    c.name.c_str(), c.wall(), size_mb / c.wall(), c.cpu(), c.peak_mb(),
                    readpst.wall() / c.wall(), readpst.cpu() / c.cpu());
    }
    // The goals are the default's: as many threads as cores, at most four.
    const unsigned cores = convert::default_save_threads();
    const korvel::bench::contender &ours = contenders[cores >= 4 ? 3 : cores >= 2 ? 2 : 1];
    std::printf("save peak memory %.0f MB (goal < 200)\n", ours.peak_mb());
    if (argc > 3) {
        // The other build, same file, same run, just after ours.
        std::fflush(stdout);
        const double other_s =
            korvel::bench::time_command("'" + std::string(argv[3]) + "' --save-only '" + source +
                                        "' '" + target + ".other'")
                .wall;
        if (other_s > 0) {
            std::printf("other build's whole run %.2f s (ours %.2f of it)\n", other_s,
                        ours.wall() / other_s);
        }
    }
    const double of_cp = cp.wall() / ours.wall();
    const double of_readpst = readpst.wall() / ours.wall();
    std::printf("%s at %.2f of cp's speed (goal >= 0.33)\n", ours.name.c_str(), of_cp);
    std::printf("%s %.2fx as fast as readpst, wall (goal >= 1); %.2fx by CPU time\n",
                ours.name.c_str(), of_readpst, readpst.cpu() / ours.cpu());
    bool ok = of_cp >= 1.0 / 3.0 && of_readpst >= 1 && ours.peak_mb() < 200;
    std::printf("%s\n", ok ? "all goals met" : "GOAL MISSED");
    return ok ? 0 : 1;
}
