#pragma once

#include "DesktopHandles.h"
#include "NotificationArea.h"

#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QString>
#include <cstdint>
#include <memory>

// One icon with a tooltip in the desktop's notification area, shown on behalf of a window. While
// the icon is shown, the window's procedure is replaced by modTrayIcon::TrayWndProc, which turns
// mouse activity on the icon into the nine events below, raised on the most recently created
// instance.
//
// Every method returns 0 when it ran through, otherwise the number of the error that stopped it:
// 7 when memory ran out, the code of a std::system_error, 51 for anything else. Nothing is ever
// thrown. A refusal by the desktop is not an error.
class clsTrayIcon : public QObject {
    Q_OBJECT
public:
    // A new instance, which from now on receives the events of the icon.
    static std::shared_ptr<clsTrayIcon> Create();

    // Hooks the window and adds the icon with the tip (its first 63 characters) and the picture.
    std::int32_t ShowTrayIcon(WindowHandle lHWnd, const QString& sTip, IconHandle lIcon);
    // Changes the picture of the shown icon.
    std::int32_t ChangeIcon(IconHandle lNewIcon);
    // Changes the tip of the shown icon (its first 63 characters).
    std::int32_t ChangeTip(const QString& nNewTip);
    // Lines under the tip, on trays whose tips take several lines; kept for the icons shown later.
    std::int32_t ChangeTipDetails(const QString& sLines);
    const QString& TipDetails() const { return details_; }
    // Raises a desktop notification from the shown icon; where the desktop has no notification
    // service, nothing shows.
    std::int32_t ShowBalloon(const QString& sTitle, const QString& sText);
    // Gives the window its own procedure back and removes the icon.
    std::int32_t RemoveTrayIcon();

    // The menu that the window pops up on RightButtonDown, for trays that show an icon's menu
    // themselves; takes effect from the next ShowTrayIcon.
    void SetMenu(QMenu* menu) { menu_ = menu; }

    // The icon's identity and callback message in the notification area.
    static constexpr std::int32_t kIconId = 1;
    static constexpr std::int32_t kCallbackMessage = WM_USER + 1;

signals:
    void LeftButtonUp();
    void LeftButtonDown();
    void LeftButtonDoubleClick();
    void RightButtonUp();
    void RightButtonDown();
    void RightButtonDoubleClick();
    void MiddleButtonUp();
    void MiddleButtonDown();
    void MiddleButtonDoubleClick();

private:
    clsTrayIcon() = default;

    // A record for this icon with only the fields common to every call filled in.
    NotifyIconData freshRecord(std::int32_t uFlags) const;

    WindowHandle hWnd_ = 0;
    QPointer<QMenu> menu_;
    QString details_;
    NotifyIconData record_{}; // as ShowTrayIcon filled it
};
