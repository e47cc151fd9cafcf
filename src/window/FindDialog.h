#pragma once

#include <QDialog>
#include <functional>

class QCheckBox;
class QLabel;
class QLineEdit;

// A small find box that stays open beside the window without holding it up: the text, Find Next,
// Find Previous and "Match case" (off: letters are found whatever their case). What is searched,
// and how a match is shown, is the caller's.
class FindDialog : public QDialog {
    Q_OBJECT
public:
    // Searches for the text from the current place on (or back), selects and shows the match;
    // false when there is none.
    using Search = std::function<bool(const QString& text, bool backward, bool matchCase)>;

    FindDialog(const QString& title, Search search, QWidget* parent);

    // Shows the box, which holds nothing up, with its text selected, ready to type.
    void popUp();
    void findNext() { find(false); }
    void findPrevious() { find(true); }

    QLineEdit* text() const { return text_; }
    QCheckBox* matchCase() const { return matchCase_; }
    // "Not found." after a search that found nothing; empty otherwise.
    QString note() const;

private:
    void find(bool backward);

    Search search_;
    QLineEdit* text_;
    QCheckBox* matchCase_;
    QLabel* note_;
};
