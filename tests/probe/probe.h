// korvel-probe sub-commands. Each lives in its own probe_<name>.cpp and
// registers itself with a static probe_command; main() looks it up by name.
#pragma once

#include <string>
#include <vector>

namespace korvel::probe {

// Runs a sub-command with its arguments (after the sub-command's name);
// returns the exit status.
using probe_function = int (*)(const std::vector<std::string> &arguments);

struct probe_command
{
    probe_command(const char *name, const char *usage, probe_function function);
};

// Prints UTF-8 text and a tab-separated line.
void print_line(const std::vector<std::string> &fields);

} // namespace korvel::probe
