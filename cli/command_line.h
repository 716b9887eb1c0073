// korvel-pst's command line: the sub-commands, their options, the exit
// statuses and the one-line error messages.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace korvel::cli {

// Documented in korvel-pst(1); scripts depend on them.
enum exit_status : int
{
    exit_done = 0,
    exit_unreadable_items = 1, // done, but some items could not be read
    exit_usage = 2,
    exit_unreadable_file = 3,
    exit_output = 4,    // the output could not be written (or would replace a file)
    exit_stopped = 130, // Ctrl-C, as a shell reports a SIGINT
};

// The options a sub-command accepts.
enum option_flag : std::uint32_t
{
    option_json = 1u << 0,
    option_force = 1u << 1,
    option_folder = 1u << 2,
    option_no_recovered = 1u << 3,
    option_to = 1u << 4,
};

struct options
{
    bool quiet = false;
    bool json = false;
    bool force = false;
    bool no_recovered = false;
    std::vector<std::string> folders;
    std::string to; // the --to format
    std::vector<std::string> operands;
};

struct command
{
    const char *name;
    const char *synopsis; // after "korvel-pst NAME "
    const char *summary;  // one line for the command list
    const char *help;     // the rest of NAME --help
    std::uint32_t accepted;
    std::size_t minimum_operands;
    std::size_t maximum_operands; // 0: any number
    int (*run)(const options &);
};

int run_check(const options &);
int run_list(const options &);
int run_save(const options &);
int run_convert(const options &);
int run_extract(const options &);

// Parses and runs a whole command line; returns the exit status.
int run_command_line(int argc, char **argv);

// "korvel-pst: FILE: cause" on standard error (FILE left out when empty).
void report_error(const std::string &file, const std::string &cause);

// Several files give the highest of their statuses (a stop above all, then an
// output error, an unreadable file, unreadable items).
int worse(int a, int b);

} // namespace korvel::cli
