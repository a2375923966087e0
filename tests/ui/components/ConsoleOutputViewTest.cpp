#include "ui/components/ConsoleOutputView.h"

#include "ui/components/SymbolIcon.h"
#include "ui/components/ThemeColor.h"
#include "ui/components/ThemeManager.h"

#include "QtPrinters.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

QString lines(int from, int count)
{
    QString text;
    for (int i = from; i < from + count; ++i)
        text += QStringLiteral("line %1 ").arg(i, 5, 10, QLatin1Char('0')) + QString(40, QLatin1Char('x'))
                + QLatin1Char('\n');
    return text;
}

// What the document shows: every kind of line break as one.
QString shown(const ConsoleOutputView &view)
{
    return view.textView()->document()->toPlainText();
}

QString asShown(QString text)
{
    return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
}

QString topLine(const ConsoleOutputView &view)
{
    const QScrollBar *bar = view.textView()->verticalScrollBar();
    return view.textView()->document()->findBlockByLineNumber(bar->value()).text();
}

struct ConsoleOutputViewTest : ::testing::Test {
    void SetUp() override
    {
        view = std::make_unique<ConsoleOutputView>();
        view->resize(480, 240);
        view->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(view.get()));
        // The pointer starts elsewhere: over the console it keeps the scroll bar.
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(view.get(), &leave);
    }
    QScrollBar *bar() const { return view->textView()->verticalScrollBar(); }
    bool settlesAtEnd()
    {
        return QTest::qWaitFor([&] { return bar()->maximum() > 0 && bar()->value() == bar()->maximum(); }, 10000);
    }

    std::unique_ptr<ConsoleOutputView> view;
};

} // namespace

TEST_F(ConsoleOutputViewTest, PlaceholderThenFirstTextFromTheTop)
{
    EXPECT_TRUE(view->isShowingPlaceholder());
    const auto children = view->findChildren<QWidget *>();
    const bool hasNoOutputLabel = std::any_of(children.begin(), children.end(), [](QWidget *w) {
        return w->accessibleName() == QStringLiteral("No output") && w->isVisible();
    });
    EXPECT_TRUE(hasNoOutputLabel);
    const bool hasTerminalSymbol = std::any_of(children.begin(), children.end(), [](QWidget *w) {
        return w->property(symbolNameProperty).toString() == QStringLiteral("terminal");
    });
    EXPECT_TRUE(hasTerminalSymbol);

    view->setContent(lines(0, 200), true);
    EXPECT_FALSE(view->isShowingPlaceholder());
    QTest::qWait(ConsoleOutputView::scrollDelayMs + ConsoleOutputView::scrollAnimationMs + 100);
    EXPECT_EQ(bar()->value(), 0) << "the first output is shown from the top";

    view->setContent(lines(0, 201), true);
    EXPECT_TRUE(settlesAtEnd()) << "following starts with the next change";

    view->setContent(QString(), true);
    EXPECT_TRUE(view->isShowingPlaceholder());
    EXPECT_TRUE(view->text().isEmpty());
}

TEST_F(ConsoleOutputViewTest, AutoScrollFollowsAppendsAndCuts)
{
    view->setContent(lines(0, 10), true);
    QString text = lines(0, 300);
    view->setContent(text, true);
    EXPECT_EQ(view->lastUpdatePath(), ConsoleOutputView::UpdatePath::append);
    EXPECT_TRUE(settlesAtEnd());

    // The runtime cut: the first 100.5 lines go, 50 new ones arrive.
    const QString next = text.mid(text.size() / 3 + 7) + lines(300, 50);
    view->setContent(next, true);
    EXPECT_EQ(view->lastUpdatePath(), ConsoleOutputView::UpdatePath::cutAndAppend);
    EXPECT_EQ(view->text(), next);
    EXPECT_EQ(shown(*view), asShown(next));
    EXPECT_TRUE(settlesAtEnd());
    EXPECT_FALSE(view->isScrollerVisible()) << "programmatic scrolls never show the scroll bar";
}

