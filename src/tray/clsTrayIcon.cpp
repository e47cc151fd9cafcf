#include "clsTrayIcon.h"

#include "AnsiText.h"
#include "DesktopServices.h"
#include "modTrayIcon.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <system_error>

namespace {

constexpr std::int32_t kRecordSize = sizeof(NotifyIconData);
constexpr std::int32_t kErrOutOfMemory = 7;
constexpr std::int32_t kErrInternal = 51;

// Runs body, catching whatever it throws; 0 or the number of the error caught.
template <typename Body> std::int32_t RunCatching(Body&& body) noexcept {
    try {
        body();
        return 0;
    } catch (const std::bad_alloc&) {
        return kErrOutOfMemory;
    } catch (const std::system_error& error) {
        return error.code().value() != 0 ? error.code().value() : kErrInternal;
    } catch (...) {
        return kErrInternal;
    }
}

// The tip in the ANSI code page, cut to what the field holds before its closing NUL.
void WriteTip(NotifyIconData& record, const QString& sTip) {
    const QByteArray ansi = ToAnsi(sTip);
    const std::size_t length =
        std::min(static_cast<std::size_t>(ansi.size()), record.szTip.size() - 1);
    record.szTip.fill('\0');
    std::memcpy(record.szTip.data(), ansi.constData(), length);
}

} // namespace

std::shared_ptr<clsTrayIcon> clsTrayIcon::Create() {
    std::shared_ptr<clsTrayIcon> instance(new clsTrayIcon);
    modTrayIcon::TrayIconObject = instance;
    return instance;
}

std::int32_t clsTrayIcon::ShowTrayIcon(WindowHandle lHWnd, const QString& sTip, IconHandle lIcon) {
    return RunCatching([&] {
        hWnd_ = lHWnd;
        const WindowProc previous =
            CurrentWindowProcedures().SetWindowLong(hWnd_, GWL_WNDPROC, &modTrayIcon::TrayWndProc);
        // Already hooked: the saved procedure stays the window's own, never the hook itself.
        if (previous != &modTrayIcon::TrayWndProc)
            modTrayIcon::OldWndProc = previous;
        record_ = freshRecord(NIF_MESSAGE | NIF_ICON | NIF_TIP);
        record_.uCallbackMessage = kCallbackMessage;
        record_.hIcon = lIcon;
        WriteTip(record_, sTip);
        CurrentNotificationArea().SetIconMenu(hWnd_, kIconId, menu_);
        CurrentNotificationArea().SetTipDetails(hWnd_, kIconId, details_);
        CurrentNotificationArea().Shell_NotifyIcon(NIM_ADD, record_);
    });
}

std::int32_t clsTrayIcon::ChangeIcon(IconHandle lNewIcon) {
    return RunCatching([&] {
        NotifyIconData record = freshRecord(NIF_ICON);
        record.hIcon = lNewIcon;
        CurrentNotificationArea().Shell_NotifyIcon(NIM_MODIFY, record);
    });
}

std::int32_t clsTrayIcon::ChangeTip(const QString& nNewTip) {
    return RunCatching([&] {
        NotifyIconData record = freshRecord(NIF_TIP);
        WriteTip(record, nNewTip);
        CurrentNotificationArea().Shell_NotifyIcon(NIM_MODIFY, record);
    });
}

std::int32_t clsTrayIcon::ChangeTipDetails(const QString& sLines) {
    return RunCatching([&] {
        details_ = sLines;
        if (hWnd_ != 0)
            CurrentNotificationArea().SetTipDetails(hWnd_, kIconId, details_);
    });
}

std::int32_t clsTrayIcon::ShowBalloon(const QString& sTitle, const QString& sText) {
    return RunCatching(
        [&] { CurrentNotificationArea().ShowNotification(hWnd_, kIconId, sTitle, sText); });
}

std::int32_t clsTrayIcon::RemoveTrayIcon() {
    return RunCatching([&] {
        CurrentWindowProcedures().SetWindowLong(hWnd_, GWL_WNDPROC, modTrayIcon::OldWndProc);
        CurrentNotificationArea().Shell_NotifyIcon(NIM_DELETE, record_);
    });
}

NotifyIconData clsTrayIcon::freshRecord(std::int32_t uFlags) const {
    NotifyIconData record{};
    record.cbSize = kRecordSize;
    record.hWnd = hWnd_;
    record.uID = kIconId;
    record.uFlags = uFlags;
    return record;
}
