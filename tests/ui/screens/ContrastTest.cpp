#include "execution/ServiceManagerFixture.h"

#include "records/SecurityScopedBookmarkStore.h"
#include "records/SettingsRepository.h"
#include "ui/components/ButtonTextTint.h"
#include "ui/components/ColorContrast.h"
#include "ui/components/FocusMark.h"
#include "ui/components/ProminentButton.h"
#include "ui/components/StyledLabel.h"
#include "ui/components/ThemeColor.h"
#include "ui/components/ThemeManager.h"
#include "ui/menubar/MenuButtonTint.h"
#include "ui/screens/profiles/EnvironmentProfilesView.h"
#include "ui/screens/services/ServiceRunHistorySection.h"
#include "ui/screens/services/ServicesView.h"
#include "ui/screens/settings/SettingsView.h"

#include <QCheckBox>
#include <QHash>
#include <QImage>
#include <QPushButton>
#include <QStyleOptionButton>

#include <functional>

namespace {

// What one widget shows, measured on a picture of its window.
struct Shown {
    QImage picture;
    qreal ratio = 1;

    QRect pixels(const QWidget &widget, const QWidget &window, QRect area = {}) const
    {
        if (area.isNull())
            area = widget.rect();
        const QRect inWindow(widget.mapTo(&window, area.topLeft()), area.size());
        return QRect((QPointF(inWindow.topLeft()) * ratio).toPoint(), (QSizeF(inWindow.size()) * ratio).toSize())
            .intersected(picture.rect());
    }
    // The colour that covers most of an area: a control's or a label's surface.
    QColor surface(const QRect &area) const
    {
        QHash<QRgb, int> counts;
        for (int y = area.top(); y <= area.bottom(); ++y) {
            for (int x = area.left(); x <= area.right(); ++x)
                ++counts[picture.pixel(x, y)];
        }
        QRgb most = 0;
        int mostCount = -1;
        for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
            if (it.value() > mostCount) {
                most = it.key();
                mostCount = it.value();
            }
        }
        return QColor::fromRgb(most);
    }
    // The pixel that stands out most from `background`: a glyph's core.
    QColor strongest(const QRect &area, const QColor &background) const
    {
        QColor best = background;
        for (int y = area.top(); y <= area.bottom(); ++y) {
            for (int x = area.left(); x <= area.right(); ++x) {
                const QColor pixel = QColor::fromRgb(picture.pixel(x, y));
                if (ColorContrast::ratio(pixel, background) > ColorContrast::ratio(best, background))
                    best = pixel;
            }
        }
        return best;
    }
};

bool isLargeText(const QFont &font)
{
    const qreal points = QFontInfo(font).pointSizeF();
    return points >= 18 || (points >= 14 && font.weight() >= QFont::Bold);
}

QString describe(const QWidget &widget, const QString &text)
{
    return QStringLiteral("%1 \"%2\" (%3)")
        .arg(QString::fromUtf8(widget.metaObject()->className()), text, widget.objectName());
}

struct ContrastTest : ServiceManagerTest {
    SecurityScopedBookmarkStore bookmarks {folder + QStringLiteral("/bookmarks.json")};
    SettingsRepository settingsRepository {folder + QStringLiteral("/settings.json")};
    QStringList failures;

    void TearDown() override
    {
        ThemeManager::instance().apply(AppAppearanceMode::system);
        ServiceManagerTest::TearDown();
    }

    void expectAtLeast(qreal minimum, const QColor &shown, const QColor &background, const QString &what)
    {
        const qreal ratio = ColorContrast::ratio(shown, background);
        if (ratio + 0.005 < minimum)
            failures << QStringLiteral("%1: %2 on %3 is %4:1, below %5:1")
                            .arg(what, shown.name(), background.name(), QString::number(ratio, 'f', 2),
                                 QString::number(minimum));
    }

    void expectLooksDisabled(const QWidget &widget, QPalette::ColorRole role, const QString &what)
    {
        const QPalette &palette = widget.palette();
        if (palette.color(QPalette::Disabled, role) == palette.color(QPalette::Active, role))
            failures << what + QStringLiteral(": disabled, but painted as when enabled");
    }

