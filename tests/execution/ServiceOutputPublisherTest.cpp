#include "execution/ServiceOutputPublisher.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <functional>

namespace {

using Publisher = ServiceOutputPublisher;

// A run that starts with `base` published, then one change, seen by a reader
// that holds the base.
struct Change {
    const char *name;
    QString base;
    std::function<void(Publisher &, const QUuid &)> apply;
    QString text; // published afterwards
    std::optional<qsizetype> dropped;
};

} // namespace

TEST(ServiceOutputPublisher, ReadersFollowAppendsAndCutsAndTakeTheWholeTextAfterAReset)
{
    const QString big = QString(Publisher::outputCutAbove, QLatin1Char('x'));
    const QString keptOfBig = big.right(Publisher::outputKeep);
    const QString abc = QStringLiteral("abc");
    const QList<Change> changes {
        {"nothing new", abc, [](Publisher &, const QUuid &) {}, abc, 0},
        {"an append follows", abc, [](Publisher &p, const QUuid &id) { p.append(id, QStringLiteral("def"), false); },
         QStringLiteral("abcdef"), 0},
        {"a cut takes the front", QString(Publisher::outputKeep, QLatin1Char('a')),
         [](Publisher &p, const QUuid &id) { p.append(id, QString(60000, QLatin1Char('b')), false); },
         QString(90000, QLatin1Char('a')) + QString(60000, QLatin1Char('b')), 60000},
        // The next run has the same length: only the generation tells them apart.
        {"a reset, then a new run", abc,
         [](Publisher &p, const QUuid &id) {
             p.reset(id);
             p.append(id, QStringLiteral("xyz"), false);
         },
         QStringLiteral("xyz"), std::nullopt},
        {"a replacement of the same length", abc,
         [](Publisher &p, const QUuid &id) { p.append(id, QStringLiteral("xyz"), true); }, QStringLiteral("xyz"),
         std::nullopt},
        {"output on its way alone over the limit", abc,
         [&](Publisher &p, const QUuid &id) { p.append(id, big + QLatin1Char('x'), false); }, keptOfBig, std::nullopt},
        {"a forgotten output", abc, [](Publisher &p, const QUuid &id) { p.forget(id); }, QString(), std::nullopt},
    };
    for (const Change &change : changes) {
        SCOPED_TRACE(change.name);
        Publisher publisher;
        const QUuid id = QUuid::createUuid();
        publisher.append(id, change.base, false);
        publisher.publish();
        const Publisher::Mark seen = publisher.output(id).mark();
        const QString held = publisher.output(id).text;

        change.apply(publisher, id);
        EXPECT_EQ(publisher.currentText(id), change.text);
        publisher.publish();
        const Publisher::Output &output = publisher.output(id);
        EXPECT_EQ(output.text, change.text);
        EXPECT_EQ(output.generation != seen.generation, change.text != held || !change.dropped);
        ASSERT_EQ(output.droppedSince(seen), change.dropped);
        if (change.dropped) {
            EXPECT_EQ(held.mid(*change.dropped) + output.text.mid(held.size() - *change.dropped), output.text);
        }
    }
}

TEST(ServiceOutputPublisher, OutputWaitsForItsPublicationAndAResetDropsIt)
{
    Publisher publisher;
    QSignalSpy published(&publisher, &Publisher::published);
    const QUuid id = QUuid::createUuid();
    publisher.append(id, QStringLiteral("one "), false);
    publisher.append(id, QStringLiteral("two"), false);
    EXPECT_TRUE(publisher.output(id).text.isEmpty());
    EXPECT_EQ(publisher.currentText(id), QStringLiteral("one two"));
    ASSERT_TRUE(published.wait(int(Publisher::publishInterval.count()) * 20));
    EXPECT_EQ(published.takeFirst().at(0).value<QList<QUuid>>(), QList<QUuid> {id});
    EXPECT_EQ(publisher.output(id).text, QStringLiteral("one two"));

    publisher.append(id, QStringLiteral(" three"), false);
    EXPECT_TRUE(publisher.reset(id));
    EXPECT_TRUE(publisher.output(id).text.isEmpty());
    EXPECT_TRUE(publisher.currentText(id).isEmpty());
    EXPECT_FALSE(publisher.reset(id));
    publisher.publish();
    EXPECT_TRUE(published.isEmpty());
}
