#pragma once

#include <QObject>
#include <map>
#include <vector>

class QWidget;

// Keeps the keyboard away from controls that a pane in front of them hides completely. Such a
// control leaves the Tab chain until it is uncovered again, and when it holds the focus at the
// moment it is covered, the focus goes to focusHome. The panes are siblings that overlap; their
// stacking order is watched, so raising any of them is all it takes.
class CoveredControls : public QObject {
    Q_OBJECT
public:
    CoveredControls(QWidget* focusHome, std::vector<QWidget*> panes, QObject* parent);

    // Looks again at what covers what; runs by itself whenever a pane changes its stacking.
    void update();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool isCovered(const QWidget* control, const QWidget* pane) const;

    QWidget* focusHome_;
    std::vector<QWidget*> panes_;
    std::map<QWidget*, int> takenPolicies_; // covered control -> its own focus policy
};