    void checkLabel(const QLabel &label, const QWidget &window, const Shown &shown)
    {
        if (label.text().isEmpty() || label.textFormat() == Qt::RichText)
            return;
        const QString what = describe(label, label.text());
        if (!label.isEnabled()) {
            expectLooksDisabled(label, label.foregroundRole(), what);
            return;
        }
        const auto *styled = qobject_cast<const StyledLabel *>(&label);
        const QColor colour =
            styled ? styled->resolvedColor() : label.palette().color(QPalette::Active, label.foregroundRole());
        const QColor background = shown.surface(shown.pixels(label, window));
        expectAtLeast(isLargeText(label.font()) ? ColorContrast::largeTextMinimum : ColorContrast::textMinimum,
                      ColorContrast::compositedOver(colour, background), background, what);
    }

    void checkButton(const QAbstractButton &button, const QWidget &window, const Shown &shown)
    {
        if (button.text().isEmpty())
            return;
        const QString what = describe(button, button.text());
        if (!button.isEnabled()) {
            expectLooksDisabled(button, button.foregroundRole(), what);
            return;
        }
        if (const auto *box = qobject_cast<const QCheckBox *>(&button)) {
            checkCheckBox(*box, window, shown, what);
            return;
        }
        const QRect area = shown.pixels(button, window);
        const QColor fill = shown.surface(area.adjusted(2, 2, -2, -2));
        // A custom-painted button's text colour is only in its picture.
        const QColor text = qobject_cast<const ProminentButton *>(&button)
                                ? shown.strongest(area.adjusted(3, 3, -3, -3), fill)
                                : button.palette().color(QPalette::Active, QPalette::ButtonText);
        expectAtLeast(isLargeText(button.font()) ? ColorContrast::largeTextMinimum : ColorContrast::textMinimum,
                      ColorContrast::compositedOver(text, fill), fill, what);
    }

    void checkCheckBox(const QCheckBox &box, const QWidget &window, const Shown &shown, const QString &what)
    {
        QStyleOptionButton option;
        option.initFrom(&box);
        const QRect indicator = box.style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, &box);
        const QRect outside = shown.pixels(box, window, indicator.adjusted(-3, 0, -indicator.width() - 1, 0));
        const QColor surroundings =
            outside.isEmpty() ? shown.surface(shown.pixels(box, window)) : shown.surface(outside);
        const QRect leftEdge = shown.pixels(box, window, QRect(indicator.left(), indicator.center().y(), 1, 1));
        const QColor border = QColor::fromRgb(shown.picture.pixel(leftEdge.topLeft()));
        expectAtLeast(ColorContrast::markMinimum, border, surroundings, what + QStringLiteral(" border"));
        const QColor text = box.palette().color(QPalette::Active, QPalette::WindowText);
        expectAtLeast(ColorContrast::textMinimum, ColorContrast::compositedOver(text, surroundings), surroundings,
                      what);
    }

    void checkWindow(QWidget &window, const QString &name)
    {
        window.show();
        waitUntil([] { return false; }, 150);
        const QPixmap grab = window.grab();
        const Shown shown {grab.toImage().convertToFormat(QImage::Format_RGB32), grab.devicePixelRatio()};
        for (const QLabel *label : window.findChildren<QLabel *>()) {
            if (label->isVisibleTo(&window) && !label->visibleRegion().isEmpty())
                checkLabel(*label, window, shown);
        }
        for (const QAbstractButton *button : window.findChildren<QAbstractButton *>()) {
            if (button->isVisibleTo(&window) && !button->visibleRegion().isEmpty())
                checkButton(*button, window, shown);
        }
        SCOPED_TRACE(name.toStdString());
        EXPECT_TRUE(failures.isEmpty()) << failures.join(QLatin1Char('\n')).toStdString();
        failures.clear();
    }
};

} // namespace

