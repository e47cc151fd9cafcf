#include "MessagePane.h"

#include "ConsoleFormats.h"
#include "PaneText.h"

#include <QScrollBar>
#include <QTextCursor>
#include <QTextDocument>

MessagePane::MessagePane(QWidget* parent) : QPlainTextEdit(parent) {
    setUndoRedoEnabled(false); // every trim and append would stay in it for good
}

void MessagePane::setBottomLine(QWidget* widget) {
    bottomLine_ = widget;
    widget->setParent(this);
    setViewportMargins(0, 0, 0, widget->sizeHint().height());
    placeBottomLine();
    widget->show();
}

bool MessagePane::hasDarkBackground() const {
    return palette().color(QPalette::Base).lightness() < 128;
}

void MessagePane::resizeEvent(QResizeEvent* event) {
    QPlainTextEdit::resizeEvent(event);
    placeBottomLine();
}

void MessagePane::placeBottomLine() {
    if (!bottomLine_)
        return;
    const QRect text = viewport()->geometry();
    bottomLine_->setGeometry(text.left(), text.bottom() + 1, text.width(),
                             bottomLine_->sizeHint().height());
}

void MessagePane::showStyled(const StyledText& fresh) {
    if (!shownByMe_) { // the text set at design time
        shownText_ = toPlainText();
        shownByMe_ = true;
    }
    if (fresh.text == shownText_ && fresh.runs == shownRuns_)
        return;
    QScrollBar* bar = verticalScrollBar();
    const bool followingEnd = bar->value() >= bar->maximum();
    const int keptPlace = bar->value();
    const bool dark = hasDarkBackground();
    const qsizetype overlap = OverlapStart(shownText_, fresh.text);
    const qsizetype kept = overlap < 0 ? 0 : shownText_.size() - overlap;
    if (overlap >= 0 &&
        RunsWithin(shownRuns_, overlap, shownText_.size()) == RunsWithin(fresh.runs, 0, kept)) {
        // A console mostly grows at its end, and its first lines scroll out of the bounded tail:
        // drop those and lay out only what is new.
        QTextDocument* doc = document();
        const int dropped = static_cast<int>(QStringView(shownText_).left(overlap).count(u'\n'));
        if (dropped > 0) {
            QTextCursor head(doc);
            head.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor, dropped);
            head.removeSelectedText();
        }
        QTextCursor end(doc);
        end.movePosition(QTextCursor::End);
        end.insertText(fresh.text.mid(kept), QTextCharFormat());
        ApplyConsoleRuns(doc, kept, RunsWithin(fresh.runs, kept, fresh.text.size()), dark);
    } else {
        setCurrentCharFormat(QTextCharFormat()); // a click may have left a colour
        setPlainText(fresh.text);
        ApplyConsoleRuns(document(), 0, fresh.runs, dark);
    }
    shownText_ = fresh.text;
    shownRuns_ = fresh.runs;
    bar->setValue(followingEnd ? bar->maximum() : keptPlace);
}
