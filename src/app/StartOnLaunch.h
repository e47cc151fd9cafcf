#pragma once

class frmMain;
struct CommandLine;

// --start: once the event loop runs (the window is up), the servers are started as the window's
// Start button starts them, once. A second launcher on the same folder never gets here: it hands
// over to the first, whose window comes to the front, and ends without starting anything.
void StartServersWhenUp(frmMain& window, const CommandLine& commandLine);
