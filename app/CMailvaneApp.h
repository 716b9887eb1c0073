// The application object: starts the toolkit, runs the main dialog to its end
// and lets the process finish.
#pragma once

#include <QApplication>

namespace korvel {

class CMailvaneDlg;

class CMailvaneApp : public QApplication
{
    Q_OBJECT

public:
    CMailvaneApp(int &argc, char **argv);

    // Runs the main dialog modally; returns false, so that no message loop of
    // the application's own follows. A file named when the program started
    // (empty: none) is taken as if Browse had chosen it.
    bool InitInstance(const QString &file = QString());

    // The main window while the dialog runs.
    CMailvaneDlg *MainWindow() const { return m_main_window; }

private:
    CMailvaneDlg *m_main_window = nullptr;
};

} // namespace korvel
