// korvel-probe save FILE OUT [--checked PATH]... [--no-recovered]: scans FILE
// and saves it (or the folders at the tree PATHs) into a new PST file OUT, as
// the window's Save does, then prints the counts and the unreadable lines.
// korvel-probe convert FILE FORMAT OUT [...]: the same into FORMAT (mbox, eml
// or pst).
#include <cstdio>
#include <string>
#include <vector>

#include "tests/probe/probe.h"
#include "tests/support/scan_session.h"

#ifdef KORVEL_HAVE_WRITER
#include "cli/runner/save_runner.h"
#include "convert/save/save.h"

namespace korvel::probe {
namespace {

// arguments: FILE OUT [options]; the format is already chosen.
int save_as(convert::output_format format, const std::vector<std::string> &arguments)
{
    if (arguments.size() < 2) {
        return 2;
    }
    convert::save_request request;
    request.format = format;
    request.target = arguments[1];
    std::vector<std::string> checked;
    for (std::size_t i = 2; i < arguments.size(); ++i) {
        if (arguments[i] == "--no-recovered") {
            request.recovered_items = false;
        } else if (arguments[i] == "--checked" && i + 1 < arguments.size()) {
            checked.push_back(arguments[++i]);
        } else {
            return 2;
        }
    }
    korvel::testing::scan_session session;
    session.scan(arguments[0]);
    std::string unknown;
    if (!runner::check_folders(session, checked, request, unknown)) {
        std::fprintf(stderr, "korvel-probe: no folder %s\n", unknown.c_str());
        return 1;
    }
    convert::save_report report;
    int result = convert::save_mailbox(&session.state, request, {}, report);
    print_line({"folders", std::to_string(report.folders)});
    print_line({"items", std::to_string(report.items)});
    print_line({"recovered", std::to_string(report.recovered)});
    print_line({"skipped", std::to_string(report.skipped)});
    print_line({"unreadable", std::to_string(report.unreadable.size())});
    for (const std::string &line : report.unreadable) {
        print_line({"unreadable", line});
    }
    for (const std::string &line : report.notes) {
        print_line({"note", line});
    }
    if (report.stopped) {
        print_line({"stopped"});
    }
    if (result == -1) {
        print_line({"failure", report.failure});
        return 1;
    }
    return result == 1 ? 0 : 1;
}

int run_save(const std::vector<std::string> &arguments)
{
    return save_as(convert::output_format::pst, arguments);
}

int run_convert(const std::vector<std::string> &arguments)
{
    if (arguments.size() < 3) {
        return 2;
    }
    convert::output_format format;
    if (arguments[1] == "mbox") {
        format = convert::output_format::mbox;
    } else if (arguments[1] == "eml") {
        format = convert::output_format::eml;
    } else if (arguments[1] == "pst") {
        format = convert::output_format::pst;
    } else {
        std::fprintf(stderr, "korvel-probe: unknown format %s (mbox, eml or pst)\n",
                     arguments[1].c_str());
        return 2;
    }
    std::vector<std::string> rest{arguments[0]};
    rest.insert(rest.end(), arguments.begin() + 2, arguments.end());
    return save_as(format, rest);
}

const probe_command save_command("save", "FILE OUT [--checked PATH]... [--no-recovered]", run_save);
const probe_command
    convert_command("convert", "FILE FORMAT OUT [--checked PATH]... [--no-recovered]", run_convert);

} // namespace
} // namespace korvel::probe
#endif
