// The modeless wait dialog shown while the mailbox file opens: no caption, no
// buttons, centred on the screen. Only the scan closes it.
#pragma once

#include <QDialog>

class QLabel;

namespace korvel {

class LoadIDialog : public QDialog
{
    Q_OBJECT

public:
    static constexpr const char *wait_text = "Please Wait while pst file is analysis...";

    explicit LoadIDialog(QWidget *parent = nullptr);

    // Shows the dialog and paints it at once, before the open starts.
    void ShowNow();
    QString Text() const;

private:
    QLabel *m_text = nullptr;
};

} // namespace korvel
