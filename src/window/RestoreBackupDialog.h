#pragma once

#include <QDialog>

class LauncherCore;
class QListWidget;
class QPushButton;

// The archives of one server, the newest first with their dates and sizes; the chosen one is put
// back after a confirmation that names what it replaces. Holds nothing up: modeless, and its
// confirmation is opened with open(), never run in a loop of its own.
class RestoreBackupDialog : public QDialog {
    Q_OBJECT
public:
    RestoreBackupDialog(LauncherCore& core, int server, QWidget* parent);

    QListWidget* list() const { return lstBackups_; }
    QPushButton* restoreButton() const { return cmdRestore_; }
    // Asks to confirm the restore of the selected archive.
    void confirmRestore();

private:
    LauncherCore& core_;
    int server_;
    QListWidget* lstBackups_;
    QPushButton* cmdRestore_;
};

// Opens the dialog for the server.
void OpenRestoreBackupDialog(LauncherCore& core, int server, QWidget* parent);
