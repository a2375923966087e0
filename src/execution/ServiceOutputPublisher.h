#pragma once

#include "records/OutputTextBuffer.h"
#include "records/ServiceRuntimeInfo.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>
#include <QUuid>

#include <chrono>
#include <optional>

// The live output of running children on its way into the runtime table.
// Output is gathered as it arrives and copied into the entries'
// `processOutput` at most once per publication interval, when
// `publicationDue` asks the owner to publish. Each publication of an entry is
// announced by `outputAppended` with what changed since the previous one.
//
// The table belongs to the owner; the publisher writes only the output of its
// entries (creating a fresh entry when output arrives for an unknown id).
// Main thread.
class ServiceOutputPublisher final : public QObject {
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds publishInterval {50};
    // Output above `outputCutAbove` UTF-16 units is cut to its last `outputKeep`.
    static constexpr qsizetype outputCutAbove = 200000;
    static constexpr qsizetype outputKeep = 150000;

    explicit ServiceOutputPublisher(QHash<QUuid, ServiceRuntimeInfo> &runtime, QObject *parent = nullptr);

    // Output of a child, or with `replace` the text that takes the place of
    // all output so far.
    void append(const QUuid &serviceId, const QString &chunk, bool replace);
    // Copies the gathered output into the entry, when anything is pending.
    void sync(const QUuid &serviceId);
    void syncAll();
    // The gathered output, when the service has any.
    std::optional<QString> liveText(const QUuid &serviceId) const;

    // Around every whole write of an entry: before it, live output the entry
    // empties is dropped and other pending output copied in; then, with the
    // entry the write replaces (null for a new one), a text that is not the
    // entry's own continuation is noted to reach consoles as a new text.
    void beforeEntryWrite(const ServiceRuntimeInfo &entry);
    void entryWritten(const ServiceRuntimeInfo *previous, const ServiceRuntimeInfo &entry);

    // Entries whose output was copied in but not announced yet; announcing
    // them is the owner's (through `announce`).
    QSet<QUuid> takeUnannounced();
    void markAnnounced(const QUuid &serviceId);
    // Emits outputAppended for the entry's output as the table holds it now.
    void announce(const QUuid &serviceId);

    // Forgets the live output of a service, or also what was announced for it.
    void discardLive(const QUuid &serviceId);
    void forget(const QUuid &serviceId);

Q_SIGNALS:
    void outputAppended(const QUuid &serviceId, const QString &text, qsizetype charactersDroppedFromFront);
    void publicationDue();

private:
    // Output of running children as it arrives, with what was appended to it
    // (or whether it started over) since it was last copied into the table.
    struct LiveOutput {
        OutputTextBuffer buffer {outputCutAbove, outputKeep};
        qsizetype appendedUnits = 0;
        bool restarted = false;
    };
    // What the last outputAppended left a console with, and what happened to
    // the entry's output since: appends (with cuts at the front) or a restart.
    struct OutputAnnouncement {
        qsizetype announcedUnits = 0;
        qsizetype appendedUnits = 0;
        bool restarted = false;
    };

    QHash<QUuid, ServiceRuntimeInfo> &m_runtime;
    QHash<QUuid, LiveOutput> m_liveOutput;
    QHash<QUuid, OutputAnnouncement> m_announcements;
    // `stale` ids have text not yet in the table, `unannounced` ones text in
    // it not yet signalled.
    QSet<QUuid> m_stale;
    QSet<QUuid> m_unannounced;
    QTimer m_timer;
};
