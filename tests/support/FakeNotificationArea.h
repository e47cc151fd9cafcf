#pragma once

#include "DesktopServices.h"

#include <QStringList>
#include <algorithm>
#include <tuple>
#include <vector>

// A notification area that records every call; it stands in for the desktop's while it lives.
class FakeNotificationArea final : public NotificationArea {
public:
    std::vector<std::pair<std::int32_t, NotifyIconData>> calls;
    QStringList notes; // each desktop notification, as "title: text"
    QString details;   // the lines under the tip, as last set
    bool available = true;

    FakeNotificationArea() { SetNotificationArea(this); }
    ~FakeNotificationArea() override { SetNotificationArea(nullptr); }
    bool IsAvailable() override { return available; }
    std::int32_t Shell_NotifyIcon(std::int32_t dwMessage, const NotifyIconData& data) override {
        calls.emplace_back(dwMessage, data);
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
    int count(std::int32_t operation) const {
        return static_cast<int>(std::count_if(calls.begin(), calls.end(),
                                              [&](const auto& c) { return c.first == operation; }));
    }
    // Whether an icon shows, and its picture and tip: those of the last add or change of each.
    std::tuple<bool, IconHandle, QString> showing() const {
        std::tuple<bool, IconHandle, QString> view;
        for (const auto& [operation, record] : calls) {
            if (operation == NIM_DELETE || operation == NIM_ADD)
                view = {operation == NIM_ADD, 0, QString()};
            if (operation != NIM_DELETE && (record.uFlags & NIF_ICON))
                std::get<1>(view) = record.hIcon;
            if (operation != NIM_DELETE && (record.uFlags & NIF_TIP))
                std::get<2>(view) = QString::fromLatin1(record.szTip.data());
        }
        return view;
    }
    QString tip() const { return std::get<2>(showing()); }
    // The tip as a tray of several lines shows it.
    QString fullTip() const { return details.isEmpty() ? tip() : tip() + u'\n' + details; }
};
