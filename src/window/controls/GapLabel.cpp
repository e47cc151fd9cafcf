#include "GapLabel.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QRegularExpression>
#include <QStyle>
#include <cmath>

namespace {

const QRegularExpression& gapPattern() {
    static const QRegularExpression gap(QStringLiteral(" {2,}"));
    return gap;
}

struct Piece {
    QString text;
    int left;
};

QList<Piece> layOut(const QString& text, const QFont& font) {
    const QFontMetricsF metrics(font);
    const int blank = std::max(1, static_cast<int>(std::floor(metrics.horizontalAdvance(u' '))));
    QList<Piece> pieces;
    qreal x = 0;
    qsizetype from = 0;
    QRegularExpressionMatchIterator gaps = gapPattern().globalMatch(text);
    while (gaps.hasNext()) {
        const QRegularExpressionMatch gap = gaps.next();
        const QString word = text.mid(from, gap.capturedStart() - from);
        pieces.append({word, static_cast<int>(std::lround(x))});
        x = std::ceil(x + metrics.horizontalAdvance(word)) + gap.capturedLength() * blank;
        from = gap.capturedEnd();
    }
    pieces.append({text.mid(from), static_cast<int>(std::lround(x))});
    return pieces;
}

} // namespace

GapLabel::GapLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

QList<int> GapLabel::pieceOffsets() const {
    QList<int> offsets;
    for (const Piece& piece : layOut(text(), font()))
        offsets.append(piece.left);
    return offsets;
}

void GapLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect area = contentsRect();
    for (const Piece& piece : layOut(text(), font())) {
        const QRect place = area.adjusted(piece.left, 0, 0, 0);
        style()->drawItemText(&painter, place, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                              palette(), isEnabled(), piece.text, foregroundRole());
    }
}
