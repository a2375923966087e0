#pragma once

#include "execution/MachineMetricsProbes.h"
#include "execution/ProcessSnapshot.h"
#include "execution/ProcessSnapshotCollector.h"
#include "platform/ProcFileSystem.h"
#include "records/SerialExecutor.h"
#include "records/SystemMetrics.h"

#include <QList>
#include <QObject>
#include <QSet>
#include <QTimer>

#include <functional>
#include <memory>

class GPUUtilizationSampler;

// Publishes machine-wide CPU, memory and GPU load once a second and, on the
// same tick, hands snapshots of the tracked processes to whoever configured
// process sampling. Lives on the main thread; process collection runs on a
// thread of its own, one collection at a time.
class MonitoringManager final : public QObject {
    Q_OBJECT

public:
    using TrackedPIDsProvider = std::function<QSet<qint32>()>;
    using TrackedPathsProvider = std::function<QSet<QString>()>;
    using ProcessSnapshotsSink = std::function<void(const QList<ProcessSnapshot> &)>;

    static constexpr int tickIntervalMs = 1000;
    // Smaller moves of CPU or GPU load are not worth waking the screens for.
    static constexpr double republishThreshold = 0.15;

    explicit MonitoringManager(std::shared_ptr<GPUUtilizationSampler> gpuSampler,
                               ProcFileSystem fileSystem = ProcFileSystem::system(), QObject *parent = nullptr);
    ~MonitoringManager() override;

    const SystemMetrics &systemMetrics() const { return m_systemMetrics; }

    // Replaces all three callbacks; an absent provider counts as an empty set.
    void configureProcessSampling(TrackedPIDsProvider trackedPIDsProvider, TrackedPathsProvider trackedPathsProvider,
                                  ProcessSnapshotsSink processSnapshotsSink);

    // Starts (or cleanly restarts) sampling: rebuilds the GPU window for the
    // tick's length, takes a first GPU reading, runs one tick now and then one
    // every second.
    void start();

    // One sample of the machine and one round of process collection. The
    // timer calls it; tests drive it directly.
    void tick();

    // Whether `next` differs enough from what is published to be published.
    static bool differsFromPublished(const SystemMetrics &published, const SystemMetrics &next);

Q_SIGNALS:
    void systemMetricsChanged(const SystemMetrics &metrics);

private:
    void deliver(quint64 sequence, const QList<ProcessSnapshot> &snapshots);

    SystemMetrics m_systemMetrics;
    QTimer m_timer;
    TrackedPathsProvider m_pathProvider;
    TrackedPIDsProvider m_pidProvider;
    ProcessSnapshotsSink m_onProcessSnapshots;
    std::shared_ptr<GPUUtilizationSampler> m_gpuSampler;
    MachineMetricsProbes m_probes;

    // Each delivery to the sink carries the number of the tick that produced
    // it; a result older than the last one delivered is dropped.
    quint64 m_lastTick = 0;
    quint64 m_lastDelivered = 0;
    bool m_collectionInFlight = false;
    ProcessSnapshotCollector m_collector;
    SerialExecutor m_collection; // declared last: waits for a running collection before the rest goes
};
