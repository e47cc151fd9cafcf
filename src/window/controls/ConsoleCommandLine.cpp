#include "ConsoleCommandLine.h"

#include "CommandLineText.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>

ConsoleCommandLine::ConsoleCommandLine(QWidget* parent)
    : QWidget(parent), input_(new QLineEdit(this)), note_(new QLabel(this)) {
    setObjectName(QStringLiteral("ConsoleCommandLine"));
    input_->setObjectName(QStringLiteral("txtCommand"));
    input_->setPlaceholderText(QStringLiteral("> command for this server, then Enter"));
    input_->setFrame(false);
    input_->installEventFilter(this);
    note_->setObjectName(QStringLiteral("lblCommandNote"));
    note_->setStyleSheet(QStringLiteral("color: #c00000"));
    note_->hide();
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(input_, 1);
    row->addWidget(note_);
    connect(input_, &QLineEdit::returnPressed, this, [this] { emit Submit(input_->text()); });
    connect(input_, &QLineEdit::textEdited, this, [this] { setNote(QString()); });
    // A paste is never cut without a word: a line too long is refused when sent, with a note.
    input_->setMaxLength(1 << 20);
    connect(input_, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (!CommandLineText::HasControlCharacters(text))
            return;
        const QString shown = CommandLineText::ShowControlCharacters(text);
        if (shown == text)
            return;
        const int cursor = input_->cursorPosition();
        input_->setText(shown); // the same length: the cursor stays where it was
        input_->setCursorPosition(cursor);
    });
}

void ConsoleCommandLine::showServer(int server) {
    if (shown_ >= 0 && shown_ < kServers)
        drafts_[shown_] = input_->text();
    shown_ = server;
    input_->setText(server >= 0 && server < kServers ? drafts_[server] : QString());
    setNote(QString());
}

void ConsoleCommandLine::setNote(const QString& text) {
    note_->setText(text);
    note_->setVisible(!text.isEmpty());
}

void ConsoleCommandLine::sent(int server, const QString& line) {
    if (server >= 0 && server < kServers)
        histories_[server].add(line);
    input_->clear();
    setNote(QString());
}

bool ConsoleCommandLine::eventFilter(QObject* watched, QEvent* event) {
    if (watched != input_ || event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    const int key = static_cast<QKeyEvent*>(event)->key();
    const int server = key == Qt::Key_Up || key == Qt::Key_Down ? currentServer() : -1;
    if (server < 0 || server >= kServers)
        return QWidget::eventFilter(watched, event);
    CommandHistory& history = histories_[server];
    const std::optional<QString> line =
        key == Qt::Key_Up ? history.older(input_->text()) : history.newer();
    if (line)
        input_->setText(*line);
    return true;
}
