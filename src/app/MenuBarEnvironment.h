#pragma once

#include <QCoroTask>
#include <QUuid>

#include <functional>

class AppEnvironment;
class EnvironmentProfilesManager;
class MonitoringManager;
class ProtectedProfilesLockManager;
class ServiceManager;

// What the tray panel needs of the application container: its managers and
// the few things the shell does for it.
struct MenuBarEnvironment {
    ServiceManager *serviceManager = nullptr;
    EnvironmentProfilesManager *environmentProfilesManager = nullptr;
    ProtectedProfilesLockManager *lockManager = nullptr;
    MonitoringManager *monitoringManager = nullptr;
    std::function<bool()> isReady;
    // Start-up; returns at once once it is done.
    std::function<QCoro::Task<>()> bootstrap;
    // Selects the Services section and the service.
    std::function<void(const QUuid &)> showService;
    // Selects the Services section, leaving the selected service alone.
    std::function<void()> showServicesSection;
    // The main window's quit question (a pending one is answered "no" first).
    std::function<QCoro::Task<bool>()> presentQuitConfirmation;
    // Starts the application's quit; it skips its question once
    // allowTermination() is true.
    std::function<void()> requestQuit;

    // The container's managers, readiness, start-up and navigation; the two
    // quit hooks stay the shell's to fill in.
    static MenuBarEnvironment from(AppEnvironment &app);
};
