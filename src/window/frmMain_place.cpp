// Where the window stands and what names it beside its caption: the server folder. At the designed
// size, centred, unless the operator let the window grow: then it may be resized and maximised,
// and its place is remembered for the server folder.
#include "frmMain.h"

#include "LauncherSettings.h"
#include "WindowPlacement.h"
#include "WindowPlaces.h"
#include "frmMain_layout.h"

void frmMain::placeWindow() {
    const QString folder = core_.services().serverFolder;
    // Two launchers share one caption; the desktop's lists and tooltips can tell them apart.
    setWindowFilePath(folder);
    setWindowRole(QStringLiteral("launcher:") + folder);
    setWindowIconText(windowTitle() + QStringLiteral(" - ") + folder);
    if (core_.settings().OptedIn(LauncherSettings::kWindowGrow)) {
        allowGrowing(true);
        WindowPlacement::PlaceAtOpening(*this, *places_);
    } else {
        WindowPlacement::Centre(*this);
    }
}

bool frmMain::WindowGrows() const {
    return places_ != nullptr;
}

void frmMain::LetWindowGrow(bool on) {
    if (on == WindowGrows())
        return;
    core_.settings().SetOptIn(LauncherSettings::kWindowGrow, on);
    allowGrowing(on);
}

void frmMain::allowGrowing(bool on) {
    const bool shown = isVisible();
    if (on) {
        places_ = std::make_unique<WindowPlaces>(core_.settings(), core_.services().serverFolder);
        setMinimumSize(frmMainLayout::kDesignedSize);
        setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    } else {
        places_.reset();
        setWindowState(windowState() & ~(Qt::WindowMaximized | Qt::WindowFullScreen));
        setFixedSize(frmMainLayout::kDesignedSize);
    }
    // A change of the window's flags hides it; a shown window is shown again.
    if (on != bool(windowFlags() & Qt::WindowMaximizeButtonHint)) {
        setWindowFlag(Qt::WindowMaximizeButtonHint, on);
        if (shown) { // from its own menu: it keeps the focus
            show();
            activateWindow();
        }
    }
}

void frmMain::rememberPlace(const QByteArray& place) {
    if (places_)
        places_->Remember(place);
}
