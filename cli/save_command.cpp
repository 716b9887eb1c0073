// korvel-pst save and convert: the window's Save without a window, one
// mailbox at a time, with the same target rules.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>

#include "cli/command_line.h"
#include "cli/interrupt.h"
#include "cli/json_report.h"
#include "cli/mailbox.h"
#include "cli/progress.h"
#include "cli/runner/save_runner.h"
#include "cli/save_command.h"

namespace korvel::cli {
namespace {

// Why the target cannot be written to as it is; "" when it can.
std::string target_refusal(const std::string &source, const std::string &target, bool force)
{
    switch (convert::check_save_target(source, target)) {
    case convert::target_check::is_source:
        return "it is the mailbox being read";
    case convert::target_check::exists:
        return force ? "" : "it already exists (--force replaces it)";
    case convert::target_check::no_directory:
        return "the folder it would go into does not exist";
    case convert::target_check::ok:
        break;
    }
    return "";
}

void save_one(const options &chosen, convert::output_format format, save_outcome &outcome)
{
    if (std::string why = target_refusal(outcome.file, outcome.target, chosen.force);
        !why.empty()) {
        outcome.status = exit_output;
        outcome.error = why;
        outcome.error_subject = outcome.target;
        return;
    }
    runner::scan_session session;
    std::string cause;
    outcome.status = scan_mailbox(session, outcome.file, chosen.quiet, cause);
    if (outcome.status != exit_done) {
        outcome.error = outcome.status == exit_stopped
                            ? "stopped; " + outcome.target + " was not written"
                            : cause;
        return;
    }
    convert::save_request request;
    request.format = format;
    request.target = outcome.target;
    request.recovered_items = !chosen.no_recovered;
    request.replace_existing = chosen.force;
    std::string unknown;
    if (!runner::check_folders(session, chosen.folders, request, unknown)) {
        outcome.status = exit_usage;
        outcome.error = "no folder '" + unknown + "' (korvel-pst list FILE names them)";
        return;
    }
    progress_meter meter(chosen.quiet,
                         base_name(outcome.file) +
                             (format == convert::output_format::pst ? ": saving" : ": converting"));
    meter.set_count_items(true);
    convert::save_report &report = outcome.report;
    // The walk calls back on this thread, so the counts are read as they grow.
    const int result = convert::save_mailbox(
        &session.state, request,
        [&](int percent) {
            meter.update(percent, report.items + report.recovered + report.skipped +
                                      report.unreadable.size());
        },
        report);
    meter.finish();
    if (result == 0) {
        outcome.status = exit_stopped;
        outcome.error = "stopped; " + outcome.target + " was not written";
    } else if (result == -1) {
        outcome.status = exit_output;
        outcome.error = report.failure;
    } else {
        outcome.status = report.unreadable.empty() ? exit_done : exit_unreadable_items;
    }
}

void print_outcome(const save_outcome &outcome)
{
    if (outcome.status != exit_done && outcome.status != exit_unreadable_items) {
        return; // said on standard error
    }
    const convert::save_report &report = outcome.report;
    std::printf("%s -> %s: %zu folders, %zu items, %zu recovered, %zu skipped, %zu unreadable\n",
                outcome.file.c_str(), outcome.target.c_str(), report.folders, report.items,
                report.recovered, report.skipped, report.unreadable.size());
    if (!report.unreadable.empty()) {
        std::printf("unreadable:\n");
        for (const std::string &line : report.unreadable) {
            std::printf("  %s\n", line.c_str());
        }
    }
    if (!report.notes.empty()) {
        std::printf("notes:\n");
        for (const std::string &line : report.notes) {
            std::printf("  %s\n", line.c_str());
        }
    }
}

int finish(const options &chosen, const char *command, std::vector<save_outcome> &outcomes)
{
    int status = exit_done;
    for (const save_outcome &outcome : outcomes) {
        status = worse(status, outcome.status);
    }
    if (chosen.json) {
        print_json(save_json(outcomes, command, status));
    }
    return status;
}

// Runs one mailbox and says what went wrong at once, so that a long batch
// shows a failure when it happens.
void run_one(const options &chosen, convert::output_format format, save_outcome &outcome)
{
    save_one(chosen, format, outcome);
    if (!outcome.error.empty()) {
        report_error(outcome.error_subject.empty() ? outcome.file : outcome.error_subject,
                     outcome.error);
    }
    if (!chosen.json) {
        print_outcome(outcome);
    }
}

// The directory name for one of several converted files: its name without
// ".pst".
std::string directory_for(const std::string &file)
{
    std::string name = base_name(file);
    if (name.size() > 4 && (name.ends_with(".pst") || name.ends_with(".PST"))) {
        name.resize(name.size() - 4);
    }
    return name;
}

} // namespace

int run_save(const options &chosen)
{
    std::vector<save_outcome> outcomes(1);
    outcomes[0].file = chosen.operands[0];
    outcomes[0].target = chosen.operands[1];
    outcomes[0].format = "pst";
    run_one(chosen, convert::output_format::pst, outcomes[0]);
    return finish(chosen, "save", outcomes);
}

int run_convert(const options &chosen)
{
    const convert::output_format format =
        chosen.to == "eml" ? convert::output_format::eml : convert::output_format::mbox;
    std::vector<std::string> files(chosen.operands.begin(), chosen.operands.end() - 1);
    const std::string out = without_trailing_slashes(chosen.operands.back());
    std::vector<save_outcome> outcomes(files.size());
    std::set<std::string> names;
    for (std::size_t i = 0; i < files.size(); ++i) {
        outcomes[i].file = files[i];
        outcomes[i].format = chosen.to;
        outcomes[i].target = files.size() == 1 ? out : out + "/" + directory_for(files[i]);
        if (!names.insert(outcomes[i].target).second) {
            report_error(files[i], "another file converts into " + outcomes[i].target);
            return exit_usage;
        }
    }
    if (files.size() > 1 && ::mkdir(out.c_str(), 0777) != 0 && errno != EEXIST) {
        report_error(out, std::strerror(errno));
        return exit_output;
    }
    std::size_t run = 0;
    while (run < outcomes.size() && !interrupted()) {
        run_one(chosen, format, outcomes[run++]);
    }
    // After a Ctrl-C the files not started are not reported: the batch ended.
    outcomes.resize(run);
    return finish(chosen, "convert", outcomes);
}

} // namespace korvel::cli
