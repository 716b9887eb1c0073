// Dialog units to pixels: the classic rule on the dialog font's metrics
// (horizontal unit = average character width / 4, vertical unit = character
// height / 8).
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

namespace korvel {

class DialogUnits
{
public:
    explicit DialogUnits(const QFont &font);

    // The dialog font: the platform's default sans font at 8 points.
    static QFont dialogFont();

    int x(int units) const;
    int y(int units) const;
    QRect rect(int x, int y, int width, int height) const;
    QSize size(int width, int height) const;

    int baseWidth() const { return m_base_width; }
    int baseHeight() const { return m_base_height; }

private:
    int m_base_width;
    int m_base_height;
};

} // namespace korvel
