// korvel-probe: runs the engine with recording views and prints what the
// window would show, one tab-separated UTF-8 line each.
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "tests/probe/probe.h"

namespace korvel::probe {
namespace {

struct entry
{
    const char *usage;
    probe_function function;
};

std::map<std::string, entry> &commands()
{
    static std::map<std::string, entry> table;
    return table;
}

} // namespace

probe_command::probe_command(const char *name, const char *usage, probe_function function)
{
    commands()[name] = {usage, function};
}

void print_line(const std::vector<std::string> &fields)
{
    std::string line;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) {
            line += '\t';
        }
        line += fields[i];
    }
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stdout);
}

} // namespace korvel::probe

int main(int argc, char **argv)
{
    using namespace korvel::probe;
    if (argc >= 2) {
        auto found = commands().find(argv[1]);
        if (found != commands().end()) {
            std::vector<std::string> arguments(argv + 2, argv + argc);
            return found->second.function(arguments);
        }
    }
    std::fprintf(stderr, "usage:\n");
    for (const auto &[name, command] : commands()) {
        std::fprintf(stderr, "  korvel-probe %s %s\n", name.c_str(), command.usage);
    }
    return 2;
}
