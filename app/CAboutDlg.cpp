#include "app/CAboutDlg.h"

#include <QLabel>
#include <QPixmap>
#include <QPushButton>

#include "app/DialogUnits.h"
#include "app/resource_ids.h"

namespace korvel {

CAboutDlg::CAboutDlg(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("CAboutDlg"));
    setWindowTitle(QStringLiteral("About Korvel PST Repair"));
    const QFont font = DialogUnits::dialogFont();
    setFont(font);
    const DialogUnits units(font);
    setFixedSize(units.size(350, 183));

    auto *picture = new QLabel(this);
    picture->setGeometry(0, 0, width(), height());
    picture->setScaledContents(true);
    picture->setPixmap(
        QPixmap(QString::fromLatin1(ids::resource_prefix) + QString::number(ids::IDB_ABOUT)));

    auto *product = new QLabel(QStringLiteral("Korvel PST Repair Version 7.2"), this);
    product->setGeometry(units.rect(20, 110, 310, 12));
    product->setAlignment(Qt::AlignCenter);
    auto *contact = new QLabel(QStringLiteral("Support: support@korvel.example"), this);
    contact->setGeometry(units.rect(20, 126, 310, 12));
    contact->setAlignment(Qt::AlignCenter);

    auto *ok = new QPushButton(QStringLiteral("Ok"), this);
    ok->setObjectName(QStringLiteral("ok"));
    ok->setGeometry(units.rect(187, 162, 50, 14));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &CAboutDlg::OnBnClickedOk);
}

void CAboutDlg::OnBnClickedOk()
{
    accept();
}

} // namespace korvel
