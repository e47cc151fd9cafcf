#include "FindDialog.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

FindDialog::FindDialog(const QString& title, Search search, QWidget* parent)
    : QDialog(parent), search_(std::move(search)), text_(new QLineEdit(this)),
      matchCase_(new QCheckBox(QStringLiteral("Match &case"), this)), note_(new QLabel(this)) {
    setWindowTitle(title);
    setModal(false);
    auto* next = new QPushButton(QStringLiteral("Find &Next"), this);
    auto* previous = new QPushButton(QStringLiteral("Find &Previous"), this);
    auto* close = new QPushButton(QStringLiteral("Close"), this);
    next->setDefault(true);
    auto* layout = new QGridLayout(this);
    auto* label = new QLabel(QStringLiteral("Find &what:"), this);
    label->setBuddy(text_);
    layout->addWidget(label, 0, 0);
    layout->addWidget(text_, 0, 1);
    layout->addWidget(next, 0, 2);
    layout->addWidget(matchCase_, 1, 1);
    layout->addWidget(previous, 1, 2);
    layout->addWidget(note_, 2, 1);
    layout->addWidget(close, 2, 2);
    connect(next, &QPushButton::clicked, this, &FindDialog::findNext);
    connect(previous, &QPushButton::clicked, this, &FindDialog::findPrevious);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    connect(text_, &QLineEdit::textChanged, note_, &QLabel::clear);
}

void FindDialog::popUp() {
    // show(), not open(): open() would make the box window-modal and hold the window up.
    show();
    raise();
    activateWindow();
    text_->selectAll();
    text_->setFocus();
}

QString FindDialog::note() const {
    return note_->text();
}

void FindDialog::find(bool backward) {
    if (text_->text().isEmpty())
        return;
    const bool found = search_(text_->text(), backward, matchCase_->isChecked());
    note_->setText(found ? QString() : QStringLiteral("Not found."));
}
