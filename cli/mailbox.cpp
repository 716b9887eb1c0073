#include "cli/mailbox.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "cli/command_line.h"
#include "cli/interrupt.h"
#include "cli/progress.h"
#include "scan/scan_state.h"

namespace korvel::cli {
namespace {

// Why a file the header check refused cannot be read, in the user's words.
std::string refusal(const std::string &path, header_check check)
{
    switch (check) {
    case header_check::not_pst:
        return "not a PST file (an offline store or another kind of Outlook file)";
    case header_check::no_signature:
        return "not a PST file (no PST header)";
    case header_check::unreadable: {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd == -1) {
            return std::strerror(errno);
        }
        ::close(fd);
        return "the file is too short to be a PST file";
    }
    case header_check::pst:
        break;
    }
    return "the header or the index cannot be read";
}

} // namespace

std::string without_trailing_slashes(std::string path)
{
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

std::string base_name(const std::string &path)
{
    const std::string name = without_trailing_slashes(path);
    const std::size_t slash = name.rfind('/');
    return slash == std::string::npos || name.size() == 1 ? name : name.substr(slash + 1);
}

int scan_mailbox(runner::scan_session &session, const std::string &path, bool quiet,
                 std::string &cause)
{
    const header_check check = check_file_header(path);
    if (check != header_check::pst) {
        cause = refusal(path, check);
        return exit_unreadable_file;
    }
    watch_interrupts(&session.state.stop_requested);
    progress_meter meter(quiet, base_name(path) + ": scanning");
    session.views.on_progress = [&meter](int percent) { meter.update(percent, 0); };
    const int scanned = session.scan(path);
    session.views.on_progress = nullptr;
    meter.finish();
    if (interrupted()) {
        cause = "stopped";
        return exit_stopped;
    }
    if (scanned != 1) {
        cause = refusal(path, header_check::pst);
        return exit_unreadable_file;
    }
    return exit_done;
}

int open_folder(runner::scan_session &session, const std::string &file,
                const std::string &folder, bool quiet)
{
    std::string cause;
    const int status = scan_mailbox(session, file, quiet, cause);
    if (status != exit_done) {
        report_error(file, cause);
        return status;
    }
    if (!session.fill(folder)) {
        report_error(file, "no folder '" + folder + "'");
        return exit_usage;
    }
    return exit_done;
}

} // namespace korvel::cli
