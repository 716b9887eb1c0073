// Mail conversion benchmark: messages per second of our mbox conversion
// against readpst on the same mailbox, three rounds in alternation, medians
// compared.
//   bench_convert MAILBOX.pst WORKDIR
// One conversion alone, for a profiler on a single run:
//   bench_convert --convert-only MAILBOX.pst OUT.mbox THREADS
// Our side is the save into mbox with 1, 2 and 4 threads, and into EML with
// one; readpst writes its
// own recursive mbox layout (-r) of the same file.
#include "bench/alternate.h"
#include "convert/save/save.h"
#include "scan/scan_state.h"
#include "scan/source_file.h"
#include "scan/text.h"

#include <libpff.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace convert = korvel::convert;

struct counts
{
    std::size_t written = 0;
    std::size_t left_out = 0;
    std::size_t failed = 0;
};

// The real save into mbox (in the child the caller forked) with threads
// threads, the scan's open left out (made as the scan makes it).
bool convert_mbox(const std::string &pst, const std::string &out, unsigned threads, counts &c,
                  convert::output_format format = convert::output_format::mbox)
{
    korvel::scan_state state;
    state.mailbox_path = korvel::u16(pst);
    libpff_error_t *error = nullptr;
    if (libpff_file_initialize(&state.file, &error) != 1 ||
        libpff_file_set_ascii_codepage(state.file, LIBPFF_CODEPAGE_WINDOWS_1252, &error) != 1 ||
        korvel::source_io_initialize(pst, &state.source_io) != 1 ||
        libpff_file_open_file_io_handle(state.file, state.source_io, LIBPFF_OPEN_READ, &error) != 1) {
        std::fprintf(stderr, "cannot open %s\n", pst.c_str());
        libpff_error_free(&error);
        return false;
    }
    convert::save_request request;
    request.target = out;
    request.format = format;
    request.threads = threads;
    convert::save_report report;
    if (convert::save_mailbox(&state, request, {}, report) != 1) {
        std::fprintf(stderr, "the conversion failed: %s\n", report.failure.c_str());
        return false;
    }
    c.written = report.items + report.recovered;
    c.left_out = report.skipped;
    c.failed = report.unreadable.size();
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 5 && std::string(argv[1]) == "--convert-only") {
        counts c;
        const auto threads = static_cast<unsigned>(std::strtoul(argv[4], nullptr, 10));
        return convert_mbox(argv[2], argv[3], threads, c) ? 0 : 1;
    }
    if (argc != 3) {
        std::fprintf(stderr, "usage: bench_convert MAILBOX.pst WORKDIR\n");
        return 2;
    }
    const std::string pst = argv[1];
    const std::filesystem::path work = argv[2];
    std::filesystem::create_directories(work);
    const std::string ours = (work / "ours.mbox").string();
    const std::string theirs = (work / "readpst").string();
    std::filesystem::remove_all(ours);
    std::filesystem::remove_all(theirs);

    // The message count, once, outside the timed runs.
    counts c;
    if (!convert_mbox(pst, ours, 1, c)) {
        std::fprintf(stderr, "the conversion failed\n");
        return 1;
    }
    std::filesystem::remove_all(ours);

    std::vector<korvel::bench::contender> contenders;
    for (unsigned threads : {1u, 2u, 4u}) {
        contenders.push_back({"ours/" + std::to_string(threads), [&, threads] {
                                  auto t = korvel::bench::time_in_child([&] {
                                      counts run;
                                      return convert_mbox(pst, ours, threads, run);
                                  });
                                  std::filesystem::remove_all(ours);
                                  return t;
                              }});
    }
    // The same save into EML files: one file per message instead of one
    // stream per folder.
    const std::string eml = (work / "ours.eml").string();
    std::filesystem::remove_all(eml);
    contenders.push_back({"ours EML/1", [&] {
                              auto t = korvel::bench::time_in_child([&] {
                                  counts run;
                                  return convert_mbox(pst, eml, 1, run, convert::output_format::eml);
                              });
                              std::filesystem::remove_all(eml);
                              return t;
                          }});
    // One process (-j 0), as ours: readpst's parallel jobs now and then drop a
    // message, so their output (and time) is not the whole job.
    contenders.push_back({"readpst", [&] {
                              std::filesystem::create_directories(theirs);
                              auto t =
                                  korvel::bench::time_command("readpst -j 0 -q -r -o '" + theirs +
                                                              "' '" + pst + "' > /dev/null");
                              std::filesystem::remove_all(theirs);
                              return t;
                          }});
    std::printf("mbox conversion: %zu messages (%zu left out, %zu unreadable), three rounds\n",
                c.written, c.left_out, c.failed);
    if (!korvel::bench::alternate(contenders, 3)) {
        std::fprintf(stderr, "a run failed\n");
        return 1;
    }
    // Wall time counts when the machine is idle; on a shared machine the CPU
    // time (user + system) is the fairer comparison, so both are printed.
    const double messages = static_cast<double>(c.written);
    std::printf("medians of three:\n");
    for (const korvel::bench::contender &k : contenders) {
        std::printf("  %-10s %8.2f s wall %8.0f messages/s   %8.2f s CPU %8.0f messages/s\n",
                    k.name.c_str(), k.wall(), messages / k.wall(), k.cpu(), messages / k.cpu());
    }
    const korvel::bench::contender &readpst = contenders.back();
    for (std::size_t i = 0; i + 1 < contenders.size(); ++i) {
        std::printf("  %s against readpst: %.2fx wall, %.2fx CPU (goal: at least 1)\n",
                    contenders[i].name.c_str(), readpst.wall() / contenders[i].wall(),
                    readpst.cpu() / contenders[i].cpu());
    }
    return 0;
}
