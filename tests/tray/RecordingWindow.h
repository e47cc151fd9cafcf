#pragma once

#include "DesktopServices.h"

#include <QWidget>
#include <cstdint>
#include <vector>

struct WindowMessage {
    WindowHandle hWnd;
    std::int32_t uMsg;
    std::int32_t wParam;
    std::int32_t lParam;
    friend bool operator==(const WindowMessage&, const WindowMessage&) = default;
};

// A window of the procedure table whose own procedure records every message it gets and answers
// with a result of its own, so that a test sees what was passed on and what came back.
class RecordingWindow {
public:
    RecordingWindow() {
        received().clear();
        hWnd = CurrentWindowProcedures().HandleOf(&widget);
        CurrentWindowProcedures().SetWindowLong(hWnd, GWL_WNDPROC, &OwnProc);
    }

    static std::int32_t OwnProc(WindowHandle hWnd, std::int32_t uMsg, std::int32_t wParam,
                                std::int32_t lParam) {
        received().push_back({hWnd, uMsg, wParam, lParam});
        return ResultFor(lParam);
    }
    static std::int32_t ResultFor(std::int32_t lParam) { return 700000 + lParam; }

    static std::vector<WindowMessage>& received() {
        static std::vector<WindowMessage> messages;
        return messages;
    }

    QWidget widget;
    WindowHandle hWnd = 0;
};
