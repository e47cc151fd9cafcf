#include "DesktopServices.h"

#include <QObject>
#include <QWidget>
#include <map>

namespace {

// The default procedure of a window: it handles nothing and answers 0.
std::int32_t DefWindowProc(WindowHandle, std::int32_t, std::int32_t, std::int32_t) {
    return 0;
}

// Window procedures kept in a table of our own: handle -> window and its current procedure. A
// window leaves the table when it is destroyed.
class WindowProcedureTable final : public WindowProcedures {
public:
    WindowHandle HandleOf(QWidget* window) override {
        if (window == nullptr)
            return 0;
        for (const auto& [hWnd, entry] : windows_) {
            if (entry.window == window)
                return hWnd;
        }
        const WindowHandle hWnd = ++lastHandle_;
        windows_.emplace(hWnd, Entry{window, &DefWindowProc});
        QObject::connect(window, &QObject::destroyed, [this, hWnd] { windows_.erase(hWnd); });
        return hWnd;
    }

    WindowProc SetWindowLong(WindowHandle hWnd, std::int32_t nIndex,
                             WindowProc dwNewLong) override {
        const auto found = windows_.find(hWnd);
        if (found == windows_.end() || nIndex != GWL_WNDPROC || dwNewLong == nullptr)
            return nullptr;
        const WindowProc previous = found->second.procedure;
        found->second.procedure = dwNewLong;
        return previous;
    }

    std::int32_t CallWindowProc(WindowProc lpPrevWndFunc, WindowHandle hWnd, std::int32_t uMsg,
                                std::int32_t wParam, std::int32_t lParam) override {
        return lpPrevWndFunc != nullptr ? lpPrevWndFunc(hWnd, uMsg, wParam, lParam) : 0;
    }

    std::int32_t SendMessage(WindowHandle hWnd, std::int32_t uMsg, std::int32_t wParam,
                             std::int32_t lParam) override {
        const auto found = windows_.find(hWnd);
        if (found == windows_.end())
            return 0;
        // Copied: the procedure may replace itself, or the window may go, while it runs.
        const WindowProc current = found->second.procedure;
        return current(hWnd, uMsg, wParam, lParam);
    }

private:
    struct Entry {
        const QWidget* window;
        WindowProc procedure;
    };
    std::map<WindowHandle, Entry> windows_;
    WindowHandle lastHandle_ = 0;
};

} // namespace

WindowProcedures& PlatformWindowProcedures() {
    // Kept for the whole run, so that windows destroyed late still find it.
    static WindowProcedureTable* const table = new WindowProcedureTable;
    return *table;
}
