#pragma once

#include <QString>

// The launchers' private state folder under that home folder (.local/state/corvane-launcher/run):
// what PrivateStateFolder() gives for the account's own home.
QString PrivateStateFolderUnder(const QString& homeFolder, QString* error);
