// korvel-pst-repair: the window side's program.
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <cstdio>
#include <cstdlib>

#include "app/CMailvaneApp.h"
#include "app/CommandLine.h"
#include "preview/browser/CExplorer1.h"

int main(int argc, char **argv)
{
    // The arguments are read before the toolkit starts, so a refused command
    // line needs no display.
    QStringList arguments;
    for (int i = 1; i < argc; ++i) {
        arguments.append(QFile::decodeName(argv[i]));
    }
    const korvel::CommandLine line = korvel::ParseCommandLine(arguments, QDir::currentPath());
    if (!line.error.isEmpty()) {
        std::fprintf(stderr, "%s\n", QFile::encodeName(line.error).constData());
        return korvel::command_line_refused;
    }

    // The browser pane's engine refuses to start its sandbox as root.
    if (::geteuid() == 0) {
        ::setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 1);
    }
    // The preview pane's private URL schemes exist before the application.
    korvel::CExplorer1::RegisterSchemes();
    int toolkit_argc = 1;
    korvel::CMailvaneApp app(toolkit_argc, argv);
    app.InitInstance(line.file);
    return 0;
}
