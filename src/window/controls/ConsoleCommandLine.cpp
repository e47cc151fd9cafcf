#include "ConsoleCommandLine.h"

#include "CommandLineText.h"
#include "PasteConfirmation.h"
#include "PastedLines.h"
#include "ServerTable.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>

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

void ConsoleCommandLine::linesSent(int server, const QStringList& lines, const QString& note) {
    if (server >= 0 && server < kServers)
        for (const QString& line : lines)
            histories_[server].add(line);
    setNote(note);
}

bool ConsoleCommandLine::takePaste(const QString& text, int at) {
    const int server = currentServer();
    if (server < 0 || server >= kServers)
        return false;
    PastedLines paste(text);
    if (!paste.needsConfirmation()) {
        if (!paste.hadLineBreak())
            return false; // one line as it is: the input takes it as ever
        // One line and its line break, as copied from a console: the line alone, not sent yet.
        if (!paste.lines().isEmpty()) {
            if (at >= 0)
                input_->setCursorPosition(at);
            input_->insert(paste.lines().first());
        }
        return true;
    }
    // The server is the one shown now: a tab changed before the answer changes nothing.
    auto* box = new PasteConfirmation(server, ServerTable::displayNames()[server], std::move(paste),
                                      window());
    connect(box, &PasteConfirmation::Send, this, &ConsoleCommandLine::SubmitLines);
    box->open();
    return true;
}

void ConsoleCommandLine::showContextMenu(const QPoint& globalAt) {
    QMenu* menu = input_->createStandardContextMenu();
    // The menu's Paste is known by its text, in the words of the input's own translation. Were it
    // missed, a paste of several lines would only show in the field, never be sent, as before.
    const QString pasteText = QLineEdit::tr("&Paste");
    for (QAction* action : menu->actions()) {
        if (action->text().section(u'\t', 0, 0) != pasteText)
            continue;
        action->disconnect(input_);
        connect(action, &QAction::triggered, this, [this] {
            if (!takePaste(QGuiApplication::clipboard()->text()))
                input_->paste();
        });
    }
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(globalAt);
}

bool ConsoleCommandLine::walkHistory(int key) {
    const int server = key == Qt::Key_Up || key == Qt::Key_Down ? currentServer() : -1;
    if (server < 0 || server >= kServers)
        return false;
    CommandHistory& history = histories_[server];
    const std::optional<QString> line =
        key == Qt::Key_Up ? history.older(input_->text()) : history.newer();
    if (line)
        input_->setText(*line);
    return true;
}

bool ConsoleCommandLine::eventFilter(QObject* watched, QEvent* event) {
    if (watched != input_)
        return QWidget::eventFilter(watched, event);
    QClipboard* clipboard = QGuiApplication::clipboard();
    switch (event->type()) {
    case QEvent::KeyPress: {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->matches(QKeySequence::Paste))
            return takePaste(clipboard->text()) || QWidget::eventFilter(watched, event);
        return walkHistory(key->key()) || QWidget::eventFilter(watched, event);
    }
    case QEvent::MouseButtonRelease: // the middle button pastes the selection, where there is one
        if (static_cast<QMouseEvent*>(event)->button() == Qt::MiddleButton &&
            clipboard->supportsSelection() && takePaste(clipboard->text(QClipboard::Selection)))
            return true;
        break;
    case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        const QMimeData* data = drop->mimeData();
        if (!data || !data->hasText() ||
            !takePaste(data->text(), input_->cursorPositionAt(drop->position().toPoint())))
            break;
        drop->setDropAction(Qt::CopyAction); // the text stays where it was dragged from
        drop->accept();
        QDragLeaveEvent leave; // the input's drop caret goes
        QCoreApplication::sendEvent(input_, &leave);
        return true;
    }
    case QEvent::ContextMenu:
        showContextMenu(static_cast<QContextMenuEvent*>(event)->globalPos());
        return true;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}
