#pragma once

#include <QScrollBar>

// A vertical scroll bar whose value the program sets and reads as a plain number. A value outside
// its range is refused rather than clamped. Change is raised whenever the value changes, whether
// the operator or code changed it.
class VbScrollBar : public QScrollBar {
    Q_OBJECT
public:
    VbScrollBar(int minimum, int maximum, int value, int step, QWidget* parent = nullptr);

    int Value() const { return value(); }
    // Refuses (returns false, changes nothing) a value outside the range.
    bool SetValue(int value);

signals:
    void Change();

protected:
    // A bare pair of arrows shows no focus of its own: a focus frame around them does.
    void paintEvent(QPaintEvent* event) override;
};
