#include "ui/components/DetailPageHeader.h"
#include "ui/components/FocusMark.h"
#include "ui/components/KeychainAccessBanner.h"
#include "ui/components/MasterDetailChrome.h"
#include "ui/components/MetricCard.h"
#include "ui/components/NumericTextTransition.h"
#include "ui/components/MacTextField.h"
#include "ui/components/ProtectedDataLockButton.h"
#include "ui/components/SearchField.h"
#include "ui/components/SelectableSidebarRow.h"
#include "ui/components/ServiceStatusActionCard.h"
#include "ui/components/StyledLabel.h"
#include "ui/components/SurfaceCard.h"
#include "ui/components/SymbolIcon.h"
#include "ui/components/ThemeManager.h"

#include "support/Await.h"

#include "QtPrinters.h"

#include <QAccessible>
#include <QHBoxLayout>
#include <QVBoxLayout>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <QVariantAnimation>

#include <gtest/gtest.h>

namespace {

struct ComponentsTest : ::testing::Test {
    void SetUp() override { ThemeManager::instance().apply(AppAppearanceMode::light); }
    void TearDown() override { ThemeManager::instance().apply(AppAppearanceMode::light); }
};

QColor pixelAtCentre(QWidget &widget)
{
    return widget.grab().toImage().pixelColor(widget.width() / 2, widget.height() / 2);
}

} // namespace

TEST_F(ComponentsTest, PaletteHasTheSixColoursInBothVariants)
{
    const struct {
        Palette::Color color;
        float light[3];
        float dark[3];
    } table[] = {
        {Palette::Color::slate, {0.25f, 0.32f, 0.42f}, {0.54f, 0.64f, 0.78f}},
        {Palette::Color::steel, {0.33f, 0.40f, 0.50f}, {0.64f, 0.72f, 0.84f}},
        {Palette::Color::blue, {0.12f, 0.45f, 0.72f}, {0.38f, 0.67f, 0.92f}},
        {Palette::Color::green, {0.22f, 0.55f, 0.42f}, {0.44f, 0.78f, 0.61f}},
        {Palette::Color::orange, {0.86f, 0.52f, 0.16f}, {1.00f, 0.72f, 0.36f}},
        {Palette::Color::red, {0.78f, 0.28f, 0.28f}, {0.94f, 0.45f, 0.45f}},
    };
    for (const auto &row : table) {
        EXPECT_EQ(Palette::color(row.color, false), QColor::fromRgbF(row.light[0], row.light[1], row.light[2]));
        EXPECT_EQ(Palette::color(row.color, true), QColor::fromRgbF(row.dark[0], row.dark[1], row.dark[2]));
    }
}

TEST_F(ComponentsTest, ThemeSwitchRepaintsTheSameWidgets)
{
    SurfaceCard card(16);
    card.resize(200, 120);
    MetricCard metric(QStringLiteral("CPU"), QStringLiteral("1%"), std::nullopt, QStringLiteral("cpu"),
                      Palette::Color::blue, 0.5);
    card.contentLayout()->addWidget(&metric);
    auto *secondary =
        new StyledLabel(QStringLiteral("detail"), TextStyle::caption, QFont::Normal, ThemeColor::secondary(), &card);
    card.show();
    QSignalSpy switched(&ThemeManager::instance(), &ThemeManager::isDarkChanged);
    const QColor lightPixel = pixelAtCentre(card);
    const QColor lightSecondary = secondary->resolvedColor();

    ThemeManager::instance().apply(AppAppearanceMode::dark);
    EXPECT_TRUE(ThemeManager::instance().isDark());
    EXPECT_EQ(switched.count(), 1);
    EXPECT_NE(pixelAtCentre(card), lightPixel);
    EXPECT_NE(secondary->resolvedColor(), lightSecondary);
    EXPECT_GE(secondary->resolvedColor().alphaF(), 0.5f);
    EXPECT_EQ(Palette::blue(), Palette::color(Palette::Color::blue, true));

    ThemeManager::instance().apply(AppAppearanceMode::dark);
    EXPECT_EQ(switched.count(), 1) << "only a real change is announced";
}

TEST_F(ComponentsTest, SearchFieldShowsTheTextItIsGivenAndRetintsItsClearButton)
{
    SearchField field(QStringLiteral("Search by name"));
    field.show();
    MacTextField *text = field.textField();
    EXPECT_EQ(text->accessibleName(), QStringLiteral("Search by name"));
    EXPECT_FALSE(field.clearButton()->isVisibleTo(&field));

    QTest::keyClicks(text, QStringLiteral("api"));
    text->setCursorPosition(1);
    field.showText(QStringLiteral("api"));
    EXPECT_EQ(text->cursorPosition(), 1) << "the text already there is left alone";
    EXPECT_TRUE(field.clearButton()->isVisibleTo(&field));

    field.showText(QString());
    EXPECT_TRUE(text->text().isEmpty());
    EXPECT_FALSE(field.clearButton()->isVisibleTo(&field));

    const qint64 lightIcon = field.clearButton()->icon().cacheKey();
    ThemeManager::instance().apply(AppAppearanceMode::dark);
    EXPECT_NE(field.clearButton()->icon().cacheKey(), lightIcon);
}

