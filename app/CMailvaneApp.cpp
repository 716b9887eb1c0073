#include "app/CMailvaneApp.h"

#include "app/CMailvaneDlg.h"

namespace korvel {

CMailvaneApp::CMailvaneApp(int &argc, char **argv) : QApplication(argc, argv) {}

bool CMailvaneApp::InitInstance()
{
    // The settings key names the organisation; nothing is stored under it.
    setOrganizationName(QStringLiteral("Local AppWizard-Generated Applications"));
    setApplicationName(QStringLiteral("Korvel PST Repair"));
    setApplicationVersion(QStringLiteral("7.2"));

    CMailvaneDlg dialog;
    m_main_window = &dialog;
    dialog.exec();
    m_main_window = nullptr;
    return false;
}

} // namespace korvel
