#include "tests/support/samples.h"

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <vector>

#include <unistd.h>

namespace korvel::testing {

std::string sample_path(const std::string &name)
{
    return std::string(KORVEL_SAMPLES_DIR) + "/" + name;
}

namespace {

std::mutex made_mutex;
std::vector<std::filesystem::path> *made = nullptr;

void remove_made()
{
    std::error_code ec;
    for (const std::filesystem::path &dir : *made) {
        std::filesystem::remove_all(dir, ec);
    }
}

} // namespace

std::string scratch_directory(const std::string &name)
{
    // CTest runs each test in a process of its own, two at a time: tests of
    // one suite sharing a name must not empty each other's directory, so each
    // process gets its own, removed when it ends.
    std::filesystem::path dir = std::filesystem::path(KORVEL_BINARY_DIR) / "scratch" /
                                (name + "-" + std::to_string(::getpid()));
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    std::filesystem::create_directories(dir);
    std::lock_guard<std::mutex> lock(made_mutex);
    if (made == nullptr) {
        made = new std::vector<std::filesystem::path>;
        std::atexit(remove_made);
    }
    made->push_back(dir);
    return dir.string();
}

} // namespace korvel::testing
