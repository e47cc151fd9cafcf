#pragma once

#include <QByteArray>
#include <QString>

class LauncherSettings;

// Where the launcher's window stood, remembered for each server folder in the user's settings, so
// that launchers on different installations each open where the operator left them.
class WindowPlaces {
public:
    WindowPlaces(LauncherSettings& settings, QString serverFolder);

    // The place last remembered for this server folder; empty when there is none.
    QByteArray Remembered() const;
    void Remember(const QByteArray& place);
    // For a folder opened for the first time: how many folders were given a first place before
    // it, this one now counted among them. Launchers started on new folders one after the other
    // get different numbers even while none of them has remembered a place yet.
    int CountNewcomer();

private:
    QString key() const;

    LauncherSettings& settings_;
    QString serverFolder_;
};
