#pragma once

class HistoryRecorder;
class frmMain;

// The ways to the charts page of the launcher's history: "Charts..." in each server tab's menu
// (that server's charts) and in the tray menu. Returns the launcher's recorder
// (LauncherApp::history()), which the page reads and which records with or without it.
HistoryRecorder* InstallHistoryCharts(frmMain& window);
