#pragma once

#include "DesktopServices.h"

#include <QStringList>
#include <tuple>

// A notification area that records every call; it stands in for the desktop's while it lives.
class FakeNotificationArea final : public NotificationArea {
public:
    QList<std::int32_t> operations; // each add, change or removal of an icon, in turn
    std::tuple<bool, IconHandle, QString> showing; // whether an icon shows, its picture and tip
    QStringList notes;                             // each desktop notification, "title: text"
    QString details;                               // the lines under the tip, as last set

    FakeNotificationArea() { SetNotificationArea(this); }
    ~FakeNotificationArea() override { SetNotificationArea(nullptr); }
    bool IsAvailable() override { return true; }
    std::int32_t Shell_NotifyIcon(std::int32_t operation, const NotifyIconData& data) override {
        operations << operation;
        if (operation == NIM_DELETE || operation == NIM_ADD)
            showing = {operation == NIM_ADD, 0, QString()};
        if (operation != NIM_DELETE && (data.uFlags & NIF_ICON))
            std::get<1>(showing) = data.hIcon;
        if (operation != NIM_DELETE && (data.uFlags & NIF_TIP))
            std::get<2>(showing) = QString::fromLatin1(data.szTip.data());
        return 1;
    }
    std::int32_t ShowNotification(WindowHandle, std::int32_t, const QString& title,
                                  const QString& text) override {
        notes << title + ": " + text;
        return 1;
    }
    void SetTipDetails(WindowHandle, std::int32_t, const QString& lines) override {
        details = lines;
    }
    // The tip as a tray of several lines shows it.
    QString fullTip() const {
        return std::get<2>(showing) + (details.isEmpty() ? QString() : "\n" + details);
    }
};
