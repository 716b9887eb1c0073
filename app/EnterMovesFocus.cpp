#include "app/EnterMovesFocus.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QWidget>

namespace korvel {

EnterMovesFocus::EnterMovesFocus(QWidget *window) : QObject(window), m_window(window)
{
    QCoreApplication::instance()->installEventFilter(this);
}

EnterMovesFocus::~EnterMovesFocus()
{
    QCoreApplication::instance()->removeEventFilter(this);
}

bool EnterMovesFocus::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress && watched->isWidgetType()) {
        auto *key = static_cast<QKeyEvent *>(event);
        auto *widget = static_cast<QWidget *>(watched);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
            widget->window() == m_window) {
            QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, key->modifiers() & ~Qt::KeypadModifier,
                          QStringLiteral("\t"));
            QCoreApplication::sendEvent(widget, &tab);
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

} // namespace korvel
