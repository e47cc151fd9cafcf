#pragma once

class HistoryRecorder;
class frmMain;

// The launcher's history, recorded for as long as the window lives, and the ways to its charts
// page: "Charts..." in each server tab's menu (that server's charts) and in the tray menu. The
// recorder is the window's child; its player counts are set on it.
HistoryRecorder* InstallHistoryCharts(frmMain& window);
