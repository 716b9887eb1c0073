// The save dialog behind Save and File > Convert: the output format, where the
// new output goes, and whether the items found outside the folders come along.
// OK checks the target (never the source, an existing one only after Yes, its
// directory must exist) before the main dialog starts the save worker. The
// dialog also turns the tree's check marks into the folders a save takes and
// a save's report into the box the user sees at its end.
#pragma once

#include <QDialog>
#include <QMessageBox>
#include <QStringList>
#include <functional>
#include <span>
#include <vector>

#include "convert/save/save.h"
#include "scan/scan_state.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace korvel {

class CFolderTreeCtrl1;

// One output format the save offers.
struct SaveFormat
{
    convert::output_format format;
    // The format list's text.
    const char *label;
    // A line under the list saying what the user gets.
    const char *description;
    // The target is a directory the save creates, not a file.
    bool directory;
};

// Every format, in the list's order; the first is the default.
std::span<const SaveFormat> SaveFormats();
const SaveFormat &SaveFormatOf(convert::output_format format);

class CSaveDlg : public QDialog
{
    Q_OBJECT

public:
    // The target chooser and the message boxes belong to the main dialog
    // (where tests answer them): the dialog asks through these.
    using ChooseTarget = std::function<QString(const SaveFormat &format, const QString &current)>;
    using Ask = std::function<QMessageBox::StandardButton(
        QMessageBox::Icon icon, const QString &text, QMessageBox::StandardButtons buttons,
        QMessageBox::StandardButton defaultButton)>;

    // source: the scanned mailbox (UTF-8 path as Browse chose it); scope: a
    // line saying what is saved (the checked folders or the whole mailbox).
    CSaveDlg(const QString &source, const QString &scope, ChooseTarget choose, Ask ask,
             QWidget *parent = nullptr);

    // What OK agreed to: format, absolute target, recovered items, whether the
    // user agreed to replace what is there. No folders: the caller adds them.
    const convert::save_request &Request() const { return m_request; }

    void SelectFormat(convert::output_format format);
    convert::output_format SelectedFormat() const;

    QComboBox *FormatBox() const { return m_format_box; }
    QLineEdit *TargetBox() const { return m_target_box; }
    QPushButton *ChooseButton() const { return m_choose_button; }
    QCheckBox *RecoveredBox() const { return m_recovered_box; }
    QPushButton *OkButton() const { return m_ok_button; }
    QPushButton *CancelButton() const { return m_cancel_button; }

    // The folders a save takes: the folder items whose tree items are
    // checked, leaving out those under a checked folder (saved with it). Empty
    // when none is checked: the whole mailbox.
    // names (optional) receives their tree texts.
    static std::vector<libpff_item_t *> CheckedFolders(const CFolderTreeCtrl1 &tree,
                                                       const folder_list &folders,
                                                       QStringList *names = nullptr);
    // The line the dialog shows for the checked folders' names.
    static QString ScopeText(const QStringList &names);

    // The end-of-save box: its icon, text and details (the items that could
    // not be read, one a line; empty when there are none).
    struct ReportBox
    {
        QMessageBox::Icon icon;
        QString text;
        QString details;
    };
    // Nothing to show (a stopped save) gives false.
    static bool ReportFor(int result, const convert::save_report &report, const QString &target,
                          ReportBox &box);

    void accept() override;

private:
    void OnFormatChanged();
    void OnBnClickedChoose();
    // The target as typed, made absolute beside the source; empty when blank.
    QString TargetPath() const;

    QString m_source;
    ChooseTarget m_choose;
    Ask m_ask;
    // The default target of the format shown: replaced by the next format's
    // default unless the user has changed it.
    QString m_default_target;
    convert::save_request m_request;

    QComboBox *m_format_box = nullptr;
    QLabel *m_format_description = nullptr;
    QLineEdit *m_target_box = nullptr;
    QPushButton *m_choose_button = nullptr;
    QCheckBox *m_recovered_box = nullptr;
    QPushButton *m_ok_button = nullptr;
    QPushButton *m_cancel_button = nullptr;
};

} // namespace korvel
