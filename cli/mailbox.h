// Opening and scanning a mailbox for a sub-command, with progress and Ctrl-C.
#pragma once

#include <string>

#include "cli/runner/scan_session.h"

namespace korvel::cli {

// Scans path into session as the window's Scan does. Returns exit_done, or
// exit_stopped or exit_unreadable_file with the cause for the user.
int scan_mailbox(runner::scan_session &session, const std::string &path, bool quiet,
                 std::string &cause);

// Scans file and fills folder, as opening the file and clicking the folder
// do; reports on stderr what stops it. Returns exit_done, or the exit status
// for what stopped it (exit_usage for a folder the file does not have).
int open_folder(runner::scan_session &session, const std::string &file,
                const std::string &folder, bool quiet);

// The file's name without its directories, for labels.
std::string base_name(const std::string &path);

// The path without trailing slashes ("out/" names the directory "out").
std::string without_trailing_slashes(std::string path);

} // namespace korvel::cli
