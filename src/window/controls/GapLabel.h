#pragma once

#include <QLabel>

// A one-line label whose runs of two or more blanks are laid out one whole pixel count per blank,
// as the window was measured when it was designed. A control placed over such a gap, and the
// words after it, then keep their designed places even where a font scales blanks smoothly.
class GapLabel : public QLabel {
    Q_OBJECT
public:
    explicit GapLabel(const QString& text, QWidget* parent = nullptr);

    // Where the words after each gap begin, in the label's own pixels.
    QList<int> pieceOffsets() const;

protected:
    void paintEvent(QPaintEvent* event) override;
};
