#include "TerminationHandling.h"

#include "TerminationRequests.h"
#include "frmMain.h"

#include <QGuiApplication>
#include <memory>

void EndLikeClosingTheWindow(frmMain& window) {
    // Repeated requests (Ctrl-C twice, a signal while the session ends) end it only once.
    auto ending = std::make_shared<bool>(false);
    const auto unload = [&window, ending] {
        if (*ending)
            return;
        *ending = true;
        window.Form_Unload();
    };
    WatchTerminationRequests(&window, unload);
    QObject::connect(qGuiApp, &QGuiApplication::commitDataRequest, &window,
                     [unload](QSessionManager&) { unload(); });
}
