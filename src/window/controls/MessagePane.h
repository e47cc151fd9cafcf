#pragma once

#include "ConsoleStyle.h"

#include <QPlainTextEdit>
#include <vector>

// The read-only pane that mirrors a server's console. Its text is replaced and trimmed over and
// over, so it keeps no undo history. It can give its bottom line to one control of its own (a
// command line), which then lies inside the pane, under the text, and goes wherever the pane goes.
class MessagePane : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit MessagePane(QWidget* parent = nullptr);

    // widget becomes a child of the pane and takes its bottom line, as high as widget wants.
    void setBottomLine(QWidget* widget);

    // Whether the pane's background is dark, so that console colours are chosen to suit it.
    bool hasDarkBackground() const;

    // Replaces the pane's whole text and colours. An unchanged text leaves the pane alone;
    // otherwise the view follows the newest output unless the operator has scrolled up to read,
    // whose place is kept.
    void showStyled(const StyledText& fresh);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void placeBottomLine();

    QWidget* bottomLine_ = nullptr;
    QString shownText_; // what the pane shows
    std::vector<StyleRun> shownRuns_;
    bool shownByMe_ = false; // shownText_ is what showStyled last put there
};
