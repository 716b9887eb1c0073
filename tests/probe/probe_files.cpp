#include "tests/probe/probe_files.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <vector>

#include "tests/probe/probe.h"

namespace korvel::probe {

std::string escaped(const std::string &text)
{
    std::string out;
    for (char c : text) {
        if (c == '\t') {
            out += "\\t";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else {
            out += c;
        }
    }
    return out;
}

void print_files(const std::string &directory)
{
    namespace fs = std::filesystem;
    std::error_code code;
    std::vector<std::string> names;
    for (fs::recursive_directory_iterator it(directory, code), end; !code && it != end;
         it.increment(code)) {
        if (it->is_regular_file(code) && !it->is_symlink(code)) {
            names.push_back(fs::relative(it->path(), directory, code).string());
        }
    }
    std::sort(names.begin(), names.end());
    for (const std::string &name : names) {
        std::ifstream file(directory + "/" + name, std::ios::binary);
        sha256 hash;
        std::uint64_t size = 0;
        std::vector<char> block(65536);
        while (file) {
            file.read(block.data(), static_cast<std::streamsize>(block.size()));
            const auto count = static_cast<std::size_t>(file.gcount());
            hash.update(reinterpret_cast<const std::uint8_t *>(block.data()), count);
            size += count;
        }
        print_line({"file", escaped(name), std::to_string(size), hash.hex_digest()});
    }
}

} // namespace korvel::probe
