// Enter moves the focus like Tab in one window and never presses its default
// button. Installed on the application, so it sees the keys before any of the
// window's controls do.
#pragma once

#include <QObject>

class QWidget;

namespace korvel {

class EnterMovesFocus : public QObject
{
    Q_OBJECT

public:
    // Installs itself on the application for window's controls; removed with
    // the object.
    explicit EnterMovesFocus(QWidget *window);
    ~EnterMovesFocus() override;
    EnterMovesFocus(const EnterMovesFocus &) = delete;
    EnterMovesFocus &operator=(const EnterMovesFocus &) = delete;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *m_window;
};

} // namespace korvel