TEST_F(ComponentsTest, MetricCardClampsProgressAndLeavesOutAbsentParts)
{
    MetricCard empty(QStringLiteral("GPU"), QStringLiteral("—"));
    MetricCard low(QStringLiteral("CPU"), QStringLiteral("0%"), std::nullopt, std::nullopt, Palette::Color::blue, -0.2);
    MetricCard high(QStringLiteral("CPU"), QStringLiteral("170%"), QStringLiteral("sub"), QStringLiteral("cpu"),
                    Palette::Color::blue, 1.7);
    EXPECT_EQ(low.shownProgress(), 0.0);
    EXPECT_EQ(high.shownProgress(), 1.0);
    EXPECT_EQ(empty.shownProgress(), std::nullopt);
    EXPECT_EQ(empty.subtitle(), std::nullopt);
    EXPECT_EQ(high.subtitle(), QStringLiteral("sub"));
    // An absent bar takes no space.
    EXPECT_LT(empty.sizeHint().height(), low.sizeHint().height());
    low.setProgress(std::nullopt);
    EXPECT_EQ(low.sizeHint().height(), empty.sizeHint().height());
}

TEST(NumericTextTransition, ReadsOneFigureBetweenItsWords)
{
    using Figure = NumericTextTransition::Figure;
    const struct {
        QString text;
        std::optional<Figure> figure;
    } cases[] = {
        {QStringLiteral("23.4%"), Figure {QString(), 23.4, 1, QStringLiteral("%")}},
        {QStringLiteral("48.0 MB"), Figure {QString(), 48.0, 1, QStringLiteral(" MB")}},
        {QStringLiteral("20590"), Figure {QString(), 20590, 0, QString()}},
        {QStringLiteral("-3 °C"), Figure {QString(), -3, 0, QStringLiteral(" °C")}},
        {QStringLiteral("PID 42"), Figure {QStringLiteral("PID "), 42, 0, QString()}},
        {QStringLiteral("—"), std::nullopt},
        {QStringLiteral("1m 5s"), std::nullopt},
        {QString(), std::nullopt},
    };
    for (const auto &[text, figure] : cases) {
        SCOPED_TRACE(text.toStdString());
        const std::optional<Figure> read = NumericTextTransition::parse(text);
        ASSERT_EQ(read.has_value(), figure.has_value());
        if (!read)
            continue;
        EXPECT_EQ(read->prefix, figure->prefix);
        EXPECT_DOUBLE_EQ(read->value, figure->value);
        EXPECT_EQ(read->decimals, figure->decimals);
        EXPECT_EQ(read->suffix, figure->suffix);
        EXPECT_EQ(NumericTextTransition::format(*read, read->value), text);
    }
}

TEST_F(ComponentsTest, MetricCardCountsToANewFigureAndJumpsToAnyOtherText)
{
    MetricCard card(QStringLiteral("CPU"), QStringLiteral("10.0%"));
    card.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&card));
    auto *shown = card.findChild<QLabel *>(QStringLiteral("metricValue"));
    ASSERT_NE(shown, nullptr);
    card.setValue(QStringLiteral("20.0%"));
    EXPECT_EQ(card.value(), QStringLiteral("20.0%"));
    // Stepped by hand: what shows between two frames does not depend on how busy the machine is.
    auto *count = card.findChild<QVariantAnimation *>();
    ASSERT_TRUE(count && count->state() == QAbstractAnimation::Running);
    count->setCurrentTime(NumericTextTransition::durationMs / 3);
    const double between = NumericTextTransition::parse(shown->text()).value_or(NumericTextTransition::Figure {}).value;
    EXPECT_GT(between, 10.0);
    EXPECT_LT(between, 20.0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return shown->text() == QStringLiteral("20.0%"); }, 10000));

    card.setValue(QStringLiteral("—"));
    EXPECT_EQ(shown->text(), QStringLiteral("—"));
    card.hide();
    card.setValue(QStringLiteral("40.0%"));
    EXPECT_EQ(shown->text(), QStringLiteral("40.0%")) << "off screen: at once";
}

