#include "execution/MonitoringManager.h"

#include "execution/GPUUtilizationSampler.h"
#include "platform/Logging.h"
#include "platform/ThreadPriority.h"

#include <cmath>
#include <exception>

MonitoringManager::MonitoringManager(std::shared_ptr<GPUUtilizationSampler> gpuSampler, ProcFileSystem fileSystem,
                                     QObject *parent)
    : QObject(parent),
      m_gpuSampler(std::move(gpuSampler)),
      m_probes(fileSystem),
      m_collector(std::move(fileSystem))
{
    m_timer.setInterval(tickIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, &MonitoringManager::tick);
}

MonitoringManager::~MonitoringManager() = default;

void MonitoringManager::configureProcessSampling(TrackedPIDsProvider trackedPIDsProvider,
                                                 TrackedPathsProvider trackedPathsProvider,
                                                 ProcessSnapshotsSink processSnapshotsSink)
{
    m_pidProvider = std::move(trackedPIDsProvider);
    m_pathProvider = std::move(trackedPathsProvider);
    m_onProcessSnapshots = std::move(processSnapshotsSink);
}

void MonitoringManager::start()
{
    m_timer.stop();
    if (m_gpuSampler) {
        m_gpuSampler->stop();
        m_gpuSampler->updateWindow(tickIntervalMs / 1000.0);
        // One reading now, so the first tick already has a GPU figure.
        if (const auto &probe = m_gpuSampler->probe()) {
            if (const auto value = probe())
                m_gpuSampler->addReading(*value);
        }
        m_gpuSampler->start();
    }
    tick();
    m_timer.start();
}

bool MonitoringManager::differsFromPublished(const SystemMetrics &published, const SystemMetrics &next)
{
    const bool cpuSteady = std::abs(next.cpuPercent - published.cpuPercent) < republishThreshold;
    const bool memorySteady =
        next.memoryUsedBytes == published.memoryUsedBytes && next.memoryTotalBytes == published.memoryTotalBytes;
    const bool gpuSteady = (!next.gpuPercent && !published.gpuPercent)
                           || (next.gpuPercent && published.gpuPercent
                               && std::abs(*next.gpuPercent - *published.gpuPercent) < republishThreshold);
    return !(cpuSteady && memorySteady && gpuSteady);
}

void MonitoringManager::tick()
{
    const std::optional<double> gpu = m_gpuSampler ? m_gpuSampler->currentAverage() : std::nullopt;
    const auto memory = m_probes.sampleHostMemory();
    const double cpu = m_probes.sampleHostCPULoad();
    const SystemMetrics next = SystemMetrics::make(cpu, memory.usedBytes, memory.totalBytes, gpu);
    if (differsFromPublished(m_systemMetrics, next)) {
        m_systemMetrics = next;
        Q_EMIT systemMetricsChanged(m_systemMetrics);
    }

    const QSet<QString> paths = m_pathProvider ? m_pathProvider() : QSet<QString>();
    const QSet<qint32> pids = m_pidProvider ? m_pidProvider() : QSet<qint32>();
    const quint64 sequence = ++m_lastTick;
    if (paths.isEmpty() && pids.isEmpty()) {
        deliver(sequence, {});
        return;
    }
    // A collection still running (a loaded machine, a slow /proc) is not
    // doubled up; its result is delivered when it comes.
    if (m_collectionInFlight)
        return;
    m_collectionInFlight = true;
    m_collection.run([this, sequence, paths, pids] {
        static thread_local const bool prepared = (makeCurrentThreadUtility("process-sampler"), true);
        Q_UNUSED(prepared);
        QList<ProcessSnapshot> snapshots;
        try {
            snapshots = m_collector.collect(paths, pids);
        } catch (const std::exception &error) {
            qCCritical(lcMonitoring, "Process snapshot failed: %s", error.what());
        }
        // The manager outlives this job: its destructor waits for the
        // collection thread before the object goes, and a queued call to a
        // destroyed object is discarded.
        QMetaObject::invokeMethod(
            this,
            [this, sequence, snapshots = std::move(snapshots)] {
                m_collectionInFlight = false;
                deliver(sequence, snapshots);
            },
            Qt::QueuedConnection);
    });
}

void MonitoringManager::deliver(quint64 sequence, const QList<ProcessSnapshot> &snapshots)
{
    if (sequence < m_lastDelivered)
        return;
    m_lastDelivered = sequence;
    if (m_onProcessSnapshots)
        m_onProcessSnapshots(snapshots);
}
