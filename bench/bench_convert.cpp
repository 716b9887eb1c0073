// Mail conversion benchmark: messages per second of our mbox conversion
// against readpst on the same mailbox, three rounds in alternation, medians
// compared.
//   bench_convert MAILBOX.pst WORKDIR
// Our side walks the folders as the save does (root's sub-folders down, each
// folder's messages, then its sub-folders) into the mbox sink; readpst writes
// its own recursive mbox layout (-r) of the same file.
#include "bench/alternate.h"
#include "convert/mail/mail_sink.h"

#include <libpff.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>


namespace {

using korvel::convert::mailbox_sink;
using korvel::convert::sink_error;
using korvel::convert::sink_folder;

struct counts
{
    long written = 0;
    long left_out = 0;
    long failed = 0;
};

std::string folder_name(libpff_item_t *folder)
{
    std::size_t size = 0;
    if (libpff_folder_get_utf8_name_size(folder, &size, nullptr) != 1 || size == 0) {
        return {};
    }
    std::string name(size, '\0');
    if (libpff_folder_get_utf8_name(folder, reinterpret_cast<std::uint8_t *>(name.data()), size,
                                    nullptr) != 1) {
        return {};
    }
    name.resize(size - 1);
    return name;
}

bool walk(libpff_item_t *folder, std::vector<std::string> path, mailbox_sink &sink, counts &c)
{
    sink_error error;
    if (sink.begin_folder(sink_folder{path, {}, folder}, error) != 1) {
        std::fprintf(stderr, "begin_folder: %s\n", error.message.c_str());
        return false;
    }
    int messages = 0;
    libpff_folder_get_number_of_sub_messages(folder, &messages, nullptr);
    for (int i = 0; i < messages; ++i) {
        libpff_item_t *message = nullptr;
        if (libpff_folder_get_sub_message(folder, i, &message, nullptr) != 1) {
            ++c.failed;
            continue;
        }
        sink_error e;
        int r = sink.add_message(message, false, e);
        libpff_item_free(&message, nullptr);
        if (r == -1 && e.fatal) {
            std::fprintf(stderr, "add_message: %s\n", e.message.c_str());
            return false;
        }
        (r == 1 ? c.written : r == 0 ? c.left_out : c.failed)++;
    }
    int folders = 0;
    libpff_folder_get_number_of_sub_folders(folder, &folders, nullptr);
    for (int i = 0; i < folders; ++i) {
        libpff_item_t *sub = nullptr;
        if (libpff_folder_get_sub_folder(folder, i, &sub, nullptr) != 1) {
            continue;
        }
        std::vector<std::string> sub_path = path;
        sub_path.push_back(folder_name(sub));
        bool ok = walk(sub, sub_path, sink, c);
        libpff_item_free(&sub, nullptr);
        if (!ok) {
            return false;
        }
    }
    return sink.end_folder(error) == 1;
}

bool convert_mbox(const std::string &pst, const std::string &out, counts &c)
{
    libpff_file_t *file = nullptr;
    libpff_item_t *root = nullptr;
    bool ok = libpff_file_initialize(&file, nullptr) == 1 &&
              libpff_file_open(file, pst.c_str(), LIBPFF_OPEN_READ, nullptr) == 1 &&
              libpff_file_get_root_folder(file, &root, nullptr) == 1;
    auto sink = korvel::convert::make_mbox_sink();
    sink_error error;
    ok = ok && sink->open(out, error) == 1;
    int folders = 0;
    if (ok) {
        libpff_folder_get_number_of_sub_folders(root, &folders, nullptr);
    }
    for (int i = 0; ok && i < folders; ++i) {
        libpff_item_t *sub = nullptr;
        if (libpff_folder_get_sub_folder(root, i, &sub, nullptr) != 1) {
            continue;
        }
        ok = walk(sub, {folder_name(sub)}, *sink, c);
        libpff_item_free(&sub, nullptr);
    }
    ok = ok && sink->close(error) == 1;
    if (!ok) {
        sink->abandon();
    }
    libpff_item_free(&root, nullptr);
    if (file != nullptr) {
        libpff_file_close(file, nullptr);
        libpff_file_free(&file, nullptr);
    }
    return ok;
}

} // namespace

int main(int argc, char **argv)
{
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
    if (!convert_mbox(pst, ours, c)) {
        std::fprintf(stderr, "the conversion failed\n");
        return 1;
    }
    std::filesystem::remove_all(ours);

    std::vector<korvel::bench::contender> contenders;
    contenders.push_back({"ours", [&] {
                              auto t = korvel::bench::time_in_child([&] {
                                  counts run;
                                  return convert_mbox(pst, ours, run);
                              });
                              std::filesystem::remove_all(ours);
                              return t;
                          }});
    // One process (-j 0), as ours: readpst's parallel jobs now and then drop a
    // message, so their output (and time) is not the whole job.
    contenders.push_back({"readpst", [&] {
                              std::filesystem::create_directories(theirs);
                              auto t = korvel::bench::time_command("readpst -j 0 -q -r -o '" +
                                                                   theirs + "' '" + pst +
                                                                   "' > /dev/null");
                              std::filesystem::remove_all(theirs);
                              return t;
                          }});
    std::printf("mbox conversion: %ld messages (%ld left out, %ld failed), three rounds\n",
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
        std::printf("  %-8s %8.2f s wall %8.0f messages/s   %8.2f s CPU %8.0f messages/s\n",
                    k.name.c_str(), k.wall(), messages / k.wall(), k.cpu(), messages / k.cpu());
    }
    std::printf("  ours / readpst: %.2fx wall, %.2fx CPU (goal: at least 1)\n",
                contenders[1].wall() / contenders[0].wall(),
                contenders[1].cpu() / contenders[0].cpu());
    return 0;
}
