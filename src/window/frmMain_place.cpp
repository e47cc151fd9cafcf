// Where the window stands and what names it beside its caption: the server folder.
#include "frmMain.h"

#include "WindowPlacement.h"
#include "WindowPlaces.h"

void frmMain::placeWindow() {
    const QString folder = core_.services().serverFolder;
    // Two launchers share one caption; the desktop's lists and tooltips can tell them apart.
    setWindowFilePath(folder);
    setWindowRole(QStringLiteral("launcher:") + folder);
    setWindowIconText(windowTitle() + QStringLiteral(" - ") + folder);
    places_ = std::make_unique<WindowPlaces>(core_.settings(), folder);
    WindowPlacement::PlaceAtOpening(*this, *places_);
}

void frmMain::rememberPlace(const QByteArray& place) {
    places_->Remember(place);
}
