#pragma once

class HistoryRecorder;
class frmMain;

// The launcher's history, recorded for as long as the window lives, and the ways to its charts
// page: "Charts..." in each server tab's menu (that server's charts) and in the tray menu. The
// recorder is the window's child; its player counts are set on it. The history is kept in memory
// for the run unless the installation's file says "keep history = 1" (HistoryRecorder::KeptFolder).
HistoryRecorder* InstallHistoryCharts(frmMain& window);