TEST_F(ConsoleOutputViewTest, WithoutAutoScrollNothingMovesTheView)
{
    view->setContent(lines(0, 10), false);
    view->setContent(lines(0, 400), false);
    bar()->setValue(120);
    const QString top = topLine(*view);

    view->setContent(lines(0, 450), false);
    QTest::qWait(ConsoleOutputView::scrollDelayMs + 50);
    EXPECT_EQ(view->lastUpdatePath(), ConsoleOutputView::UpdatePath::append);
    EXPECT_EQ(bar()->value(), 120);

    // A text that does not continue the old one replaces it, at the same place.
    view->setContent(lines(1000, 450), false);
    EXPECT_EQ(view->lastUpdatePath(), ConsoleOutputView::UpdatePath::reset);
    EXPECT_EQ(bar()->value(), 120);

    // Switching auto-scroll on with the same text scrolls once; off again does nothing.
    view->setContent(view->text(), true);
    EXPECT_TRUE(settlesAtEnd());
    bar()->setValue(10);
    view->setContent(view->text(), false);
    QTest::qWait(ConsoleOutputView::scrollDelayMs + 50);
    EXPECT_EQ(bar()->value(), 10);
    Q_UNUSED(top);
}

TEST_F(ConsoleOutputViewTest, CutAtTheFrontKeepsTheVisibleTextInPlace)
{
    const QString text = lines(0, 400);
    view->setContent(lines(0, 1), false);
    view->setContent(text, false);
    bar()->setValue(250);
    const QString top = topLine(*view);
    ASSERT_TRUE(top.startsWith(QStringLiteral("line 00250")));

    // A cut inside line 100, as a character-counted cut can fall.
    const qsizetype cut = text.indexOf(QStringLiteral("line 00100")) + 9;
    const QString next = text.mid(cut) + lines(400, 20);
    view->setContent(next, false);
    EXPECT_EQ(view->lastUpdatePath(), ConsoleOutputView::UpdatePath::cutAndAppend);
    EXPECT_EQ(shown(*view), asShown(next));
    EXPECT_EQ(topLine(*view), top);

    // A cut past the top line shows the new start.
    const QString later = next.mid(next.indexOf(QStringLiteral("line 00300"))) + lines(420, 5);
    view->setContent(later, false);
    EXPECT_EQ(view->lastUpdatePath(), ConsoleOutputView::UpdatePath::cutAndAppend);
    EXPECT_EQ(bar()->value(), 0);
}

TEST_F(ConsoleOutputViewTest, LineBreaksSplitAcrossUpdatesStayOneBreak)
{
    const QString text = QStringLiteral("alpha\r\nbeta\r") + lines(0, 50);
    view->setContent(QStringLiteral("alpha\r"), false);
    view->setContent(QStringLiteral("alpha\r\nbeta\r"), false);
    view->setContent(text, false);
    EXPECT_EQ(shown(*view), asShown(text));

    // Dropping "alpha\r" alone would split the CR LF pair: the view resets.
    view->followOutput(view->text().mid(6) + QStringLiteral("tail\r\n"), 6);
    EXPECT_EQ(view->lastUpdatePath(), ConsoleOutputView::UpdatePath::reset);
    EXPECT_EQ(view->text(), text.mid(6) + QStringLiteral("tail\r\n"));
    EXPECT_EQ(shown(*view), asShown(view->text()));

    // Dropping the whole first line (CR LF counted as one break) cuts in place.
    view->followOutput(view->text().mid(6) + QStringLiteral("more\r\n"), 6);
    EXPECT_EQ(view->lastUpdatePath(), ConsoleOutputView::UpdatePath::cutAndAppend);
    EXPECT_EQ(shown(*view), asShown(view->text()));
}

