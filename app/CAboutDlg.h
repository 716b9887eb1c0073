// The About dialog: the picture over the whole dialog, the product line and
// an "Ok" button.
#pragma once

#include <QDialog>

namespace korvel {

class CAboutDlg : public QDialog
{
    Q_OBJECT

public:
    explicit CAboutDlg(QWidget *parent = nullptr);

private:
    void OnBnClickedOk();
};

} // namespace korvel
