#include "ui/components/ClickOutsideEditingMonitor.h"
#include "ui/components/InitialFocusSink.h"
#include "ui/components/MacMultilineTextField.h"
#include "ui/components/MacSecureField.h"
#include "ui/components/MacTextField.h"

#include "KeyboardRulesInstalled.h"
#include "QtPrinters.h"

#include <QApplication>
#include <QDialog>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <memory>

namespace {

const auto *rules = ::testing::AddGlobalTestEnvironment(new KeyboardRulesInstalled);

// A window with an optional sink, then three fields that do not allow
// automatic focus, then a button.
struct Form {
    explicit Form(bool withSink)
    {
        auto *layout = new QVBoxLayout(&window);
        if (withSink) {
            sink = new InitialFocusSink;
            layout->addWidget(sink);
        }
        first = new MacTextField(QStringLiteral("First"));
        second = new MacSecureField(QStringLiteral("Second"));
        third = new MacMultilineTextField(60);
        button = new QPushButton(QStringLiteral("Save"));
        button->setFocusPolicy(Qt::ClickFocus);
        for (QWidget *w : {static_cast<QWidget *>(first), static_cast<QWidget *>(second), static_cast<QWidget *>(third),
                           static_cast<QWidget *>(button)})
            layout->addWidget(w);
        layout->addStretch(1);
        window.resize(320, 300);
    }
    bool open()
    {
        window.show();
        window.activateWindow();
        if (!QTest::qWaitForWindowActive(&window))
            return false;
        QTest::qWait(20);
        return true;
    }
    void pressTab(QWidget *from) { QTest::keyClick(from, Qt::Key_Tab); }

    QWidget window;
    InitialFocusSink *sink = nullptr;
    MacTextField *first;
    MacSecureField *second;
    MacMultilineTextField *third;
    QPushButton *button;
};

// A click as the platform delivers it: to the window first, then the widget.
void clickInWindow(QWidget *target, QPoint position = QPoint(-1, -1))
{
    if (position == QPoint(-1, -1))
        position = target->rect().center();
    QWidget *window = target->window();
    QTest::mouseClick(window->windowHandle(), Qt::LeftButton, {}, target->mapTo(window, position));
}

} // namespace

TEST(TextInputFocus, SinkHoldsTheInitialFocusThenTabAndClicksWork)
{
    Form form(true);
    ASSERT_TRUE(form.open());
    EXPECT_TRUE(form.sink->didSetInitialFocus());
    EXPECT_FALSE(form.first->hasFocus());
    EXPECT_FALSE(form.second->hasFocus());
    EXPECT_FALSE(form.third->hasFocus());
    EXPECT_TRUE(form.sink->hasFocus());
    EXPECT_FALSE(form.first->isSuppressingInitialAutomaticFocus());

    form.pressTab(form.sink);
    EXPECT_TRUE(form.first->hasFocus());
    QTest::mouseClick(form.second, Qt::LeftButton, {}, QPoint(10, 5));
    EXPECT_TRUE(form.second->hasFocus());
    // Once the sink has claimed, fields answer focus requests as usual.
    form.third->setFocus(Qt::OtherFocusReason);
    EXPECT_TRUE(form.third->hasFocus());
}

TEST(TextInputFocus, WithoutASinkOnlyTabAndClicksInsideGiveFocus)
{
    Form form(false);
    ASSERT_TRUE(form.open());
    EXPECT_FALSE(form.first->hasFocus()) << "window activation is automatic focus";
    form.first->setFocus(Qt::OtherFocusReason);
    EXPECT_FALSE(form.first->hasFocus());

    QTest::keyClick(&form.window, Qt::Key_Return);
    EXPECT_FALSE(form.first->hasFocus());
    QTest::mouseClick(&form.window, Qt::LeftButton, {}, QPoint(5, form.window.height() - 5));
    EXPECT_FALSE(form.first->hasFocus()) << "a click elsewhere in the window";

    // A click inside the multi-line field's scroll area, where no text is drawn.
    QTest::mouseClick(form.third->viewport(), Qt::LeftButton, {},
                      QPoint(form.third->viewport()->width() - 4, form.third->viewport()->height() - 4));
    EXPECT_TRUE(form.third->hasFocus());
    form.button->setFocus(Qt::OtherFocusReason);
    QTest::keyClick(form.button, Qt::Key_Tab, Qt::ShiftModifier);
    EXPECT_TRUE(form.third->hasFocus() || form.second->hasFocus() || form.first->hasFocus());
}

TEST(TextInputFocus, AButtonThatHasTheFocusKeepsIt)
{
    QWidget window;
    auto *layout = new QVBoxLayout(&window);
    auto *button = new QPushButton(QStringLiteral("OK"));
    button->setFocusPolicy(Qt::StrongFocus);
    layout->addWidget(button);
    auto *field = new MacTextField(QStringLiteral("Name"));
    layout->addWidget(field);
    auto *sink = new InitialFocusSink;
    layout->addWidget(sink);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    button->setFocus(Qt::OtherFocusReason);
    QTest::qWait(20);
    EXPECT_TRUE(button->hasFocus());
    EXPECT_FALSE(sink->shouldTakeFocus(button));
    EXPECT_TRUE(sink->shouldTakeFocus(field));
    EXPECT_TRUE(sink->shouldTakeFocus(nullptr));
    EXPECT_FALSE(field->isSuppressingInitialAutomaticFocus());
}

