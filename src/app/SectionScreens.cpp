#include "app/SectionScreens.h"

#include "app/AppEnvironment.h"
#include "ui/screens/dashboard/DashboardView.h"
#include "ui/screens/profiles/EnvironmentProfilesView.h"
#include "ui/screens/settings/SettingsView.h"
#include "ui/screens/services/ServicesController.h"
#include "ui/screens/services/ServicesView.h"

namespace {

QWidget *makeServicesScreen(AppEnvironment &app, QWidget *parent)
{
    auto *view =
        new ServicesView(app.serviceManager(), app.environmentProfilesManager(), app.protectedProfilesLockManager(),
                         app.runHistoryManager(), &app.bookmarks(), parent);
    if (const auto &id = app.selectedServiceID())
        view->selectService(*id);
    // Another screen asked for a service: the list drops its search and filter
    // and shows it, also when it is the one already selected.
    QObject::connect(&app, &AppEnvironment::serviceNavigationTickChanged, view, [view, &app] {
        view->resetNavigation();
        if (const auto &id = app.selectedServiceID())
            view->selectService(*id);
    });
    QObject::connect(&view->controller(), &ServicesController::selectedServiceIDChanged, &app,
                     [view, &app] { app.setSelectedServiceID(view->controller().selectedServiceID()); });
    return view;
}

} // namespace

QWidget *makeSectionScreen(AppSection section, AppEnvironment &app, QWidget *parent)
{
    switch (section) {
    case AppSection::dashboard:
        return new DashboardView(
            &app.serviceManager(), &app.monitoringManager(), [&app](const QUuid &id) { app.showService(id); }, parent);
    case AppSection::environmentProfiles:
        return new EnvironmentProfilesView(&app.environmentProfilesManager(), &app.protectedProfilesLockManager(),
                                           parent);
    case AppSection::services:
        return makeServicesScreen(app, parent);
    }
    return nullptr;
}

QWidget *makeSettingsScreen(AppEnvironment &app, QWidget *parent)
{
    auto *view = new SettingsView(
        &app.settingsRepository(), [&app] { return app.settings(); },
        [&app](const AppSettings &settings) { app.setSettings(settings); }, parent);
    view->setApplicationReady(app.isReady());
    QObject::connect(&app, &AppEnvironment::readyChanged, view, &SettingsView::setApplicationReady);
    QObject::connect(&app, &AppEnvironment::settingsChanged, view, [view] { view->applicationSettingsChanged(); });
    return view;
}
