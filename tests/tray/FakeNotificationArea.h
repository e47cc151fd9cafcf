#pragma once

#include "DesktopServices.h"

#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <utility>
#include <vector>

// A notification area that records every call and plays the desktop's part: it keeps the icons
// that were added and sends their mouse callbacks to the owning window's current procedure.
class FakeNotificationArea final : public NotificationArea {
public:
    struct Call {
        std::int32_t operation;
        NotifyIconData record;
    };

    std::vector<Call> calls;
    bool available = true;
    // When set, runs before a call is recorded: a test may throw from it.
    std::function<void(std::int32_t operation)> beforeCall;

    FakeNotificationArea() { SetNotificationArea(this); }
    ~FakeNotificationArea() override { SetNotificationArea(nullptr); }

    std::int32_t Shell_NotifyIcon(std::int32_t dwMessage, const NotifyIconData& data) override {
        if (beforeCall)
            beforeCall(dwMessage);
        calls.push_back({dwMessage, data});
        const Key key{data.hWnd, data.uID};
        switch (dwMessage) {
        case NIM_ADD:
            return shown_.emplace(key, data.uCallbackMessage).second ? 1 : 0;
        case NIM_MODIFY:
            return shown_.contains(key) ? 1 : 0;
        case NIM_DELETE:
            return shown_.erase(key) > 0 ? 1 : 0;
        default:
            return 0;
        }
    }

    bool IsAvailable() override { return available; }

    bool isShown(WindowHandle hWnd, std::int32_t uID) const { return shown_.contains({hWnd, uID}); }

    // The desktop reports a mouse message on a shown icon; false when there is no such icon.
    bool mouse(WindowHandle hWnd, std::int32_t uID, std::int32_t mouseMessage) {
        const auto found = shown_.find({hWnd, uID});
        if (found == shown_.end())
            return false;
        lastResult = CurrentWindowProcedures().SendMessage(hWnd, found->second, uID, mouseMessage);
        return true;
    }
    std::int32_t lastResult = -1;

private:
    using Key = std::pair<WindowHandle, std::int32_t>;
    std::map<Key, std::int32_t> shown_; // icon -> callback message
};
