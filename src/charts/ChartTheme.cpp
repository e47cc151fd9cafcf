#include "ChartTheme.h"

#include <QChart>
#include <QPalette>

void FollowPalette(QChart& chart, const QPalette& palette) {
    const QColor window = palette.color(QPalette::Window);
    const bool dark = window.lightness() < 128;
    // setTheme resets the series' colours and the fonts; only when the theme changes.
    const QChart::ChartTheme theme = dark ? QChart::ChartThemeDark : QChart::ChartThemeLight;
    if (chart.theme() != theme)
        chart.setTheme(theme);
    chart.setBackgroundBrush(window);
    chart.setTitleBrush(palette.color(QPalette::WindowText));
    chart.legend()->setLabelColor(palette.color(QPalette::WindowText));
}