TEST_F(ConsoleOutputViewTest, FollowOutputTakesTheNewTextWithWhatWasCutFromTheFront)
{
    view->followOutput(QStringLiteral("one\n"), 0);
    EXPECT_FALSE(view->isShowingPlaceholder());
    view->followOutput(QStringLiteral("one\ntwo\n"), 0);
    EXPECT_EQ(view->lastUpdatePath(), ConsoleOutputView::UpdatePath::append);
    view->followOutput(QStringLiteral("two\nthree\n"), 4);
    EXPECT_EQ(view->lastUpdatePath(), ConsoleOutputView::UpdatePath::cutAndAppend);
    EXPECT_EQ(shown(*view), QStringLiteral("two\nthree\n"));
    // A cut past everything shown leaves only the new text.
    view->followOutput(QStringLiteral("five\n"), 15);
    EXPECT_EQ(view->text(), QStringLiteral("five\n"));
    EXPECT_EQ(shown(*view), QStringLiteral("five\n"));
    // The same text again changes nothing.
    view->setText(QStringLiteral("five\n"));
    EXPECT_EQ(view->lastUpdatePath(), ConsoleOutputView::UpdatePath::none);
}

TEST_F(ConsoleOutputViewTest, WholeNewTextsWhileFollowingLayOutOnlyTheEndUntilOutputRests)
{
    // Output faster than the runtime keeps it: each text is new from its first line.
    const QString first = lines(0, 2000);
    const QString second = lines(5000, 2000);
    ASSERT_GT(second.size(), ConsoleOutputView::tailOnlyAbove);
    view->setContent(lines(0, 10), true);
    view->setContent(first, true);
    view->setContent(second, true);
    EXPECT_EQ(view->lastUpdatePath(), ConsoleOutputView::UpdatePath::tailReset);
    EXPECT_EQ(view->text(), second);
    EXPECT_FALSE(view->isShowingWholeText());
    EXPECT_LT(shown(*view).size(), second.size() / 4);
    EXPECT_TRUE(second.endsWith(shown(*view)));
    EXPECT_TRUE(shown(*view).startsWith(QStringLiteral("line 06"))) << "the end starts on a line start";
    EXPECT_EQ(bar()->value(), bar()->maximum());

    // Cuts and appends keep working on the end alone.
    const QString third = second.mid(qsizetype(51) * 10) + lines(7000, 10);
    view->followOutput(third, qsizetype(51) * 10);
    EXPECT_EQ(view->text(), third);
    EXPECT_TRUE(third.endsWith(shown(*view)));

    // Once output rests, the whole text is there and the end stays in view.
    EXPECT_TRUE(QTest::qWaitFor([&] { return view->isShowingWholeText(); }, 10000));
    EXPECT_EQ(shown(*view), third);
    EXPECT_TRUE(settlesAtEnd());

    struct Case {
        const char *name;
        std::function<void()> act;
    };
    const Case cases[] = {
        {"a wheel turn",
         [&] {
             QWheelEvent wheel(QPointF(100, 100), view->textView()->viewport()->mapToGlobal(QPointF(100, 100)),
                               QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
             QApplication::sendEvent(view->textView()->viewport(), &wheel);
         }},
        {"a key", [&] { QTest::keyClick(view->textView(), Qt::Key_A, Qt::ControlModifier); }},
        {"a click", [&] { QTest::mouseClick(view->textView()->viewport(), Qt::LeftButton); }},
        {"auto-scroll switched off", [&] { view->setAutoScroll(false); }},
    };
    int next = 8000;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        view->setAutoScroll(true);
        const QString text = lines(next, 2000);
        next += 2000;
        view->setContent(text, true);
        ASSERT_FALSE(view->isShowingWholeText());
        c.act();
        EXPECT_TRUE(view->isShowingWholeText());
        EXPECT_EQ(shown(*view), text);
    }

    // Without following, a whole new text goes in whole, where the view stands.
    view->setContent(lines(20000, 2000), false);
    EXPECT_EQ(view->lastUpdatePath(), ConsoleOutputView::UpdatePath::reset);
    EXPECT_TRUE(view->isShowingWholeText());
}

