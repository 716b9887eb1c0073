#include "app/DialogUnits.h"

#include <QFontMetrics>

namespace korvel {

namespace {

// Rounded a * b / c, as the platform's dialog-unit conversion does it.
int mulDiv(int a, int b, int c)
{
    const long long product = static_cast<long long>(a) * b;
    const long long half = c / 2;
    return static_cast<int>(product >= 0 ? (product + half) / c : (product - half) / c);
}

} // namespace

DialogUnits::DialogUnits(const QFont &font)
{
    const QFontMetrics metrics(font);
    // The average width over the 52 letters, rounded, is the base unit.
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    m_base_width = (letters / 26 + 1) / 2;
    if (m_base_width < 1) {
        m_base_width = 1;
    }
    m_base_height = metrics.height();
    if (m_base_height < 1) {
        m_base_height = 1;
    }
}

QFont DialogUnits::dialogFont()
{
    QFont font(QStringLiteral("Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(8);
    return font;
}

int DialogUnits::x(int units) const
{
    return mulDiv(units, m_base_width, 4);
}

int DialogUnits::y(int units) const
{
    return mulDiv(units, m_base_height, 8);
}

QRect DialogUnits::rect(int left, int top, int width, int height) const
{
    // Both corners are converted, as the platform maps a dialog rectangle.
    return QRect(QPoint(x(left), y(top)), QPoint(x(left + width) - 1, y(top + height) - 1));
}

QSize DialogUnits::size(int width, int height) const
{
    return QSize(x(width), y(height));
}

} // namespace korvel
