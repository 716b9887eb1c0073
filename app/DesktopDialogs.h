// What the main dialog's seams do outside tests: the system's file choosers
// and message boxes, the shell's opening of a document and the end of the
// process. Tests answer the seams themselves and never reach these.
#pragma once

#include <QMessageBox>
#include <QString>

class QWidget;

namespace korvel {

class DesktopDialogs
{
public:
    // An existing PST file, starting in directory; empty when cancelled.
    static QString ChooseMailboxFile(QWidget *parent, const QString &directory);
    // The save's target: a file, or the name of a directory the save
    // creates; empty when cancelled.
    static QString ChooseSaveTarget(QWidget *parent, bool directory, const QString &current);
    // An application-modal box; defaultButton: what Enter answers (NoButton:
    // the box's own choice).
    static QMessageBox::StandardButton Ask(QMessageBox::Icon icon, const QString &caption,
                                           const QString &text,
                                           QMessageBox::StandardButtons buttons, QWidget *owner,
                                           QMessageBox::StandardButton defaultButton);
    // A box with OK and, when there are any, the details under it.
    static void ShowReport(QWidget *parent, QMessageBox::Icon icon, const QString &caption,
                           const QString &text, const QString &details);
    static void OpenDocument(const QString &path);
    // At once, or through the C runtime's exit.
    [[noreturn]] static void EndProcess(bool immediate);
};

} // namespace korvel