TEST_F(ContrastTest, EveryEnabledTextAndMarkOfTheScreensIsLegibleInBothThemes)
{
    const ManagedService web = addService(QStringLiteral("Web server"), QStringLiteral("sleep 300"));
    const ManagedService job = addService(QStringLiteral("Nightly job"), QStringLiteral("echo done"));
    await(manager.start(job.id));
    ASSERT_TRUE(waitForStopped(job.id));
    await(manager.start(web.id));
    saveProfile(QStringLiteral("Staging"), {variable("API_URL", "https://staging")}, false);

    for (const AppAppearanceMode mode : {AppAppearanceMode::light, AppAppearanceMode::dark}) {
        ThemeManager::instance().apply(mode);
        const QString theme = mode == AppAppearanceMode::dark ? QStringLiteral("dark") : QStringLiteral("light");

        ServicesView services(manager, profiles, lockManager, history, &bookmarks);
        services.resize(1100, 760);
        services.selectService(job.id);
        services.findChild<ServiceRunHistorySection *>()->setExpanded(true);
        checkWindow(services, QStringLiteral("services, stopped service, ") + theme);
        services.selectService(web.id);
        checkWindow(services, QStringLiteral("services, running service, ") + theme);

        AppSettings current;
        current.defaultShell = QStringLiteral("/bin/bash");
        SettingsView settingsView(
            &settingsRepository, [&] { return current; }, [&](const AppSettings &applied) { current = applied; });
        settingsView.resize(520, 360);
        checkWindow(settingsView, QStringLiteral("settings before start-up, ") + theme);
        settingsView.setApplicationReady(true);
        checkWindow(settingsView, QStringLiteral("settings, ") + theme);

        EnvironmentProfilesView profilesView(&profiles, &lockManager, nullptr, std::nullopt);
        profilesView.resize(1000, 640);
        checkWindow(profilesView, QStringLiteral("profiles, ") + theme);
    }
}

// Panel tints, focus marks and secondary text against every surface.
TEST_F(ContrastTest, TintsAndFocusMarksStandOutFromEverySurfaceInBothThemes)
{
    const ThemeColor surfaces[] = {ThemeColor::controlBackground(), ThemeColor::textBackground(),
                                   ThemeColor::cardBackground(), ThemeColor::sidebarBackground()};
    for (const AppAppearanceMode mode : {AppAppearanceMode::light, AppAppearanceMode::dark}) {
        ThemeManager::instance().apply(mode);
        const QPalette palette = QApplication::palette();
        const QColor window = palette.color(QPalette::Window);
        QList<QColor> backgrounds {window, palette.color(QPalette::Base), palette.color(QPalette::Button)};
        for (const ThemeColor &surface : surfaces)
            backgrounds << ColorContrast::compositedOver(surface.resolve(), window);
        for (const QColor &background : backgrounds) {
            // Custom controls draw their focus mark on the window and its cards, never on a button face.
            if (background != palette.color(QPalette::Button))
                expectAtLeast(ColorContrast::markMinimum, focusMarkColor(nullptr), background,
                              QStringLiteral("focus mark"));
            for (const ThemeColor &text : {ThemeColor::secondary(), ThemeColor::tertiary()})
                expectAtLeast(ColorContrast::textMinimum, ColorContrast::compositedOver(text.resolve(), background),
                              background, QStringLiteral("secondary or tertiary text"));
        }
        for (const Palette::Color tint : {Palette::Color::orange, Palette::Color::red, Palette::Color::slate}) {
            QPushButton button(QStringLiteral("Run Anyway"));
            tintProminent(&button, tint);
            for (const QColor &face : buttonFaceColors(&button))
                expectAtLeast(ColorContrast::textMinimum, button.palette().color(QPalette::ButtonText), face,
                              QStringLiteral("panel button"));
            expectLooksDisabled(button, QPalette::ButtonText, QStringLiteral("panel button"));
        }
        EXPECT_TRUE(failures.isEmpty()) << failures.join(QLatin1Char('\n')).toStdString();
        failures.clear();
    }
}