TEST(TextInputFocus, SecureFieldFocusesOnceOnAppearAndCommitsOnReturn)
{
    QDialog dialog;
    auto *layout = new QVBoxLayout(&dialog);
    auto *password = new MacSecureField(QStringLiteral("Password"), false, true);
    auto *ok = new QPushButton(QStringLiteral("OK"));
    ok->setDefault(true);
    layout->addWidget(password);
    layout->addWidget(ok);
    QSignalSpy committed(password, &MacSecureField::committed);
    QSignalSpy defaultButton(ok, &QPushButton::clicked);
    dialog.open();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    EXPECT_TRUE(QTest::qWaitFor([&] { return password->hasFocus(); }, 10000));
    EXPECT_TRUE(password->didFocus());
    EXPECT_EQ(password->echoMode(), QLineEdit::Password);
    QTest::keyClicks(password, QStringLiteral("secret"));
    EXPECT_EQ(password->text(), QStringLiteral("secret"));
    QTest::keyClick(password, Qt::Key_Return);
    EXPECT_EQ(committed.count(), 1);
    EXPECT_EQ(defaultButton.count(), 0);
    EXPECT_TRUE(dialog.isVisible());
}

TEST(TextInputFocus, BoundTextFromElsewhereWaitsForTheEditToEnd)
{
    Form form(true);
    ASSERT_TRUE(form.open());
    QSignalSpy lineEdits(form.first, &QLineEdit::textEdited);
    QSignalSpy multiEdits(form.third, &MacMultilineTextField::textEdited);
    QTest::mouseClick(form.first, Qt::LeftButton);
    QTest::keyClicks(form.first, QStringLiteral("ab"));
    EXPECT_EQ(lineEdits.count(), 2);
    form.first->setBoundText(QStringLiteral("other"));
    EXPECT_EQ(form.first->text(), QStringLiteral("ab"));

    form.third->setBoundText(QStringLiteral("echo hi"));
    EXPECT_EQ(form.third->text(), QStringLiteral("echo hi"));
    EXPECT_EQ(multiEdits.count(), 0) << "a change from elsewhere is no edit";
    QTest::mouseClick(form.third->viewport(), Qt::LeftButton);
    QTest::keyClicks(form.third->viewport(), QStringLiteral("x"));
    EXPECT_EQ(multiEdits.count(), 1);
    form.third->setBoundText(QStringLiteral("replaced"));
    EXPECT_NE(form.third->text(), QStringLiteral("replaced"));
    form.first->setBoundText(QStringLiteral("other"));
    EXPECT_EQ(form.first->text(), QStringLiteral("other"));

    MacMultilineTextField alone(90);
    EXPECT_EQ(alone.sizeHint().height(), 90);
    EXPECT_EQ(alone.minimumSizeHint().height(), 90);
}

TEST(ClickOutsideEditing, ClickElsewhereCommitsAndClickInsideOrIntoAnotherFieldDoesNot)
{
    installClickOutsideEditingMonitor();
    installClickOutsideEditingMonitor();
    ClickOutsideEditingMonitor *monitor = ClickOutsideEditingMonitor::installed();
    ASSERT_NE(monitor, nullptr);
    EXPECT_EQ(qApp->findChildren<ClickOutsideEditingMonitor *>().size(), 1);

    Form form(true);
    ASSERT_TRUE(form.open());
    QSignalSpy finished(form.first, &QLineEdit::editingFinished);
    clickInWindow(form.first);
    QTest::keyClicks(form.first, QStringLiteral("typed"));

    const int before = monitor->handledPresses();
    clickInWindow(form.first, QPoint(1, 1));
    QTest::qWait(10);
    EXPECT_EQ(monitor->handledPresses(), before + 1) << "one look per press";
    EXPECT_TRUE(form.first->hasFocus());

    clickInWindow(form.second);
    QTest::qWait(10);
    EXPECT_TRUE(form.second->hasFocus()) << "the click moved the focus on; nothing was ended";

    clickInWindow(&form.window, QPoint(5, form.window.height() - 5));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !form.second->hasFocus(); }));
    EXPECT_EQ(form.first->text(), QStringLiteral("typed"));
    EXPECT_GE(finished.count(), 1);

    // A multi-line field: its whole scroll area, scroll bar included, is inside.
    clickInWindow(form.third->viewport());
    clickInWindow(form.third, QPoint(form.third->width() - 2, form.third->height() / 2));
    QTest::qWait(10);
    EXPECT_TRUE(form.third->hasFocus());
}

TEST(ClickOutsideEditing, EndEditingInKeyWindow)
{
    endEditingInKeyWindow(); // no window: nothing happens
    Form form(true);
    ASSERT_TRUE(form.open());
    QTest::mouseClick(form.first, Qt::LeftButton);
    ASSERT_TRUE(form.first->hasFocus());
    endEditingInKeyWindow();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !form.first->hasFocus(); }));
    EXPECT_EQ(form.window.focusWidget() == nullptr || !form.window.focusWidget()->hasFocus(), true);
}

TEST(KeyboardFocus, TabFromOutsideAScrollAreaShowsTheControlBelowItsFold)
{
    QWidget window;
    auto *outside = new QPushButton(QStringLiteral("Outside"), &window);
    auto *area = new QScrollArea(&window);
    area->setFocusPolicy(Qt::NoFocus);
    area->setGeometry(0, 40, 200, 120);
    area->setWidget(new QWidget);
    area->widget()->resize(180, 640);
    auto *below = new QPushButton(QStringLiteral("Below"), area->widget());
    below->move(0, 600);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));

    outside->setFocus(Qt::OtherFocusReason);
    QTest::keyClick(outside, Qt::Key_Tab);
    ASSERT_TRUE(below->hasFocus());
    const QRect shown(below->mapTo(area->viewport(), QPoint(0, 0)), below->size());
    EXPECT_TRUE(area->viewport()->rect().contains(shown));
}
