#include "PasteConfirmation.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

PasteConfirmation::PasteConfirmation(int server, const QString& serverName, PastedLines paste,
                                     QWidget* parent)
    : QDialog(parent), server_(server), paste_(std::move(paste)), question_(new QLabel(this)),
      preview_(new QPlainTextEdit(this)) {
    setObjectName(QStringLiteral("pasteConfirmation"));
    setWindowTitle(QStringLiteral("Paste into ") + serverName);
    setAttribute(Qt::WA_DeleteOnClose);

    const QString refusal = paste_.refusal();
    question_->setObjectName(QStringLiteral("lblPasteQuestion"));
    question_->setTextFormat(Qt::PlainText);
    question_->setWordWrap(true);
    question_->setText(refusal.isEmpty() ? paste_.question(serverName) : refusal);
    if (!refusal.isEmpty())
        question_->setStyleSheet(QStringLiteral("color: #c00000"));

    preview_->setObjectName(QStringLiteral("txtPastePreview"));
    preview_->setReadOnly(true);
    preview_->setLineWrapMode(QPlainTextEdit::NoWrap);
    preview_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    preview_->setPlainText(paste_.preview());

    auto* buttons = new QDialogButtonBox(this);
    if (refusal.isEmpty()) {
        const qsizetype count = paste_.lines().size();
        send_ = buttons->addButton(QStringLiteral("&Send %1 lines").arg(count),
                                   QDialogButtonBox::AcceptRole);
        send_->setObjectName(QStringLiteral("cmdPasteSend"));
        // Enter right after the paste must not send it: the operator chooses Send.
        buttons->addButton(QDialogButtonBox::Cancel)->setDefault(true);
    } else {
        buttons->addButton(QDialogButtonBox::Close)->setDefault(true);
    }
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(this, &QDialog::accepted, this, [this] { emit Send(server_, paste_); });

    auto* column = new QVBoxLayout(this);
    column->addWidget(question_);
    column->addWidget(preview_, 1);
    column->addWidget(buttons);
    resize(560, 320);
}
