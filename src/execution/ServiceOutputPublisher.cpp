#include "execution/ServiceOutputPublisher.h"

#include <utility>

ServiceOutputPublisher::ServiceOutputPublisher(QHash<QUuid, ServiceRuntimeInfo> &runtime, QObject *parent)
    : QObject(parent),
      m_runtime(runtime)
{
    m_timer.setSingleShot(true);
    m_timer.setInterval(publishInterval);
    connect(&m_timer, &QTimer::timeout, this, &ServiceOutputPublisher::publicationDue);
}

void ServiceOutputPublisher::append(const QUuid &serviceId, const QString &chunk, bool replace)
{
    auto entry = m_runtime.find(serviceId);
    if (entry == m_runtime.end())
        entry = m_runtime.insert(serviceId, ServiceRuntimeInfo::fresh(serviceId));
    auto live = m_liveOutput.find(serviceId);
    if (live == m_liveOutput.end()) {
        live = m_liveOutput.insert(serviceId, LiveOutput {});
        if (!replace && !entry->processOutput.isEmpty())
            live->buffer.append(entry->processOutput);
    }
    if (replace) {
        live->buffer.clear();
        live->restarted = true;
        live->appendedUnits = 0;
    }
    live->buffer.append(chunk);
    live->appendedUnits += chunk.size();
    m_stale.insert(serviceId);
    if (!m_timer.isActive())
        m_timer.start();
}

void ServiceOutputPublisher::sync(const QUuid &serviceId)
{
    if (!m_stale.remove(serviceId))
        return;
    const auto entry = m_runtime.find(serviceId);
    const auto live = m_liveOutput.find(serviceId);
    if (entry == m_runtime.end() || live == m_liveOutput.end())
        return;
    entry->processOutput = live->buffer.text();
    OutputAnnouncement &announcement = m_announcements[serviceId];
    announcement.appendedUnits += std::exchange(live->appendedUnits, 0);
    if (std::exchange(live->restarted, false))
        announcement.restarted = true;
    m_unannounced.insert(serviceId);
}

void ServiceOutputPublisher::syncAll()
{
    const QSet<QUuid> stale = m_stale;
    for (const QUuid &id : stale)
        sync(id);
}

std::optional<QString> ServiceOutputPublisher::liveText(const QUuid &serviceId) const
{
    if (const auto live = m_liveOutput.constFind(serviceId); live != m_liveOutput.cend())
        return live->buffer.text();
    return std::nullopt;
}

void ServiceOutputPublisher::beforeEntryWrite(const ServiceRuntimeInfo &entry)
{
    if (entry.processOutput.isEmpty())
        discardLive(entry.serviceId);
    else
        sync(entry.serviceId);
}

void ServiceOutputPublisher::entryWritten(const ServiceRuntimeInfo *previous, const ServiceRuntimeInfo &entry)
{
    // Output written whole rather than appended (other than the clear, which
    // the announcement tells apart by itself) reaches consoles as a new text.
    if (!entry.processOutput.isEmpty()
        && (!previous || previous->processOutput.constData() != entry.processOutput.constData()
            || previous->processOutput.size() != entry.processOutput.size()))
        m_announcements[entry.serviceId].restarted = true;
    m_unannounced.remove(entry.serviceId);
}

QSet<QUuid> ServiceOutputPublisher::takeUnannounced()
{
    return std::exchange(m_unannounced, {});
}

void ServiceOutputPublisher::markAnnounced(const QUuid &serviceId)
{
    m_unannounced.remove(serviceId);
}

void ServiceOutputPublisher::announce(const QUuid &serviceId)
{
    const QString text = m_runtime.value(serviceId).processOutput;
    const OutputAnnouncement previous = std::exchange(m_announcements[serviceId], {text.size(), 0, false});
    // The appends since the last announcement are the text's tail, and what
    // the cuts took came off the front of the announced text. When the cuts
    // reached into the appended part, or the text started over, the whole
    // text is the addition.
    qsizetype dropped = previous.announcedUnits;
    QString added = text;
    const qsizetype cut = previous.announcedUnits + previous.appendedUnits - text.size();
    if (!previous.restarted && previous.appendedUnits <= text.size() && cut >= 0 && cut <= previous.announcedUnits) {
        dropped = cut;
        added = text.right(previous.appendedUnits);
    }
    if (dropped > 0 || !added.isEmpty())
        Q_EMIT outputAppended(serviceId, added, dropped);
}

void ServiceOutputPublisher::discardLive(const QUuid &serviceId)
{
    m_liveOutput.remove(serviceId);
    m_stale.remove(serviceId);
}

void ServiceOutputPublisher::forget(const QUuid &serviceId)
{
    discardLive(serviceId);
    m_unannounced.remove(serviceId);
    m_announcements.remove(serviceId);
}
