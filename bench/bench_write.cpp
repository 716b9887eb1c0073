// Writer benchmark: MB/s of a large mailbox against cp of a same-size file,
// then the big shapes read back through libpff: 100,000 messages in one
// folder and 20,000 folders.  Usage: bench_write [DIR] [ATTACHMENT_MIB]
#include "convert/writer/pst_writer.h"

#include <libpff.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

double seconds_since(std::chrono::steady_clock::time_point t)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

bool check(int r, libpff_error_t **e, const char *what)
{
    if (r != 1) {
        std::fprintf(stderr, "libpff: %s failed\n", what);
        if (*e) {
            libpff_error_backtrace_fprint(*e, stderr);
            libpff_error_free(e);
        }
        return false;
    }
    return true;
}

// Opens the file and counts the messages of root/first folder and the folders below it.
bool read_back(const std::string &path, int expect_messages, int expect_folders)
{
    libpff_error_t *e = nullptr;
    libpff_file_t *f = nullptr;
    libpff_item_t *root = nullptr;
    libpff_item_t *folder = nullptr;
    bool ok = check(libpff_file_initialize(&f, &e), &e, "initialize") &&
              check(libpff_file_open(f, path.c_str(), LIBPFF_OPEN_READ, &e), &e, "open") &&
              check(libpff_file_get_root_folder(f, &root, &e), &e, "root") &&
              check(libpff_folder_get_sub_folder(root, 0, &folder, &e), &e, "folder");
    int messages = -1;
    int folders = -1;
    ok = ok &&
         check(libpff_folder_get_number_of_sub_messages(folder, &messages, &e), &e, "messages") &&
         check(libpff_folder_get_number_of_sub_folders(folder, &folders, &e), &e, "folders");
    if (ok && messages > 0) {
        libpff_item_t *last = nullptr;
        ok = check(libpff_folder_get_sub_message(folder, messages - 1, &last, &e), &e, "message");
        libpff_item_free(&last, nullptr);
    }
    libpff_item_free(&folder, nullptr);
    libpff_item_free(&root, nullptr);
    if (f) {
        libpff_file_close(f, nullptr);
        libpff_file_free(&f, nullptr);
    }
    if (ok && (messages != expect_messages || folders != expect_folders)) {
        std::fprintf(stderr, "read back %d messages, %d folders\n", messages, folders);
        ok = false;
    }
    return ok;
}

// Reads the attachment of the last message of the first folder back through
// libpff and compares it with the pattern it was written from: when the file
// is larger than 4 GiB, that attachment lies beyond the 32-bit offsets.
bool last_attachment_matches(const std::string &path, std::uint32_t seed, std::uint64_t size)
{
    libpff_error_t *e = nullptr;
    libpff_file_t *f = nullptr;
    libpff_item_t *root = nullptr;
    libpff_item_t *folder = nullptr;
    libpff_item_t *message = nullptr;
    libpff_item_t *attachment = nullptr;
    bool ok = check(libpff_file_initialize(&f, &e), &e, "file_initialize") &&
              check(libpff_file_open(f, path.c_str(), LIBPFF_OPEN_READ, &e), &e, "file_open") &&
              check(libpff_file_get_root_folder(f, &root, &e), &e, "root folder") &&
              check(libpff_folder_get_sub_folder(root, 0, &folder, &e), &e, "sub-folder");
    int count = 0;
    ok = ok && check(libpff_folder_get_number_of_sub_messages(folder, &count, &e), &e, "count") &&
         count > 0 &&
         check(libpff_folder_get_sub_message(folder, count - 1, &message, &e), &e, "message") &&
         check(libpff_message_get_attachment(message, 0, &attachment, &e), &e, "attachment");
    size64_t stored = 0;
    ok = ok && check(libpff_attachment_get_data_size(attachment, &stored, &e), &e, "data size") &&
         stored == size;
    std::vector<std::uint8_t> buffer(1u << 20);
    for (std::uint64_t offset = 0; ok && offset < size;) {
        ssize_t n =
            libpff_attachment_data_read_buffer(attachment, buffer.data(), buffer.size(), &e);
        if (n <= 0) {
            check(-1, &e, "data read");
            ok = false;
            break;
        }
        for (ssize_t i = 0; i < n; ++i) {
            if (buffer[static_cast<std::size_t>(i)] !=
                korvel::convert::pattern_byte(seed, offset + static_cast<std::uint64_t>(i))) {
                std::fprintf(stderr, "attachment differs at %llu\n",
                             static_cast<unsigned long long>(offset) +
                                 static_cast<unsigned long long>(i));
                ok = false;
                break;
            }
        }
        offset += static_cast<std::uint64_t>(n);
    }
    libpff_item_free(&attachment, nullptr);
    libpff_item_free(&message, nullptr);
    libpff_item_free(&folder, nullptr);
    libpff_item_free(&root, nullptr);
    if (f != nullptr) {
        libpff_file_close(f, nullptr);
        libpff_file_free(&f, nullptr);
    }
    return ok;
}

} // namespace

