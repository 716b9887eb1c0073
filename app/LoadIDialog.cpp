#include "app/LoadIDialog.h"

#include <QGuiApplication>
#include <QLabel>
#include <QScreen>

#include "app/DialogUnits.h"

namespace korvel {

LoadIDialog::LoadIDialog(QWidget *parent) : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint)
{
    setObjectName(QStringLiteral("LoadIDialog"));
    const QFont font = DialogUnits::dialogFont();
    setFont(font);
    const DialogUnits units(font);
    setFixedSize(units.size(231, 67));
    setModal(false);
    // A modal frame: a plain raised border around the text.
    setStyleSheet(QStringLiteral("korvel--LoadIDialog { border: 2px outset palette(mid); }"));
    m_text = new QLabel(this);
    m_text->setGeometry(units.rect(39, 25, 124, 16));
    m_text->setText(QString::fromLatin1(wait_text));
}

void LoadIDialog::ShowNow()
{
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        QRect frame = rect();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    show();
    repaint();
}

QString LoadIDialog::Text() const
{
    return m_text->text();
}

} // namespace korvel
