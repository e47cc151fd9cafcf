#include "ConsoleFormats.h"

#include <QFont>
#include <QTextCursor>
#include <QTextDocument>
#include <array>

namespace {

using Palette = std::array<QRgb, 16>;

// Black, red, green, yellow, blue, magenta, cyan, white; then their bright forms.
constexpr Palette kOnDark = {0x000000, 0xcd3131, 0x0dbc79, 0xe5e510, 0x2472c8, 0xbc3fbc,
                             0x11a8cd, 0xe5e5e5, 0x666666, 0xf14c4c, 0x23d18b, 0xf5f543,
                             0x3b8eea, 0xd670d6, 0x29b8db, 0xffffff};
constexpr Palette kOnLight = {0x000000, 0xcd3131, 0x00a000, 0x949800, 0x0451a5, 0xbc05bc,
                              0x0598bc, 0x555555, 0x666666, 0xcd3131, 0x14a014, 0xb5ba00,
                              0x0451a5, 0xbc05bc, 0x0598bc, 0x7f7f7f};

QColor Indexed(std::uint32_t index, bool dark) {
    if (index < 16)
        return QColor::fromRgb((dark ? kOnDark : kOnLight)[index]);
    if (index < 232) { // a 6 x 6 x 6 cube
        static constexpr int kLevels[] = {0, 95, 135, 175, 215, 255};
        const std::uint32_t cube = index - 16;
        return QColor(kLevels[cube / 36], kLevels[(cube / 6) % 6], kLevels[cube % 6]);
    }
    const int grey = 8 + 10 * static_cast<int>(index - 232);
    return QColor(grey, grey, grey);
}

} // namespace

QColor ConsoleColourValue(const ConsoleColour& colour, bool darkBackground) {
    switch (colour.kind) {
    case ConsoleColour::Indexed:
        return Indexed(colour.value, darkBackground);
    case ConsoleColour::Rgb:
        return QColor::fromRgb(colour.value);
    case ConsoleColour::Default:
        break;
    }
    return QColor();
}

QTextCharFormat ConsoleFormat(const ConsoleStyle& style, bool darkBackground) {
    QTextCharFormat format;
    if (style.foreground.kind != ConsoleColour::Default)
        format.setForeground(ConsoleColourValue(style.foreground, darkBackground));
    if (style.background.kind != ConsoleColour::Default)
        format.setBackground(ConsoleColourValue(style.background, darkBackground));
    if (style.bold)
        format.setFontWeight(QFont::Bold);
    if (style.underline)
        format.setFontUnderline(true);
    return format;
}

void ApplyConsoleRuns(QTextDocument* document, qsizetype offset, const std::vector<StyleRun>& runs,
                      bool darkBackground) {
    if (runs.empty())
        return;
    QTextCursor cursor(document);
    cursor.beginEditBlock();
    for (const StyleRun& run : runs) {
        cursor.setPosition(static_cast<int>(offset + run.start));
        cursor.setPosition(static_cast<int>(offset + run.start + run.length),
                           QTextCursor::KeepAnchor);
        cursor.setCharFormat(ConsoleFormat(run.style, darkBackground));
    }
    cursor.endEditBlock();
}
