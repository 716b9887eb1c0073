// Listing a big folder, against libpff alone and against the open-source
// readers, all on the same file in one run:
//
//   bench_list MAILBOX.pst TREE/PATH [ROUNDS] [SCRATCH_DIR]
//
// Prints, in seconds: libpff's open alone, our scan (open and folder walk),
// the bare per-index libpff loop, our fill (records and rows through views
// that only count), readpst and `pffexport -m items` (whole runs, when they
// are installed and a scratch directory is given; each bounded by
// BENCH_READER_TIMEOUT seconds), the ratios fill/bare loop (target: at most
// 0.4 at 100,000 messages) and fill/readpst, the page faults of the first
// fill (memory touched for the first time) and the record memory per listed
// item. Last, every figure per listed message (microseconds), which stays
// flat from size to size while the code is linear. Build it against either
// libpff (KORVEL_SYSTEM_LIBPFF) and run both on one file to compare them;
// the first line names the build. When the open takes a while, also how
// soon it returns after a Stop (libpff_file_signal_abort) 0.1 s into it.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <malloc.h>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <vector>

#include <libpff.h>

#include "bench/bare_libpff.h"
#include "bench/counting_views.h"
#include "scan/scan_state.h"
#include "scan/text.h"

namespace {

using namespace korvel;

using steady = std::chrono::steady_clock;

// Page faults of this process so far: a first fill's fresh memory is touched
// page by page, which its instruction count does not show.
long page_faults()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt + usage.ru_majflt;
}

double seconds_since(steady::time_point start)
{
    return std::chrono::duration<double>(steady::now() - start).count();
}

// libpff's open alone (and its close), timed.
double open_alone(const char *path)
{
    const auto start = steady::now();
    libpff_file_t *file = nullptr;
    if (libpff_file_initialize(&file, nullptr) != 1) {
        return -1;
    }
    libpff_file_set_ascii_codepage(file, LIBPFF_CODEPAGE_WINDOWS_1252, nullptr);
    const bool opened = libpff_file_open(file, path, LIBPFF_OPEN_READ, nullptr) == 1;
    if (opened) {
        libpff_file_close(file, nullptr);
    }
    libpff_file_free(&file, nullptr);
    return opened ? seconds_since(start) : -1;
}

// Stop during the open: libpff_file_signal_abort from another thread a
// moment after the open began. Returns the seconds from the signal to the
// open's return (-1 when the open had ended before the signal).
double stopped_open(const char *path, double after_seconds)
{
    libpff_file_t *file = nullptr;
    if (libpff_file_initialize(&file, nullptr) != 1) {
        return -1;
    }
    steady::time_point signalled{};
    std::atomic<bool> sent{false};
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::duration<double>(after_seconds));
        signalled = steady::now();
        sent = true;
        libpff_file_signal_abort(file, nullptr);
    });
    libpff_error_t *error = nullptr;
    const int opened = libpff_file_open(file, path, LIBPFF_OPEN_READ, &error);
    const auto returned = steady::now();
    stopper.join();
    libpff_error_free(&error);
    if (opened == 1) {
        libpff_file_close(file, nullptr);
    }
    libpff_file_free(&file, nullptr);
    if (!sent || returned < signalled) {
        return -1;
    }
    return std::chrono::duration<double>(returned - signalled).count();
}

// A whole run of an outside reader, timed; -1 when it is missing or fails.
double reader_run(const std::string &command)
{
    const auto start = steady::now();
    if (std::system(command.c_str()) != 0) {
        return -1;
    }
    return seconds_since(start);
}

