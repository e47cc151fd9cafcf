#include "LauncherApp.h"

#include "AlertDelivery.h"
#include "StatusReporter.h"

LauncherApp::LauncherApp(const CoreServices& services, const QString& privateFolder)
    : ownCore_(std::make_unique<LauncherCore>(services)), core_(*ownCore_),
      status_(std::make_unique<StatusReporter>(core_)),
      alerts_(std::make_unique<AlertDelivery>(core_, privateFolder)) {}

LauncherApp::LauncherApp(LauncherCore& core, const QString& privateFolder)
    : core_(core), status_(std::make_unique<StatusReporter>(core_)),
      alerts_(std::make_unique<AlertDelivery>(core_, privateFolder)) {}

// The services go before the core they observe (the members' order).
LauncherApp::~LauncherApp() = default;
