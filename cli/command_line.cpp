#include "cli/command_line.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <utility>

namespace korvel::cli {
namespace {

constexpr const char *program = "korvel-pst";

const std::array<command, 5> commands = {{
    {"check", "[--json] FILE...",
     "open and scan mailboxes; show their folders and what could not be read",
     "Scans each FILE as the window does and prints its folder tree with the\n"
     "number of items in each folder, then every folder or item that could not\n"
     "be read (its folder and position).\n"
     "\n"
     "Exit status: 0 every file intact, 1 some file damaged but read,\n"
     "3 some file could not be opened.\n",
     option_json, 1, 0, run_check},
    {"list", "FILE [FOLDER]", "print a folder's rows with the window's columns",
     "Prints the rows the window lists for FOLDER (a path as the folder tree\n"
     "shows it, such as \"Top of Personal Folders/Inbox\"), one tab-separated\n"
     "line each after a line of column titles. Without FOLDER, the folder\n"
     "paths are listed.\n",
     0, 1, 2, run_list},
    {"save", "[--folder PATH]... [--no-recovered] [--force] [--json] FILE OUT.pst",
     "copy what can be read into a new PST file",
     "Saves FILE into the new PST file OUT.pst as the window's Save does: every\n"
     "folder, or only the folders named with --folder (each with its\n"
     "sub-folders), and \"Recovered Items\" for the messages no folder leads to\n"
     "(--no-recovered leaves them out). OUT.pst is written under a temporary\n"
     "name and appears only when complete; an existing OUT.pst is replaced only\n"
     "with --force.\n",
     option_json | option_force | option_folder | option_no_recovered, 2, 2, run_save},
    {"convert",
     "--to mbox|eml [--folder PATH]... [--no-recovered] [--force] [--json] FILE... OUTDIR",
     "convert mailboxes into mbox or EML directories",
     "Converts each FILE into a directory of mbox files (--to mbox) or of EML\n"
     "files (--to eml), contacts and calendars as vCard and iCalendar files\n"
     "beside them, as the window's Convert does. With one FILE, OUTDIR is the\n"
     "new directory; with several, OUTDIR holds one directory per FILE, named\n"
     "after it. Each directory appears only when complete; an existing one is\n"
     "replaced only with --force.\n",
     option_json | option_force | option_folder | option_no_recovered | option_to, 2, 0,
     run_convert},
    {"extract", "[--force] FILE FOLDER ROW OUTDIR",
     "write one item's body and attachments into a directory",
     "Writes the item in row ROW (the number in the list's first column, as\n"
     "\"korvel-pst list FILE FOLDER\" prints it) into the new directory OUTDIR:\n"
     "its header page, its body and its attachments, the files the preview\n"
     "pane shows. An existing OUTDIR is replaced only with --force.\n",
     option_force, 4, 4, run_extract},
}};

void print_overview(std::FILE *stream)
{
    std::fprintf(stream,
                 "usage: %s [--quiet] COMMAND [OPTIONS] ARGUMENTS\n"
                 "       %s --help | --version | help COMMAND\n"
                 "\n"
                 "Shows what a damaged Outlook mailbox (PST file) still holds and gets it out.\n"
                 "The mailbox is only read, never written.\n"
                 "\n"
                 "Commands:\n",
                 program, program);
    for (const command &c : commands) {
        std::fprintf(stream, "  %-9s %s\n", c.name, c.summary);
    }
    std::fprintf(stream,
                 "\n"
                 "Options for every command:\n"
                 "  -q, --quiet   no progress on standard error\n"
                 "  -h, --help    this text, or a command's (%s COMMAND --help)\n"
                 "\n"
                 "Exit status: 0 done, 1 done but some items could not be read, 2 bad usage,\n"
                 "3 a mailbox could not be opened, 4 the output could not be written,\n"
                 "130 stopped by Ctrl-C (nothing half-written is left).\n"
                 "See korvel-pst(1).\n",
                 program);
}

void print_command_help(const command &c)
{
    std::printf("usage: %s %s %s\n\n%s", program, c.name, c.synopsis, c.help);
    std::printf("\nOptions:\n");
    if (c.accepted & option_to) {
        std::printf("  --to FORMAT        mbox or eml\n");
    }
    if (c.accepted & option_folder) {
        std::printf("  --folder PATH      only this folder and its sub-folders (repeatable)\n");
    }
    if (c.accepted & option_no_recovered) {
        std::printf("  --no-recovered     leave out \"Recovered Items\"\n");
    }
    if (c.accepted & option_force) {
        std::printf("  -f, --force        replace an existing output\n");
    }
    if (c.accepted & option_json) {
        std::printf("  --json             the report as JSON on standard output\n");
    }
    std::printf("  -q, --quiet        no progress on standard error\n"
                "  -h, --help         this text\n");
}

int usage_error(const std::string &message, const command *c)
{
    std::fprintf(stderr, "%s: %s\n", program, message.c_str());
    if (c != nullptr) {
        std::fprintf(stderr, "usage: %s %s %s\n", program, c->name, c->synopsis);
    } else {
        std::fprintf(stderr, "Try '%s --help'.\n", program);
    }
    return exit_usage;
}

const command *find_command(std::string_view name)
{
    for (const command &c : commands) {
        if (name == c.name) {
            return &c;
        }
    }
    return nullptr;
}

// An option's value: "--to=mbox" or "--to mbox". Returns false when missing.
bool take_value(std::string_view argument, std::string_view name, int &i, int argc, char **argv,
                std::string &value)
{
    if (argument.size() > name.size() && argument[name.size()] == '=') {
        value = std::string(argument.substr(name.size() + 1));
        return true;
    }
    if (i + 1 >= argc) {
        return false;
    }
    value = argv[++i];
    return true;
}

} // namespace

void report_error(const std::string &file, const std::string &cause)
{
    if (file.empty()) {
        std::fprintf(stderr, "%s: %s\n", program, cause.c_str());
    } else {
        std::fprintf(stderr, "%s: %s: %s\n", program, file.c_str(), cause.c_str());
    }
}

int worse(int a, int b)
{
    return std::max(a, b);
}

namespace {

struct parsed_line
{
    options chosen;
    const command *which = nullptr;
    bool help = false;
    bool version = false;
    // The command-specific options given, by flag, with their spelling, so
    // that one given before the command is judged once the command is known.
    std::vector<std::pair<option_flag, std::string>> given;
};

// Reads the arguments. Returns exit_done, or exit_usage after saying why.
int parse_arguments(int argc, char **argv, parsed_line &line)
{
    options &chosen = line.chosen;
    bool only_operands = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        auto named = [&](std::string_view name) {
            return argument == name || (argument.starts_with(name) && argument[name.size()] == '=');
        };
        if (only_operands || argument == "-" || argument.empty() || argument[0] != '-') {
            if (line.which == nullptr && !line.help && argument == "help") {
                line.help = true;
            } else if (line.which == nullptr) {
                line.which = find_command(argument);
                if (line.which == nullptr) {
                    return usage_error("'" + std::string(argument) + "' is not a command", nullptr);
                }
            } else {
                chosen.operands.emplace_back(argument);
            }
        } else if (argument == "--") {
            only_operands = true;
        } else if (argument == "-h" || argument == "--help") {
            line.help = true;
        } else if (argument == "--version") {
            line.version = true;
        } else if (argument == "-q" || argument == "--quiet") {
            chosen.quiet = true;
        } else if (argument == "--json") {
            chosen.json = true;
            line.given.emplace_back(option_json, argument);
        } else if (argument == "-f" || argument == "--force") {
            chosen.force = true;
            line.given.emplace_back(option_force, argument);
        } else if (argument == "--no-recovered") {
            chosen.no_recovered = true;
            line.given.emplace_back(option_no_recovered, argument);
        } else if (named("--folder")) {
            std::string value;
            if (!take_value(argument, "--folder", i, argc, argv, value)) {
                return usage_error("--folder needs a folder path", line.which);
            }
            chosen.folders.push_back(value);
            line.given.emplace_back(option_folder, "--folder");
        } else if (named("--to")) {
            if (!take_value(argument, "--to", i, argc, argv, chosen.to)) {
                return usage_error("--to needs a format (mbox or eml)", line.which);
            }
            if (chosen.to != "mbox" && chosen.to != "eml") {
                return usage_error("'" + chosen.to + "' is not a format (mbox or eml)", line.which);
            }
            line.given.emplace_back(option_to, "--to");
        } else {
            return usage_error("unknown option '" + std::string(argument) + "'", line.which);
        }
    }
    return exit_done;
}

// The options and operands against what the command takes.
int check_arguments(const parsed_line &line)
{
    const command &which = *line.which;
    for (const auto &[flag, spelling] : line.given) {
        if ((which.accepted & flag) == 0) {
            return usage_error(spelling + " is not an option of " + which.name, &which);
        }
    }
    const std::size_t n = line.chosen.operands.size();
    if (n < which.minimum_operands) {
        return usage_error("too few arguments", &which);
    }
    if (which.maximum_operands != 0 && n > which.maximum_operands) {
        return usage_error("too many arguments", &which);
    }
    if ((which.accepted & option_to) && line.chosen.to.empty()) {
        return usage_error("--to is required (mbox or eml)", &which);
    }
    return exit_done;
}

} // namespace

int run_command_line(int argc, char **argv)
{
    parsed_line line;
    if (parse_arguments(argc, argv, line) != exit_done) {
        return exit_usage;
    }
    if (line.version) {
        std::printf("%s %s\n", program, KORVEL_VERSION);
        return exit_done;
    }
    if (line.help) {
        if (line.which == nullptr) {
            print_overview(stdout);
        } else {
            print_command_help(*line.which);
        }
        return exit_done;
    }
    if (line.which == nullptr) {
        print_overview(stderr);
        return exit_usage;
    }
    if (check_arguments(line) != exit_done) {
        return exit_usage;
    }
    return line.which->run(line.chosen);
}

} // namespace korvel::cli
