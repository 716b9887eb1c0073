#include "app/DesktopDialogs.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QUrl>
#include <unistd.h>

#include <cstdlib>

namespace korvel {

QString DesktopDialogs::ChooseMailboxFile(QWidget *parent, const QString &directory)
{
    QFileDialog chooser(parent, QStringLiteral("Select File..."), directory,
                        QStringLiteral("Microsoft Outlook PST File (*pst) (*.pst)"));
    chooser.setAcceptMode(QFileDialog::AcceptOpen);
    chooser.setFileMode(QFileDialog::ExistingFile);
    chooser.setOption(QFileDialog::HideNameFilterDetails);
    if (chooser.exec() != QDialog::Accepted) {
        return {};
    }
    return chooser.selectedFiles().value(0);
}

QString DesktopDialogs::ChooseSaveTarget(QWidget *parent, bool directory, const QString &current)
{
    QFileDialog chooser(parent,
                        directory ? QStringLiteral("Save Into Folder...")
                                  : QStringLiteral("Save Mailbox As..."),
                        current);
    chooser.setAcceptMode(QFileDialog::AcceptSave);
    // The save dialog asks before anything is replaced.
    chooser.setOption(QFileDialog::DontConfirmOverwrite);
    if (directory) {
        // A new directory's name: the save creates it.
        chooser.setFileMode(QFileDialog::AnyFile);
    } else {
        chooser.setNameFilter(QStringLiteral("Microsoft Outlook PST File (*.pst)"));
        chooser.setDefaultSuffix(QStringLiteral("pst"));
    }
    chooser.selectFile(current);
    if (chooser.exec() != QDialog::Accepted) {
        return {};
    }
    return chooser.selectedFiles().value(0);
}

QMessageBox::StandardButton DesktopDialogs::Ask(QMessageBox::Icon icon, const QString &caption,
                                                const QString &text,
                                                QMessageBox::StandardButtons buttons,
                                                QWidget *owner,
                                                QMessageBox::StandardButton defaultButton)
{
    QMessageBox box(icon, caption, text, buttons, owner);
    box.setWindowModality(Qt::ApplicationModal);
    if (defaultButton != QMessageBox::NoButton) {
        box.setDefaultButton(defaultButton);
    }
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

void DesktopDialogs::ShowReport(QWidget *parent, QMessageBox::Icon icon, const QString &caption,
                                const QString &text, const QString &details)
{
    QMessageBox box(icon, caption, text, QMessageBox::Ok, parent);
    if (!details.isEmpty()) {
        box.setDetailedText(details);
    }
    box.exec();
}

void DesktopDialogs::OpenDocument(const QString &path)
{
    // The shell's answer is not looked at: a missing help file shows nothing
    // of ours.
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void DesktopDialogs::EndProcess(bool immediate)
{
    if (immediate) {
        ::_exit(0);
    }
    std::exit(0);
}

} // namespace korvel
