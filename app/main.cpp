// korvel-pst-repair: the window side's program.
#include <unistd.h>

#include <cstdlib>

#include "app/CMailvaneApp.h"
#include "preview/browser/CExplorer1.h"

int main(int argc, char **argv)
{
    // The browser pane's engine refuses to start its sandbox as root.
    if (::geteuid() == 0) {
        ::setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 1);
    }
    // The preview pane's private URL schemes exist before the application.
    korvel::CExplorer1::RegisterSchemes();
    korvel::CMailvaneApp app(argc, argv);
    app.InitInstance();
    return 0;
}
