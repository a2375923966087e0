#pragma once

#include "records/OutputTextBuffer.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QUuid>

#include <chrono>
#include <optional>

// The one owner of the live output of services. A child's output gathers
// here and is published at most once per `publishInterval`; `published` then
// names the services whose output changed, and readers pull it with
// `output`. The published text is shared with its readers (runtime entries,
// consoles), never copied for them: output arriving between publications
// waits beside it, so the text exists once until the next publication
// replaces it.
//
// Every published append, and every reset that empties a published text,
// gives the service's output a new generation, so a reader can tell whether it
// is in step even when a new run has grown to the length of the text it
// shows. Main thread.
class ServiceOutputPublisher final : public QObject {
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds publishInterval {50};
    // Output above `outputCutAbove` characters is cut to its last `outputKeep`.
    static constexpr qsizetype outputCutAbove = 200000;
    static constexpr qsizetype outputKeep = 150000;

    // What a reader holds of a service's output: its generation, and where
    // the text lies in everything the run has written (UTF-16 units).
    struct Mark {
        quint64 generation = 0;
        qsizetype startUnits = 0;
        qsizetype endUnits = 0;
    };

    struct Output {
        QString text;
        quint64 generation = 0;
        // The generation at which the output last started over.
        quint64 runGeneration = 0;
        // Units the cuts took from the front of the run's output.
        qsizetype droppedUnits = 0;

        Mark mark() const { return {generation, droppedUnits, droppedUnits + text.size()}; }
        // How a reader holding `seen` comes up to date: the units to drop from
        // the front of what it holds, after which the rest of `text` is new.
        // None when it must take the whole text: the output started over, or
        // was cut past everything the reader holds.
        std::optional<qsizetype> droppedSince(const Mark &seen) const;
    };

    explicit ServiceOutputPublisher(QObject *parent = nullptr);

    // A child's output, or with `replace` the text that takes the place of
    // all output so far.
    void append(const QUuid &serviceId, const QString &chunk, bool replace);
    // Empties the output at once, output on its way included (a stop, a new
    // run). False when there was none.
    bool reset(const QUuid &serviceId);
    void forget(const QUuid &serviceId);

    // The published output; an empty one for a service without output.
    const Output &output(const QUuid &serviceId) const;
    // The published text followed by the output on its way.
    QString currentText(const QUuid &serviceId) const;
    // Publishes the output on its way now rather than at the end of the interval.
    void publish();

Q_SIGNALS:
    // The services whose published output changed, after a publication.
    void published(const QList<QUuid> &serviceIds);

private:
    struct Live {
        OutputTextBuffer text {outputCutAbove, outputKeep};
        Output published;
        // Output since the last publication; with `restart`, it replaces the
        // published text instead of following it.
        OutputTextBuffer pending {outputCutAbove, outputKeep};
        bool restart = false;
    };

    QHash<QUuid, Live> m_live;
    QList<QUuid> m_pendingIds;
    quint64 m_lastGeneration = 0;
    QTimer m_timer;
};