TEST_F(ComponentsTest, PressedStatusCardDimsAndShrinksThenSpringsBack)
{
    ServiceStatusActionCard card(QStringLiteral("Running"), 3, Palette::Color::green, true);
    card.resize(220, 70);
    card.show();
    QSignalSpy clicked(&card, &QAbstractButton::clicked);
    QTest::mousePress(&card, Qt::LeftButton, {}, QPoint(100, 35));
    // Waits for the animation's end rather than its nominal length: a loaded
    // machine delivers the last frame late.
    const auto settlesAt = [&](double opacity, double scale) {
        return QTest::qWaitFor([&] { return card.drawnOpacity() == opacity && card.drawnScale() == scale; }, 10000);
    };
    EXPECT_TRUE(settlesAt(0.78, 0.985)) << card.drawnOpacity() << " " << card.drawnScale();
    QTest::mouseRelease(&card, Qt::LeftButton, {}, QPoint(100, 35));
    EXPECT_EQ(clicked.count(), 1);
    EXPECT_TRUE(settlesAt(1.0, 1.0)) << card.drawnOpacity() << " " << card.drawnScale();
    card.setCount(40);
    EXPECT_EQ(card.count(), 40);
    EXPECT_TRUE(QTest::qWaitFor([&] { return card.drawnCount() == 40; }, 10000)) << "counts up to the new value";
}

TEST_F(ComponentsTest, SidebarRowFillRuleForegroundAndAccessibleValue)
{
    const QColor slate = Palette::slate();
    EXPECT_EQ(SelectableSidebarRow::fillFor(true, true, true, slate).alphaF(), withOpacity(slate, 0.18).alphaF());
    EXPECT_EQ(SelectableSidebarRow::fillFor(false, true, true, slate), withOpacity(slate, 0.12));
    EXPECT_EQ(SelectableSidebarRow::fillFor(false, false, true, slate), withOpacity(slate, 0.06));
    EXPECT_EQ(SelectableSidebarRow::fillFor(false, false, false, slate).alpha(), 0);

    SelectableSidebarRow row;
    auto *name = new StyledLabel(QStringLiteral("API"));
    row.contentLayout()->addWidget(name);
    row.resize(200, 32);
    row.show();
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(&row);
    ASSERT_NE(accessible, nullptr);
    EXPECT_EQ(accessible->text(QAccessible::Value), QString());
    EXPECT_EQ(name->resolvedColor(), ThemeManager::lightPalette().color(QPalette::WindowText));

    row.setSelected(true);
    EXPECT_EQ(accessible->text(QAccessible::Value), QStringLiteral("Selected"));
    EXPECT_EQ(name->resolvedColor(), Palette::slate());
    QTest::mousePress(&row, Qt::LeftButton, {}, QPoint(20, 16));
    EXPECT_EQ(row.targetFill(), withOpacity(slate, 0.18));
    EXPECT_DOUBLE_EQ(row.drawnOpacity(), 0.82);
    QSignalSpy clicked(&row, &QAbstractButton::clicked);
    QTest::mouseRelease(&row, Qt::LeftButton, {}, QPoint(20, 16));
    EXPECT_EQ(clicked.count(), 1);
    EXPECT_EQ(row.targetFill(), withOpacity(slate, 0.12));
    row.setFocus(Qt::TabFocusReason);
    QTest::keyClick(&row, Qt::Key_Return);
    EXPECT_EQ(clicked.count(), 2) << "Return opens the row's section as a click does";

    row.setSelected(false);
    EXPECT_EQ(name->resolvedColor(), ThemeManager::lightPalette().color(QPalette::WindowText));
}

TEST_F(ComponentsTest, APushButtonFocusedByKeyboardShowsATwoPixelRing)
{
    QWidget window;
    auto *layout = new QHBoxLayout(&window);
    auto *button = new QPushButton(QStringLiteral("Cancel"));
    layout->addWidget(button);
    window.show();
    window.activateWindow();
    button->setFocus(Qt::MouseFocusReason);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    ASSERT_TRUE(button->hasFocus());
    const auto edge = [&](int inset) { return button->grab().toImage().pixelColor(inset, button->height() / 2); };
    const QColor ring = focusMarkColor(button);
    EXPECT_NE(edge(1), ring) << "a click leaves no ring";
    window.setAttribute(Qt::WA_KeyboardFocusChange);
    for (const int inset : {0, 1})
        EXPECT_EQ(edge(inset), ring) << inset;
}

