#pragma once

#include <string>
#include <string_view>

// Where a stand-in server prints: its console (with colours) and, when asked, a plain log file.
// Each line goes out in one write, so lines from two threads never mix.
class ConsoleOutput {
public:
    enum class Kind { Plain, Info, Status, Warning, Error };

    explicit ConsoleOutput(const std::string& logPath);
    ~ConsoleOutput();
    ConsoleOutput(const ConsoleOutput&) = delete;
    ConsoleOutput& operator=(const ConsoleOutput&) = delete;

    void line(Kind kind, std::string_view text);

private:
    int logFd_ = -1;
};
