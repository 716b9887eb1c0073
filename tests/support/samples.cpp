#include "tests/support/samples.h"

#include <filesystem>

namespace korvel::testing {

std::string sample_path(const std::string &name)
{
    return std::string(KORVEL_SAMPLES_DIR) + "/" + name;
}

std::string scratch_directory(const std::string &name)
{
    std::filesystem::path dir = std::filesystem::path(KORVEL_BINARY_DIR) / "scratch" / name;
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    std::filesystem::create_directories(dir);
    return dir.string();
}

} // namespace korvel::testing
