#include "RestoreBackupDialog.h"

#include "BackupArchive.h"
#include "LauncherCore.h"

#include <QDateTime>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

RestoreBackupDialog::RestoreBackupDialog(LauncherCore& core, int server, QWidget* parent)
    : QDialog(parent), core_(core), server_(server), lstBackups_(new QListWidget(this)),
      cmdRestore_(new QPushButton(QStringLiteral("&Restore..."), this)) {
    const QString& name = core.fleet().supervisor(server).name();
    setObjectName(QStringLiteral("restoreBackupDialog"));
    setWindowTitle(QStringLiteral("Restore Backup of ") + name);
    setAttribute(Qt::WA_DeleteOnClose);
    lstBackups_->setObjectName(QStringLiteral("lstBackups"));
    const ServerBackups& backups = core.backups();
    for (const BackupArchiveFile& archive : backups.Archives(server)) {
        auto* row =
            new QListWidgetItem(QStringLiteral("%1    %2    %3")
                                    .arg(QDateTime::fromMSecsSinceEpoch(archive.epochMs)
                                             .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                                         ByteSizeText(archive.bytes), archive.name),
                                lstBackups_);
        row->setData(Qt::UserRole, archive.path);
    }
    auto* where = new QLabel(lstBackups_->count() > 0
                                 ? QStringLiteral("Backups in %1:").arg(backups.folder(server))
                                 : QStringLiteral("No backups in %1.").arg(backups.folder(server)),
                             this);
    where->setWordWrap(true);
    cmdRestore_->setObjectName(QStringLiteral("cmdRestore"));
    cmdRestore_->setEnabled(false);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->addButton(cmdRestore_, QDialogButtonBox::ActionRole);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(where);
    layout->addWidget(lstBackups_);
    layout->addWidget(buttons);
    resize(520, 300);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
    connect(lstBackups_, &QListWidget::currentRowChanged, this,
            [this](int row) { cmdRestore_->setEnabled(row >= 0); });
    connect(cmdRestore_, &QPushButton::clicked, this, &RestoreBackupDialog::confirmRestore);
}

void RestoreBackupDialog::confirmRestore() {
    const QListWidgetItem* row = lstBackups_->currentItem();
    if (!row)
        return;
    const QString archive = row->data(Qt::UserRole).toString();
    const QString& name = core_.fleet().supervisor(server_).name();
    const QStringList paths = core_.backups().RestoredPaths(server_);
    auto* box = new QMessageBox(
        QMessageBox::Warning, QStringLiteral("Restore ") + name,
        QStringLiteral("Put back %1 from %2?\n\nThis replaces:\n%3\n\nWhat is there now is kept "
                       "beside it, as <path>.before-restore-<date>-<time>.")
            .arg(name, QFileInfo(archive).fileName(), paths.join(u'\n')),
        QMessageBox::Yes | QMessageBox::Cancel, this);
    box->setObjectName(QStringLiteral("restoreConfirmation"));
    box->setDefaultButton(QMessageBox::Cancel);
    box->setAttribute(Qt::WA_DeleteOnClose);
    connect(box, &QMessageBox::finished, this, [this, archive](int answer) {
        if (answer != QMessageBox::Yes)
            return;
        const bool begun = core_.backups().StartRestore(server_, archive);
        core_.audit().recordLocal(
            QStringLiteral("window"),
            QStringLiteral("restore %1 from %2")
                .arg(core_.fleet().supervisor(server_).name(), QFileInfo(archive).fileName()),
            begun ? QStringLiteral("begun") : QStringLiteral("refused"));
        close();
    });
    box->open();
}

void OpenRestoreBackupDialog(LauncherCore& core, int server, QWidget* parent) {
    // Modeless: the window and the other servers' tabs stay usable while it is open.
    auto* dialog = new RestoreBackupDialog(core, server, parent);
    dialog->show();
}