TEST_F(ConsoleOutputViewTest, UserScrollShowsTheScrollBarUntilItRests)
{
    view->setContent(lines(0, 10), false);
    view->setContent(lines(0, 300), false);
    EXPECT_FALSE(view->isScrollerVisible());
    QWheelEvent wheel(QPointF(100, 100), view->textView()->viewport()->mapToGlobal(QPointF(100, 100)), QPoint(),
                      QPoint(0, -120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QElapsedTimer rested;
    rested.start();
    QApplication::sendEvent(view->textView()->viewport(), &wheel);
    EXPECT_GT(bar()->value(), 0);
    EXPECT_TRUE(view->isScrollerVisible());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !view->isScrollerVisible(); }, 10000));
    // A coarse timer may fire 5% early, and the elapsed time counts whole milliseconds.
    EXPECT_GE(rested.elapsed() + 1, ConsoleOutputView::scrollerHideDelayMs * 95 / 100);
}

TEST_F(ConsoleOutputViewTest, ThePointerOverTheConsoleShowsTheScrollBarUntilItLeaves)
{
    view->setContent(lines(0, 3), false);
    QEnterEvent enter(QPointF(50, 50), QPointF(50, 50), view->mapToGlobal(QPointF(50, 50)));
    QApplication::sendEvent(view.get(), &enter);
    EXPECT_FALSE(view->isScrollerVisible()) << "nothing to scroll";

    view->setContent(lines(0, 300), false);
    QApplication::sendEvent(view.get(), &enter);
    EXPECT_TRUE(view->isScrollerVisible());
    QTest::qWait(ConsoleOutputView::scrollerHideDelayMs + 100);
    EXPECT_TRUE(view->isScrollerVisible());
    view->followOutput(view->text() + QStringLiteral("more\n"), 0); // output keeps it, too
    EXPECT_TRUE(view->isScrollerVisible());

    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(view.get(), &leave);
    EXPECT_TRUE(view->isScrollerVisible());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !view->isScrollerVisible(); }, 10000));
}

TEST_F(ConsoleOutputViewTest, DestroyedWithAScrollAndAHidePending)
{
    view->setContent(lines(0, 10), true);
    view->setContent(lines(0, 300), true);
    bar()->setValue(5);                                  // as a user would: the hide timer runs
    QTest::qWait(ConsoleOutputView::scrollDelayMs + 20); // the scroll animation runs
    view.reset();
    QTest::qWait(ConsoleOutputView::scrollerHideDelayMs + 100);
    SUCCEED();
}

TEST_F(ConsoleOutputViewTest, TextAreaPaintsItsOwnBackgroundInEitherTheme)
{
    view->setText(QStringLiteral("listening on :3000\n"));
    QWidget *area = view->textView()->viewport();
    EXPECT_TRUE(area->autoFillBackground());
    // Inside the rounded corners, so the frame shows around it.
    const QRect inFrame = QRect(area->mapTo(view.get(), QPoint(0, 0)), area->size());
    EXPECT_TRUE(QRect(QPoint(0, 0), view->size()).adjusted(3, 3, -3, -3).contains(inFrame));
    for (const AppAppearanceMode mode : {AppAppearanceMode::dark, AppAppearanceMode::light}) {
        ThemeManager::instance().apply(mode);
        EXPECT_EQ(area->palette().color(QPalette::Base), ThemeColor::textBackground().resolve(view.get()));
        // The frame's corner is redrawn in the new theme's colours too.
        const QImage image = view->grab().toImage();
        EXPECT_EQ(image.pixelColor(view->width() / 2, 2), ThemeColor::textBackground().resolve(view.get()));
    }
}
