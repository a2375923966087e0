#include "execution/ServiceOutputPublisher.h"

#include <utility>

std::optional<qsizetype> ServiceOutputPublisher::Output::droppedSince(const Mark &seen) const
{
    if (seen.generation < runGeneration || seen.generation > generation)
        return std::nullopt;
    if (seen.endUnits < droppedUnits || seen.endUnits > droppedUnits + text.size())
        return std::nullopt;
    return droppedUnits - seen.startUnits;
}

ServiceOutputPublisher::ServiceOutputPublisher(QObject *parent)
    : QObject(parent)
{
    m_timer.setSingleShot(true);
    m_timer.setInterval(publishInterval);
    connect(&m_timer, &QTimer::timeout, this, &ServiceOutputPublisher::publish);
}

void ServiceOutputPublisher::append(const QUuid &serviceId, const QString &chunk, bool replace)
{
    Live &live = m_live[serviceId];
    if (replace) {
        live.pending.clear();
        live.restart = true;
    }
    // Output on its way that alone exceeds the limit replaces what was published.
    if (live.pending.append(chunk))
        live.restart = true;
    if (!m_pendingIds.contains(serviceId))
        m_pendingIds.append(serviceId);
    if (!m_timer.isActive())
        m_timer.start();
}

bool ServiceOutputPublisher::reset(const QUuid &serviceId)
{
    const auto live = m_live.find(serviceId);
    if (live == m_live.end())
        return false;
    m_pendingIds.removeOne(serviceId);
    const bool hadOutput = !live->published.text.isEmpty() || !live->pending.text().isEmpty() || live->restart;
    live->pending.clear();
    live->restart = false;
    if (live->published.text.isEmpty())
        return hadOutput;
    live->text.clear();
    live->published = Output {};
    live->published.generation = live->published.runGeneration = ++m_lastGeneration;
    return true;
}

void ServiceOutputPublisher::forget(const QUuid &serviceId)
{
    m_live.remove(serviceId);
    m_pendingIds.removeOne(serviceId);
}

const ServiceOutputPublisher::Output &ServiceOutputPublisher::output(const QUuid &serviceId) const
{
    static const Output none;
    const auto live = m_live.constFind(serviceId);
    return live != m_live.cend() ? live->published : none;
}

QString ServiceOutputPublisher::currentText(const QUuid &serviceId) const
{
    const auto live = m_live.constFind(serviceId);
    if (live == m_live.cend())
        return {};
    if (live->restart)
        return live->pending.text();
    OutputTextBuffer current = live->text;
    current.append(live->pending.text());
    return current.text();
}

void ServiceOutputPublisher::publish()
{
    QList<QUuid> changed;
    for (const QUuid &id : std::as_const(m_pendingIds)) {
        Live &live = m_live[id];
        Output &output = live.published;
        if (std::exchange(live.restart, false)) {
            live.text = std::exchange(live.pending, OutputTextBuffer {outputCutAbove, outputKeep});
            output.runGeneration = m_lastGeneration + 1;
            output.droppedUnits = 0;
        } else if (!live.pending.text().isEmpty()) {
            const qsizetype units = live.text.text().size() + live.pending.text().size();
            live.text.append(live.pending.text());
            live.pending.clear();
            output.droppedUnits += units - live.text.text().size();
        } else {
            continue;
        }
        output.text = live.text.text();
        output.generation = ++m_lastGeneration;
        changed.append(id);
    }
    m_pendingIds.clear();
    if (!changed.isEmpty())
        Q_EMIT published(changed);
}
