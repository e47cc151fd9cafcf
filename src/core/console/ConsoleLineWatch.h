#pragma once

#include <QString>
#include <QStringList>

class modAPIs;

// The lines a console prints from the moment the watch begins: each look captures the console
// and keeps what is new since the last look. A capture need not end with a line break: its last
// line is given once, and again, whole, only when it has grown since.
class ConsoleLineWatch {
public:
    // Now: the lines printed from here on; Start: every line the console holds too.
    enum class From { Now, Start };
    ConsoleLineWatch(modAPIs& apis, const QString& title, From from = From::Now);

    // The lines printed since the last look (or since the watch began).
    QStringList newLines();

private:
    modAPIs& apis_;
    QString title_;
    QString last_;
    bool atStart_ = true; // last_ is what the console held when the watch began
};
