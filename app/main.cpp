// korvel-pst-repair: the window side's program.
#include <unistd.h>

#include <cstdlib>

#include "app/CMailvaneApp.h"

int main(int argc, char **argv)
{
    // The browser pane's engine refuses to start its sandbox as root.
    if (::geteuid() == 0) {
        ::setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 1);
    }
    korvel::CMailvaneApp app(argc, argv);
    app.InitInstance();
    return 0;
}
