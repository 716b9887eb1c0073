#include "app/CMailvaneApp.h"

#include "app/CMailvaneDlg.h"

namespace korvel {

CMailvaneApp::CMailvaneApp(int &argc, char **argv) : QApplication(argc, argv) {}

bool CMailvaneApp::InitInstance(const QString &file)
{
    // The settings key names the organisation; nothing is stored under it.
    setOrganizationName(QStringLiteral("Local AppWizard-Generated Applications"));
    setApplicationName(QStringLiteral("Korvel PST Repair"));
    setApplicationVersion(QStringLiteral("7.2"));
    // The desktop matches the window to its menu entry and icon by this name.
    setDesktopFileName(QStringLiteral(KORVEL_APP_ID));

    CMailvaneDlg dialog;
    m_main_window = &dialog;
    if (!file.isEmpty()) {
        dialog.OpenMailboxFile(file);
    }
    dialog.exec();
    m_main_window = nullptr;
    return false;
}

} // namespace korvel
