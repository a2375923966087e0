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
#include <QTest>

namespace {

struct ContrastTest : ServiceManagerTest {
    SecurityScopedBookmarkStore bookmarks {folder + QStringLiteral("/bookmarks.json")};
    SettingsRepository settingsRepository {folder + QStringLiteral("/settings.json")};
    QStringList failures;
    // The window being checked and a picture of it: what is painted is only known from the picture.
    const QWidget *checked = nullptr;
    QImage picture;
    qreal pixelRatio = 1;
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
    void reportFailures(const char *where)
    {
        EXPECT_TRUE(failures.isEmpty()) << where << '\n' << failures.join(u'\n').toStdString();
        failures.clear();
    }
    QRect pixels(const QWidget &widget, QRect area = {}) const
    {
        if (area.isNull())
            area = widget.rect();
        const QRect inWindow(widget.mapTo(checked, area.topLeft()), area.size());
        return QRect((QPointF(inWindow.topLeft()) * pixelRatio).toPoint(),
                     (QSizeF(inWindow.size()) * pixelRatio).toSize())
            .intersected(picture.rect());
    }
    // The colour that covers most of an area: a control's or a label's surface.
    QColor surface(const QRect &area) const
    {
        QHash<QRgb, int> counts;
        QRgb most = 0;
        for (int y = area.top(); y <= area.bottom(); ++y) {
            for (int x = area.left(); x <= area.right(); ++x) {
                if (++counts[picture.pixel(x, y)] > counts.value(most))
                    most = picture.pixel(x, y);
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
    void checkText(const QWidget &widget, const QString &text)
    {
        const QString what = QStringLiteral("%1 \"%2\" (%3)")
                                 .arg(QString::fromUtf8(widget.metaObject()->className()), text, widget.objectName());
        if (!widget.isEnabled())
            return expectLooksDisabled(widget, widget.foregroundRole(), what);
        const QRect area = pixels(widget);
        QColor background = surface(area);
        QColor colour = widget.palette().color(QPalette::Active, widget.foregroundRole());
        if (const auto *styled = qobject_cast<const StyledLabel *>(&widget))
            colour = styled->resolvedColor();
        if (const auto *box = qobject_cast<const QCheckBox *>(&widget)) {
            QStyleOptionButton option;
            option.initFrom(box);
            const QRect indicator = box->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, box);
            const QRect outside = pixels(*box, indicator.adjusted(-3, 0, -indicator.width() - 1, 0));
            if (!outside.isEmpty())
                background = surface(outside);
            const QPoint leftEdge = pixels(*box, QRect(indicator.left(), indicator.center().y(), 1, 1)).topLeft();
            expectAtLeast(ColorContrast::markMinimum, QColor::fromRgb(picture.pixel(leftEdge)), background,
                          what + QStringLiteral(" border"));
        } else if (qobject_cast<const QAbstractButton *>(&widget)) {
            background = surface(area.adjusted(2, 2, -2, -2));
            // A custom-painted button's text colour is only in its picture.
            colour = qobject_cast<const ProminentButton *>(&widget)
                         ? strongest(area.adjusted(3, 3, -3, -3), background)
                         : widget.palette().color(QPalette::Active, QPalette::ButtonText);
        }
        const qreal points = QFontInfo(widget.font()).pointSizeF();
        const bool large = points >= 18 || (points >= 14 && widget.font().weight() >= QFont::Bold);
        expectAtLeast(large ? ColorContrast::largeTextMinimum : ColorContrast::textMinimum,
                      ColorContrast::compositedOver(colour, background), background, what);
    }
    void checkWindow(QWidget &shown, const char *where)
    {
        shown.show();
        QTest::qWait(150);
        const QPixmap grab = shown.grab();
        checked = &shown;
        picture = grab.toImage().convertToFormat(QImage::Format_RGB32);
        pixelRatio = grab.devicePixelRatio();
        for (const QWidget *widget : shown.findChildren<QWidget *>()) {
            if (!widget->isVisibleTo(&shown) || widget->visibleRegion().isEmpty())
                continue;
            if (const auto *label = qobject_cast<const QLabel *>(widget)) {
                if (!label->text().isEmpty() && label->textFormat() != Qt::RichText)
                    checkText(*label, label->text());
            } else if (const auto *button = qobject_cast<const QAbstractButton *>(widget);
                       button && !button->text().isEmpty())
                checkText(*button, button->text());
        }
        reportFailures(where);
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
        SCOPED_TRACE(mode == AppAppearanceMode::dark ? "dark theme" : "light theme");
        ServicesView services(manager, profiles, lockManager, history, &bookmarks);
        services.resize(1100, 760);
        services.selectService(job.id);
        services.findChild<ServiceRunHistorySection *>()->setExpanded(true);
        checkWindow(services, "services, stopped service");
        services.selectService(web.id);
        checkWindow(services, "services, running service");
        AppSettings current;
        current.defaultShell = QStringLiteral("/bin/bash");
        SettingsView settingsView(
            &settingsRepository, [&] { return current; }, [&](auto &applied) { current = applied; });
        settingsView.resize(520, 360);
        checkWindow(settingsView, "settings before start-up");
        settingsView.setApplicationReady(true);
        checkWindow(settingsView, "settings");
        EnvironmentProfilesView profilesView(&profiles, &lockManager, nullptr, std::nullopt);
        profilesView.resize(1000, 640);
        checkWindow(profilesView, "profiles");
    }
}

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
        reportFailures("tints");
    }
}
