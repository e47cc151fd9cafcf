#pragma once

#include <QCheckBox>

// A check box that holds 0 (clear), 1 (set) or 2 (greyed). Only code can make it greyed; the
// operator's clicks toggle between clear and set. Click is raised whenever the value changes,
// whether the operator or code changed it; setting the value it already has raises nothing.
class VbCheckBox : public QCheckBox {
    Q_OBJECT
public:
    explicit VbCheckBox(const QString& caption, QWidget* parent = nullptr);

    int Value() const;
    // Refuses (returns false, changes nothing) a value outside 0 to 2.
    bool SetValue(int value);

signals:
    void Click();

protected:
    void nextCheckState() override;
};
