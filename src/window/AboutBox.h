#pragma once

#include <QString>

class QWidget;

// What the About box tells: which launcher this is and where it keeps what.
struct AboutFacts {
    QString version;
    QString serverFolder;
    QString consoleSocket;    // tmux -L
    QString settingsFile;     // the operator's own settings
    QString installationFile; // corvane-launcher.ini of the server folder
    QString logsFolder;       // empty while no logs are written to disk
};

QString AboutText(const AboutFacts& facts);

// Shows the About box beside the window, holding nothing up (no exec(), no modality); it goes
// when closed.
void ShowAboutBox(const AboutFacts& facts, QWidget* parent);
