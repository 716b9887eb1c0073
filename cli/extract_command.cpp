// korvel-pst extract FILE FOLDER ROW OUTDIR: the preview of one row, written
// into a new directory instead of shown.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "cli/command_line.h"
#include "cli/mailbox.h"
#include "preview/preview_builder.h"
#include "scan/files.h"
#include "scan/text.h"

namespace korvel::cli {
namespace {

namespace fs = std::filesystem;

// Copies the preview's files into a temporary directory beside out and
// renames it into place (replacing out only when force). Returns "" or why not.
std::string publish(const std::string &from, const std::string &out, bool force)
{
    std::error_code error;
    std::string temporary = out + ".korvel-XXXXXX";
    if (::mkdtemp(temporary.data()) == nullptr) {
        return "cannot make a directory beside it: " + std::string(std::strerror(errno));
    }
    fs::copy(from, temporary, fs::copy_options::recursive, error);
    if (error) {
        remove_directory(temporary);
        return error.message();
    }
    std::string previous;
    if (fs::symlink_status(out, error).type() != fs::file_type::not_found) {
        if (!force) {
            remove_directory(temporary);
            return "it already exists (--force replaces it)";
        }
        // The old one goes aside first, so that out is never half the old one.
        previous = out + ".korvel-old-XXXXXX";
        if (::mkdtemp(previous.data()) == nullptr ||
            std::rename(out.c_str(), previous.c_str()) != 0) {
            remove_directory(temporary);
            return "cannot replace it: " + std::string(std::strerror(errno));
        }
    }
    if (std::rename(temporary.c_str(), out.c_str()) != 0) {
        const std::string why = std::strerror(errno);
        remove_directory(temporary);
        if (!previous.empty()) {
            std::rename(previous.c_str(), out.c_str());
        }
        return why;
    }
    if (!previous.empty()) {
        remove_directory(previous);
    }
    return "";
}

} // namespace

int run_extract(const options &chosen)
{
    const std::string &file = chosen.operands[0];
    const std::string &folder = chosen.operands[1];
    const std::string &row_text = chosen.operands[2];
    const std::string out = without_trailing_slashes(chosen.operands[3]);
    std::error_code error;
    if (!chosen.force && fs::symlink_status(out, error).type() != fs::file_type::not_found) {
        report_error(out, "it already exists (--force replaces it)");
        return exit_output;
    }
    runner::scan_session session;
    const int status = open_folder(session, file, folder, chosen.quiet);
    if (status != exit_done) {
        return status;
    }
    // The row is picked as a click picks it: by its first column.
    const std::u16string wanted = u16(row_text);
    const runner::recorded_row *row = nullptr;
    for (const runner::recorded_row &candidate : session.views.rows) {
        if (candidate.cells[0] && *candidate.cells[0] == wanted) {
            row = &candidate;
            break;
        }
    }
    if (row == nullptr) {
        report_error(file, "no row " + row_text + " in '" + folder + "'");
        return exit_usage;
    }
    preview_outcome outcome;
    preview_selected_item(&session.state, *row->cells[0],
                          row->cells[1] ? *row->cells[1] : std::u16string(), outcome);
    const std::string written = working_directory();
    if (!outcome.navigate || written.empty()) {
        report_error(file, "row " + row_text + " cannot be read");
        return exit_unreadable_items;
    }
    if (std::string why = publish(written, out, chosen.force); !why.empty()) {
        report_error(out, why);
        return exit_output;
    }
    return exit_done;
}

} // namespace korvel::cli
