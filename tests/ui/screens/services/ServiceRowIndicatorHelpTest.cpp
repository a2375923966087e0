#include "ui/screens/services/ServiceListModel.h"
#include "ui/screens/services/ServiceRowDelegate.h"

#include <QHelpEvent>
#include <QListView>
#include <QStandardItemModel>
#include <QTest>
#include <QToolTip>

#include <gtest/gtest.h>

TEST(ServiceRowIndicatorHelp, OnlyTheIndicatorShowsItsHelp)
{
    QStandardItemModel model;
    auto *item = new QStandardItem(QStringLiteral("Legacy service"));
    item->setData(QStringLiteral("arrow.triangle.2.circlepath"), ServiceListModel::IndicatorSymbolRole);
    item->setData(QStringLiteral("Unlock to migrate this service"), ServiceListModel::IndicatorTooltipRole);
    // A row-wide tooltip must not come back through the item's own help.
    item->setData(QStringLiteral("Unlock to migrate this service"), Qt::ToolTipRole);
    model.appendRow(item);
    QListView list;
    list.setItemDelegate(new ServiceRowDelegate(&list));
    list.setModel(&model);
    list.resize(320, 200);
    list.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&list));

    const QModelIndex index = model.index(0, 0);
    const QRect indicator = ServiceRowDelegate::indicatorRect(list.visualRect(index), index);
    ASSERT_TRUE(indicator.isValid());
    // A shown tooltip fades out late, so the places without help come first.
    const auto helpAt = [&](const QPoint &point) {
        QHelpEvent event(QEvent::ToolTip, point, list.viewport()->mapToGlobal(point));
        QCoreApplication::sendEvent(list.viewport(), &event);
        return QToolTip::isVisible() ? QToolTip::text() : QString();
    };
    EXPECT_EQ(helpAt(QPoint(indicator.left() - 30, indicator.center().y())), QString());
    EXPECT_EQ(helpAt(list.visualRect(index).bottomRight() - QPoint(20, 10)), QString());
    EXPECT_EQ(helpAt(indicator.center()), QStringLiteral("Unlock to migrate this service"));
    QToolTip::hideText();
}

TEST(ServiceRowPress, ARowHeldDownDimsUntilReleasedOrLeft)
{
    QStandardItemModel model;
    model.appendRow(new QStandardItem(QStringLiteral("api")));
    model.appendRow(new QStandardItem(QStringLiteral("web")));
    QListView list;
    auto *delegate = new ServiceRowDelegate(&list);
    list.setItemDelegate(delegate);
    list.setModel(&model);
    list.resize(320, 200);
    list.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&list));
    const QModelIndex api = model.index(0, 0);
    const QModelIndex web = model.index(1, 0);
    const QPoint onApi = list.visualRect(api).center();

    QTest::mousePress(list.viewport(), Qt::LeftButton, {}, onApi);
    EXPECT_TRUE(delegate->isPressed(api));
    EXPECT_FALSE(delegate->isPressed(web));
    QTest::mouseRelease(list.viewport(), Qt::LeftButton, {}, onApi);
    EXPECT_FALSE(delegate->isPressed(api));

    QTest::mousePress(list.viewport(), Qt::LeftButton, {}, onApi);
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(list.viewport(), &leave);
    EXPECT_FALSE(delegate->isPressed(api));
    QTest::mouseRelease(list.viewport(), Qt::LeftButton, {}, onApi);

    // A press on empty space presses no row.
    QTest::mousePress(list.viewport(), Qt::LeftButton, {}, QPoint(20, list.viewport()->height() - 5));
    EXPECT_FALSE(delegate->isPressed(api) || delegate->isPressed(web));
}