std::string quoted(const std::string &text)
{
    std::string out = "'";
    for (char c : text) {
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return out + "'";
}

// Printed as soon as measured: the slow readers come last.
void print_figure(const char *what, double seconds)
{
    if (seconds < 0) {
        std::printf("%-28s (not run, failed or timed out)\n", what);
    } else {
        std::printf("%-28s %9.3f s\n", what, seconds);
    }
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_list MAILBOX.pst TREE/PATH [ROUNDS] [SCRATCH_DIR]\n");
        return 2;
    }
    const int rounds = argc > 3 ? std::atoi(argv[3]) : 3;
    const std::string scratch = argc > 4 ? argv[4] : std::string();

#if defined(KORVEL_BUNDLED_LIBPFF)
    std::printf("libpff: our patched build\n");
#else
    std::printf("libpff: the system's\n");
#endif
    std::fflush(stdout);
    const double open_seconds = open_alone(argv[1]);
    print_figure("libpff open alone", open_seconds);
    if (open_seconds > 0.2) {
        print_figure("open's return after Stop", stopped_open(argv[1], 0.1));
    }

    bench::counting_views views;
    scan_state state;
    state.views = &views;
    state.mailbox_path = u16(argv[1]);
    views.root = 1;
    views.items.emplace_back(0, state.mailbox_path);
    const auto scan_start = steady::now();
    if (scan_driver_run(&state) != 1) {
        return 1;
    }
    const double scan_seconds = seconds_since(scan_start);
    print_figure("our scan (open + walk)", scan_seconds);
    const tree_item item = views.find(u16(argv[2]));
    const folder_node *node = state.folders.head;
    while (node != nullptr && node->item != item) {
        node = node->next;
    }
    if (node == nullptr) {
        std::fprintf(stderr, "no folder %s\n", argv[2]);
        return 1;
    }

    // The first fill, right after the scan as in the window, before any loop
    // has warmed libpff's caches of this file: what readpst's whole run is
    // compared with.
    const long faults_before = page_faults();
    const auto first_start = steady::now();
    folder_fill(&state, item);
    const double first_fill = seconds_since(first_start);
    const long first_faults = page_faults() - faults_before;

    double best_bare = 1e30;
    double best_fill = 1e30;
    std::size_t messages = 0;
    std::size_t record_bytes = 0;
    for (int round = 0; round < rounds; ++round) {
        messages = 0;
        const auto bare_start = steady::now();
        korvel::bench::bare_list(node->folder_item, messages);
        const double bare = seconds_since(bare_start);
        best_bare = bare < best_bare ? bare : best_bare;

        item_record_list_free(&state.records);
        const std::size_t before = mallinfo2().uordblks;
        const auto fill_start = steady::now();
        folder_fill(&state, item);
        const double fill = seconds_since(fill_start);
        best_fill = fill < best_fill ? fill : best_fill;
        record_bytes = mallinfo2().uordblks - before;
    }

    std::printf("messages %zu, rows %zu\n", messages, views.rows);
    print_figure("bare per-index loop", best_bare);
    print_figure("our first fill", first_fill);
    std::printf("first fill page faults %ld (%.2f a message)\n", first_faults,
                views.rows > 0
                    ? static_cast<double>(first_faults) / static_cast<double>(views.rows)
                    : 0.0);
    print_figure("our fill", best_fill);
    std::printf("fill / bare loop %.3f (target <= 0.4 at 100,000)\n", best_fill / best_bare);
    if (views.rows > 0) {
        std::printf("record memory %.0f bytes per item\n",
                    static_cast<double>(record_bytes) / static_cast<double>(views.rows));
    }
    std::fflush(stdout);
    const double per = messages > 0 ? 1e6 / static_cast<double>(messages) : 0;
    std::printf("per message (us): open %.2f, scan %.2f, bare loop %.2f, fill %.2f\n",
                open_seconds * per, scan_seconds * per, best_bare * per, best_fill * per);
    std::fflush(stdout);

    if (!scratch.empty()) {
        // Whole runs, bounded: pffexport at 100,000 messages can take most of
        // an hour on a busy machine.
        const char *limit = std::getenv("BENCH_READER_TIMEOUT");
        const std::string bounded =
            "timeout " + std::string(limit != nullptr ? limit : "3600") + " ";
        const std::string file = quoted(argv[1]);
        const std::string out = quoted(scratch + "/readpst");
        // One process (-j 0), as ours: readpst's parallel jobs now and then drop a
        // message, so their output (and time) is not the whole job.
        const double readpst_seconds =
            reader_run("rm -rf " + out + " && mkdir -p " + out + " && " + bounded +
                       "readpst -j 0 -q -o " + out + " " + file + " >/dev/null 2>&1");
        print_figure("readpst, whole run", readpst_seconds);
        if (readpst_seconds > 0) {
            std::printf("first fill / readpst %.3f; readpst %.2f us per message\n",
                        first_fill / readpst_seconds, readpst_seconds * per);
        }
        const std::string target = quoted(scratch + "/pffexport");
        print_figure("pffexport -m items, whole",
                     reader_run("rm -rf " + quoted(scratch + "/pffexport.export") + " && " +
                                bounded + "pffexport -q -m items -t " + target + " " + file +
                                " >/dev/null 2>&1"));
    }
    return 0;
}
