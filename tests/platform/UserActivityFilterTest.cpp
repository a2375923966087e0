#include "platform/UserActivityFilter.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QWindow>

#include <gtest/gtest.h>

TEST(UserActivityFilter, CountsPressesDragsKeysAndScrollsOncePerEventButNotMovesReleasesOrModifiers)
{
    UserActivityFilter filter;
    QSignalSpy activity(&filter, &UserActivityFilter::activity);

    QLineEdit field;
    field.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&field));
    QWindow *window = field.windowHandle();
    ASSERT_NE(window, nullptr);

    const QPoint inside(5, 5);
    QTest::mousePress(window, Qt::LeftButton, {}, inside);
    EXPECT_EQ(activity.count(), 1) << "a press reaches window and widget but counts once";
    QTest::mouseMove(window, QPoint(8, 8)); // still held: a drag
    EXPECT_EQ(activity.count(), 2);
    QTest::mouseRelease(window, Qt::LeftButton, {}, QPoint(8, 8));
    QTest::mouseMove(window, QPoint(9, 9)); // plain move
    EXPECT_EQ(activity.count(), 2);

    QTest::mousePress(window, Qt::RightButton, {}, inside);
    QTest::mouseRelease(window, Qt::RightButton, {}, inside);
    QTest::mousePress(window, Qt::MiddleButton, {}, inside);
    QTest::mouseRelease(window, Qt::MiddleButton, {}, inside);
    EXPECT_EQ(activity.count(), 4);

    QTest::keyPress(window, Qt::Key_A);
    QTest::keyRelease(window, Qt::Key_A);
    QTest::keyPress(window, Qt::Key_Shift);
    QTest::keyRelease(window, Qt::Key_Shift);
    EXPECT_EQ(activity.count(), 5);

    QWheelEvent wheel(QPointF(inside), QPointF(window->mapToGlobal(inside)), QPoint(), QPoint(0, 120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(window, &wheel);
    EXPECT_EQ(activity.count(), 6);
}

TEST(UserActivityFilter, NeverConsumesTheEvent)
{
    UserActivityFilter filter;
    QLineEdit field;
    field.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&field));
    field.setFocus();
    for (char key : {'a', 'b', 'c'})
        QTest::keyClick(field.windowHandle(), key);
    EXPECT_EQ(field.text(), QStringLiteral("abc"));
}
