#include "app/MenuBarEnvironment.h"

#include "app/AppEnvironment.h"

MenuBarEnvironment MenuBarEnvironment::from(AppEnvironment &app)
{
    MenuBarEnvironment environment;
    environment.serviceManager = &app.serviceManager();
    environment.environmentProfilesManager = &app.environmentProfilesManager();
    environment.lockManager = &app.protectedProfilesLockManager();
    environment.monitoringManager = &app.monitoringManager();
    environment.isReady = [&app] { return app.isReady(); };
    environment.bootstrap = [&app] { return app.bootstrap(); };
    environment.showService = [&app](const QUuid &id) { app.showService(id); };
    environment.showServicesSection = [&app] { app.showServicesSection(); };
    return environment;
}
