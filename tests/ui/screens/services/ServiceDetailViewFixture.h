#pragma once

#include "execution/ServiceManagerFixture.h"
#include "ui/screens/services/ServiceDetailView.h"
#include "ui/screens/services/ServicesController.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>

// A detail view over the Services controller and real managers in the test's
// data folder, with fake authentication and keyring.
struct ServiceDetailViewTest : ServiceManagerTest {
    ServicesController controller {manager, profiles, lockManager, history};
    std::unique_ptr<ServiceDetailView> view;
    const QDateTime start = QDateTime(QDate(2026, 3, 14), QTime(9, 30), Qt::UTC);

    ServiceDetailViewTest() { view = std::make_unique<ServiceDetailView>(controller); }

    ~ServiceDetailViewTest() override { view.reset(); }

    ManagedService makeService(const QString &name, const QString &command = QStringLiteral("npm run dev"),
                               bool openInTerminal = false, std::optional<QUuid> profileId = std::nullopt) const
    {
        return {QUuid::createUuid(), name, command, openInTerminal, profileId, start, start};
    }

    // The output is published as the service's live output as well.
    ServiceRuntimeInfo runtime(const ManagedService &service, ServiceLifecycleState state,
                               std::optional<qint32> pid = std::nullopt, const QString &output = {})
    {
        ServiceRuntimeInfo info = ServiceRuntimeInfo::fresh(service.id);
        info.state = state;
        info.pid = pid;
        info.processOutput = output;
        ServiceManagerTestAccess::publishOutput(manager, service.id, output);
        return info;
    }

    void show(const ManagedService &service, const ServiceRuntimeInfo &info)
    {
        view->setService(service);
        view->setRuntime(info);
    }

    ServiceRunRecord makeRun(const QUuid &serviceId, ServiceRunStopReason reason, std::optional<qint32> exitCode,
                             int minutesAfterStart = 0) const
    {
        ServiceRunRecord record;
        record.id = QUuid::createUuid();
        record.serviceId = serviceId;
        record.startedAt = start.addSecs(60 * minutesAfterStart);
        record.endedAt = record.startedAt.addSecs(125);
        record.pid = 4242;
        record.peakCpuPercent = 7.25;
        record.peakMemoryBytes = 48 * 1024 * 1024;
        record.stopReason = reason;
        record.exitCode = exitCode;
        record.output = QStringLiteral("listening on :3000\n");
        return record;
    }

    // The named descendant of `root` (the view by default) as a T, or null.
    template <typename T>
    T *lookup(const char *name, QObject *root = nullptr) const
    {
        QObject *parent = root ? root : view.get();
        return dynamic_cast<T *>(parent->findChild<QObject *>(QString::fromLatin1(name)));
    }

    // The same, failing the test when there is none.
    template <typename T>
    T *find(const char *name, QObject *root = nullptr) const
    {
        T *found = lookup<T>(name, root);
        if (!found)
            throw std::runtime_error(std::string("no widget named ") + name);
        return &*found;
    }
};
