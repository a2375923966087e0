#pragma once

#include "execution/ProcessSnapshot.h"
#include "records/ServiceRuntimeInfo.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>
#include <QUuid>

// Brings the runtime entries of the services in line with one collection of
// process snapshots: a service whose process lives is running with that
// process's figures, one whose process has gone is stopped. It only decides;
// the manager books the figures and the ends and publishes the entries.
class ProcessSnapshotReconciliation {
public:
    // What the manager knows of a service's process at the collection.
    struct Observation {
        enum class Kind {
            // An exit or a stop under way books the run: the entry stays as it is.
            undecided,
            live,
            gone,
        };
        QUuid serviceId;
        Kind kind = Kind::gone;
        qint32 pid = 0;
        // A child launched here leads a session of its own.
        bool ownChild = false;
        // A process was still recorded for the service.
        bool tracked = false;
    };

    struct Usage {
        QUuid serviceId;
        double cpuPercent = 0;
        quint64 memoryBytes = 0;
        qint32 pid = 0;
    };

    struct Result {
        QHash<QUuid, ServiceRuntimeInfo> runtime;
        // The entries that differ from before, in the order observed.
        QList<QUuid> changed;
        QList<Usage> usages;
        // The services whose process went.
        QList<QUuid> endings;
    };

    ProcessSnapshotReconciliation(const QList<ProcessSnapshot> &snapshots, QDateTime now);

    const QDateTime &now() const { return m_now; }

    Result reconcile(QHash<QUuid, ServiceRuntimeInfo> runtime, const QList<Observation> &observations) const;

private:
    // An own child's figures are those of every process of its session, which
    // it leads: the launched shell often only waits while its children work.
    Usage usageOf(const ProcessSnapshot &snapshot, const Observation &observation) const;

    QHash<qint32, ProcessSnapshot> m_snapshotsByPid;
    QHash<qint32, Usage> m_usageBySession;
    QDateTime m_now;
};