TEST_F(ComponentsTest, KeychainBannerShowsMarkupLiterallyAndRetries)
{
    KeychainAccessBanner banner(QStringLiteral("Keyring error (<b>-25293</b>)"), KeychainAccessBanner::Style::compact);
    EXPECT_EQ(banner.messageLabel()->textFormat(), Qt::PlainText);
    EXPECT_EQ(banner.message(), QStringLiteral("Keyring error (<b>-25293</b>)"));
    EXPECT_EQ(banner.retryButton()->text(), QStringLiteral("Try Again"));
    QSignalSpy retried(&banner, &KeychainAccessBanner::retryRequested);
    banner.retryButton()->click();
    EXPECT_EQ(retried.count(), 1);
}

TEST_F(ComponentsTest, LockButtonShowsTheLockStateAndAsksToLock)
{
    QWidget host;
    auto *hidden = new ProtectedDataLockButton(false, false, &host);
    auto *button = new ProtectedDataLockButton(true, false, &host);
    QSignalSpy lockRequests(button, &ProtectedDataLockButton::lockRequested);
    host.show();
    EXPECT_FALSE(hidden->isVisible());
    EXPECT_TRUE(button->isVisible());
    EXPECT_EQ(button->size(), QSize(28, 28));
    EXPECT_EQ(button->symbolName(), QStringLiteral("lock.fill"));
    EXPECT_FALSE(button->isEnabled());
    EXPECT_EQ(button->toolTip(), QStringLiteral("Protected environment profiles are locked"));
    EXPECT_EQ(button->accessibleName(), button->toolTip());

    hidden->setUnlocked(true);
    button->setUnlocked(true);
    EXPECT_FALSE(hidden->isVisible()) << "no protected data: nothing shows, even unlocked";
    EXPECT_EQ(button->symbolName(), QStringLiteral("lock.open.fill"));
    EXPECT_TRUE(button->isEnabled());
    EXPECT_EQ(button->toolTip(), QStringLiteral("Lock all protected environment profiles"));

    button->click();
    EXPECT_EQ(lockRequests.count(), 1);
    button->setUnlocked(false);
    EXPECT_EQ(button->symbolName(), QStringLiteral("lock.fill"));
    EXPECT_FALSE(button->isEnabled());

    QToolBar toolBar;
    auto *inToolBar = new ProtectedDataLockButton(false, false);
    QAction *action = toolBar.addWidget(inToolBar);
    inToolBar->setToolBarAction(action);
    EXPECT_FALSE(action->isVisible());
    inToolBar->setHasProtectedData(true);
    EXPECT_TRUE(action->isVisible());
}

TEST_F(ComponentsTest, HeaderElidesAndChromeKeepsTheSidebarWidth)
{
    DetailPageHeader header(QString(200, QLatin1Char('W')), 8);
    auto *action = new QPushButton(QStringLiteral("Edit"));
    header.actionsLayout()->addWidget(action);
    header.resize(400, 80);
    header.show();
    QApplication::processEvents();
    EXPECT_LE(action->geometry().right(), header.width());
    EXPECT_GE(action->geometry().left() - header.titleLabel()->geometry().right(), 8);

    MasterDetailChrome chrome(320);
    auto *wide = new QWidget;
    wide->setMinimumWidth(2000);
    chrome.setDetail(wide);
    chrome.setSidebar(new QWidget);
    for (int width : {700, 1200, 500}) {
        chrome.resize(width, 400);
        chrome.show();
        QApplication::processEvents();
        EXPECT_EQ(chrome.sidebarColumn()->width(), 320);
        EXPECT_EQ(chrome.detailColumn()->width(), width - 320);
    }
}

TEST_F(ComponentsTest, SymbolsResolveToThemeIconsOrDrawings)
{
    EXPECT_EQ(symbolThemeIconName(QStringLiteral("lock.fill")), QStringLiteral("changes-prevent-symbolic"));
    EXPECT_TRUE(symbolThemeIconName(QStringLiteral("cpu")).isEmpty());
    for (const char *name : {"lock.fill", "terminal", "chevron.right", "cpu", "memorychip.fill", "unknown.symbol"}) {
        const QImage image = symbolPixmap(QString::fromLatin1(name), 16, Qt::red).toImage();
        bool painted = false;
        for (int y = 0; y < image.height() && !painted; ++y)
            for (int x = 0; x < image.width() && !painted; ++x)
                painted = image.pixelColor(x, y).alpha() > 0;
        EXPECT_TRUE(painted) << name;
    }
    // Symbols drawn here have their own drawing, not the dot an unknown name gets.
    const QImage dot = symbolPixmap(QStringLiteral("unknown.symbol"), 16, Qt::red).toImage();
    for (const char *name : {"number", "gpu", "internaldrive", "text.rectangle.fill", "cpu", "memorychip"})
        EXPECT_NE(symbolPixmap(QString::fromLatin1(name), 16, Qt::red).toImage(), dot) << name;
}
