// A mailbox file handed to the program from outside the file chooser: named
// on the command line (a terminal, the menu entry's %f, a file manager's
// "Open with") or dropped on the window. Either is taken as if Browse had
// chosen it.
#pragma once

#include <QString>
#include <QStringList>

class QMimeData;

namespace korvel {

struct CommandLine
{
    // The file to take, as an absolute path; empty when none was named.
    QString file;
    // Set when the arguments are refused: the one line for standard error.
    QString error;
};

// The exit code of a refused command line.
constexpr int command_line_refused = 2;

// Reads the arguments after the program name. At most one file is taken;
// options, a second file, and a name that is missing or a directory are
// refused. "--" ends the options (a name that starts with "-"), and a
// file:// address stands for its local path. Relative names are taken from
// current_directory.
CommandLine ParseCommandLine(const QStringList &arguments, const QString &current_directory);

// The one local file of a drop, as an absolute path, or empty when the drop
// holds anything else (several files, a directory, a remote address, text).
QString DroppedMailboxFile(const QMimeData *data);

// Where the file chooser opens: beside the file chosen last; else in the
// directory the program started in, unless the user's guide lies there (the
// menu entry starts the program in the guide's directory, where no mailbox
// is), then in the home directory.
QString ChooserDirectory(const QString &chosen_file, const QString &start_directory,
                         const QString &home_directory);

} // namespace korvel
