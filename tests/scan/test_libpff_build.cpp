// The libpff the engine runs on: which copy is loaded, and what our patches
// to it change (Stop reaching into an open). That it reads every mailbox as
// the system's does is script.compare_libpff_builds.
#include <dlfcn.h>
#include <link.h>

#include <string>

#include <gtest/gtest.h>
#include <libpff.h>

#include "scan/scan_state.h"
#include "scan/text.h"
#include "tests/support/pst_builder.h"
#include "tests/support/samples.h"

namespace korvel {
namespace {

using testing::sample_path;

// The path of the loaded libpff, from the loader's own list.
std::string loaded_libpff()
{
    std::string found;
    dl_iterate_phdr(
        [](dl_phdr_info *info, std::size_t, void *data) {
            const std::string name = info->dlpi_name != nullptr ? info->dlpi_name : "";
            if (name.find("/libpff.so") != std::string::npos) {
                *static_cast<std::string *>(data) = name;
            }
            return 0;
        },
        &found);
    return found;
}

struct file_handle
{
    libpff_file_t *file = nullptr;
    file_handle() { libpff_file_initialize(&file, nullptr); }
    ~file_handle()
    {
        libpff_file_close(file, nullptr);
        libpff_file_free(&file, nullptr);
    }
    int open(const std::string &path)
    {
        libpff_error_t *error = nullptr;
        const int result = libpff_file_open(file, path.c_str(), LIBPFF_OPEN_READ, &error);
        libpff_error_free(&error);
        return result;
    }
    int folder_messages()
    {
        libpff_item_t *root = nullptr;
        int count = -1;
        if (libpff_file_get_root_folder(file, &root, nullptr) == 1) {
            libpff_item_t *folder = nullptr;
            if (libpff_folder_get_sub_folder(root, 0, &folder, nullptr) == 1) {
                libpff_folder_get_number_of_sub_messages(folder, &count, nullptr);
                libpff_item_free(&folder, nullptr);
            }
            libpff_item_free(&root, nullptr);
        }
        return count;
    }
};

TEST(libpff_build, TheLoadedCopyIsTheOneConfigured)
{
    const std::string path = loaded_libpff();
    ASSERT_FALSE(path.empty());
#if defined(KORVEL_BUNDLED_LIBPFF)
    // Ours, staged in this build tree, not the system's.
    EXPECT_NE(path.find(KORVEL_BINARY_DIR), std::string::npos) << path;
    // It exports nothing but its API: the libcdata we patched cannot be
    // replaced by the system libbfio's copy, nor replace it.
    void *library = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(library, nullptr);
    // dlsym also searches libpff's dependencies: ask where a symbol lives.
    const auto from_libpff = [&](const char *name) {
        void *symbol = dlsym(library, name);
        Dl_info info{};
        return symbol != nullptr && dladdr(symbol, &info) != 0 && info.dli_fname != nullptr &&
               path == info.dli_fname;
    };
    EXPECT_FALSE(from_libpff("libcdata_tree_node_insert_node"));
    EXPECT_FALSE(from_libpff("libfmapi_checksum_calculate_weak_crc32"));
    EXPECT_TRUE(from_libpff("libpff_file_signal_abort"));
    dlclose(library);
#else
    EXPECT_EQ(path.find(KORVEL_BINARY_DIR), std::string::npos) << path;
#endif
}

// A Stop given before libpff starts the open, or while it builds the item
// tree, ends the open, which fails as a damaged file's does (the engine then
// makes a new file object for the next scan).
TEST(libpff_build, AbortEndsAnOpenAndIsForgottenAfter)
{
    const std::string mailbox = testing::scratch_directory("abort") + "/wide.pst";
    testing::pst_builder builder;
    auto &folder = builder.root().add_folder("Wide");
    for (int n = 0; n < 500; ++n) {
        folder.add_message("IPM.Note").set_unicode(0x0037, "Message " + std::to_string(n));
    }
    builder.write(mailbox);

    file_handle stopped;
    ASSERT_EQ(libpff_file_signal_abort(stopped.file, nullptr), 1);
#if defined(KORVEL_BUNDLED_LIBPFF)
    EXPECT_EQ(stopped.open(mailbox), -1);
#else
    // The system's libpff does not look at the signal while it opens.
    EXPECT_EQ(stopped.open(mailbox), 1);
#endif
    file_handle next;
    ASSERT_EQ(next.open(mailbox), 1);
    EXPECT_EQ(next.folder_messages(), 500);
}

// The engine's Stop: sets the flag the walk checks and signals the open file.
// A signal that found libpff idle (a save stopped during its walk) must not
// cost a later recovery its items.
TEST(libpff_build, StopLeavesALaterRecoveryWhole)
{
    // The sample with items to recover.
    const std::string mailbox = sample_path("pstextractortestpdf@outlook.com.ost");
    file_handle fresh;
    ASSERT_EQ(fresh.open(mailbox), 1);
    ASSERT_EQ(libpff_file_recover_items(fresh.file, 0, nullptr), 1);
    int expected = 0;
    ASSERT_EQ(libpff_file_get_number_of_recovered_items(fresh.file, &expected, nullptr), 1);
    ASSERT_GT(expected, 0);

    scan_state state;
    ASSERT_EQ(libpff_file_initialize(&state.file, nullptr), 1);
    ASSERT_EQ(libpff_file_open(state.file, mailbox.c_str(), LIBPFF_OPEN_READ, nullptr), 1);
    scan_state_request_stop(&state);
    EXPECT_TRUE(state.stop_requested);
    const int result = libpff_file_recover_items(state.file, 0, nullptr);
    int recovered = -1;
    libpff_file_get_number_of_recovered_items(state.file, &recovered, nullptr);
#if defined(KORVEL_BUNDLED_LIBPFF)
    EXPECT_EQ(result, 1);
    EXPECT_EQ(recovered, expected);
#else
    // The system's libpff takes the leftover signal as meant for the recovery.
    EXPECT_EQ(result, -1);
    EXPECT_EQ(recovered, 0);
#endif
    // Stop without a file object only sets the flag.
    scan_state idle;
    scan_state_request_stop(&idle);
    EXPECT_TRUE(idle.stop_requested);
}

} // namespace
} // namespace korvel