int main(int argc, char **argv)
{
    namespace convert = korvel::convert;
    std::string dir = argc > 1 ? argv[1] : "bench-write";
    std::uint64_t mib = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 512;
    std::filesystem::create_directories(dir);

    // 1. Throughput: attachments of 64 MiB each up to the requested size.
    std::string big = dir + "/big.pst";
    auto t0 = std::chrono::steady_clock::now();
    {
        convert::pst_writer w(big);
        convert::property_bag props;
        props.set_unicode(0x3001, std::string_view("Big"));
        std::uint32_t folder = w.add_folder(w.root_folder(), props);
        for (std::uint64_t done = 0, i = 0; done < mib; done += 64, ++i) {
            convert::message m("IPM.Note");
            m.set_unicode(0x0037, "Attachment " + std::to_string(i));
            m.set_long(0x0E07, 1);
            m.add_attachment("part.bin", convert::data_source::pattern(
                                             64u << 20, static_cast<std::uint32_t>(i)));
            w.add_message(folder, m);
        }
        w.finish();
    }
    double write_s = seconds_since(t0);
    double size_mb = static_cast<double>(std::filesystem::file_size(big)) / 1e6;
    std::string copy = dir + "/copy.pst";
    auto t1 = std::chrono::steady_clock::now();
    std::string cmd = "cp '" + big + "' '" + copy + "' && sync";
    if (std::system(cmd.c_str()) != 0) {
        return 1;
    }
    double cp_s = seconds_since(t1);
    std::printf("write: %.0f MB in %.2f s = %.1f MB/s; cp: %.1f MB/s; ratio %.2f\n", size_mb,
                write_s, size_mb / write_s, size_mb / cp_s, cp_s / write_s);
    std::filesystem::remove(copy);
    const std::uint64_t attachments = (mib + 63) / 64;
    const bool last_ok =
        attachments > 0 && last_attachment_matches(big, static_cast<std::uint32_t>(attachments - 1),
                                                   std::uint64_t{64} << 20);
    std::printf("last attachment (file %.0f MB%s) read back %s\n", size_mb,
                size_mb > 4294.967296 ? ", beyond 4 GiB" : "",
                last_ok ? "byte for byte" : "FAILED");

    // 2. 100,000 messages in one folder.
    std::string many = dir + "/messages.pst";
    auto t2 = std::chrono::steady_clock::now();
    {
        convert::pst_writer w(many);
        convert::property_bag props;
        props.set_unicode(0x3001, std::string_view("Many"));
        std::uint32_t folder = w.add_folder(w.root_folder(), props);
        for (int i = 0; i < 100000; ++i) {
            convert::message m("IPM.Note");
            m.set_unicode(0x0037, "Message " + std::to_string(i));
            m.set_long(0x0E07, 1);
            w.add_message(folder, m);
        }
        w.finish();
    }
    std::printf("100,000 messages: written in %.2f s\n", seconds_since(t2));
    auto t3 = std::chrono::steady_clock::now();
    bool ok = read_back(many, 100000, 0);
    std::printf("100,000 messages: read back %s in %.2f s\n", ok ? "ok" : "FAILED",
                seconds_since(t3));

    // 3. 20,000 folders (200 folders of 100 sub-folders each, below one folder).
    std::string folders = dir + "/folders.pst";
    auto t4 = std::chrono::steady_clock::now();
    {
        convert::pst_writer w(folders);
        convert::property_bag props;
        props.set_unicode(0x3001, std::string_view("Folders"));
        std::uint32_t top = w.add_folder(w.root_folder(), props);
        for (int i = 0; i < 200; ++i) {
            convert::property_bag p;
            p.set_unicode(0x3001, "Group " + std::to_string(i));
            std::uint32_t group = w.add_folder(top, p);
            for (int k = 0; k < 99; ++k) {
                convert::property_bag c;
                c.set_unicode(0x3001, "Folder " + std::to_string(k));
                w.add_folder(group, c);
            }
        }
        w.finish();
    }
    std::printf("20,000 folders: written in %.2f s\n", seconds_since(t4));
    bool ok2 = read_back(folders, 0, 200);
    std::printf("20,000 folders: read back %s\n", ok2 ? "ok" : "FAILED");
    return ok && ok2 ? 0 : 1;
}
