#include "execution/ServiceManagerFixture.h"

#include "records/SecurityScopedBookmarkStore.h"
#include "records/SettingsRepository.h"
#include "ui/components/ButtonTextTint.h"
#include "ui/components/ColorContrast.h"
#include "ui/components/FocusMark.h"
#include "ui/components/MacTextField.h"
#include "ui/components/ProminentButton.h"
#include "ui/components/SearchField.h"
#include "ui/components/ServiceStatusActionCard.h"
#include "ui/components/StatusBadge.h"
#include "ui/components/StyledLabel.h"
#include "ui/components/ThemeColor.h"
#include "ui/components/ThemeManager.h"
#include "ui/components/WrappingText.h"
#include "ui/menubar/MenuBarStatusController.h"
#include "ui/menubar/MenuBarStatusView.h"
#include "ui/menubar/MenuButtonTint.h"
#include "ui/menubar/MenuServiceRow.h"
#include "ui/screens/dashboard/DashboardView.h"
#include "ui/screens/dashboard/SummaryPopover.h"
#include "ui/screens/profiles/EnvironmentProfilesView.h"
#include "ui/screens/profiles/ProfilesController.h"
#include "ui/screens/services/ServiceEditorMode.h"
#include "ui/screens/services/ServiceEditorView.h"
#include "ui/screens/services/ServiceListModel.h"
#include "ui/screens/services/ServiceRowDelegate.h"
#include "ui/screens/services/ServiceRunHistoryRow.h"
#include "ui/screens/services/ServiceRunHistorySection.h"
#include "ui/screens/services/ServicesController.h"
#include "ui/screens/services/ServicesView.h"
#include "ui/screens/settings/SettingsView.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHash>
#include <QImage>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QScrollArea>
#include <QStyleOptionButton>
#include <QTest>
#include <QTextEdit>

namespace {

// AA with a margin for texts whose colour is picked by contrast: what shows lands a little under the pick.
constexpr qreal pickedTextMinimum = ColorContrast::textMinimum + 0.1;

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
        const qreal minimum =
            qobject_cast<const QAbstractButton *>(&widget) ? pickedTextMinimum : ColorContrast::textMinimum;
        expectAtLeast(large ? ColorContrast::largeTextMinimum : minimum,
                      ColorContrast::compositedOver(colour, background), background, what);
    }
    // A text or mark known only from the picture: its strongest pixel on the surface it covers most.
    void checkPainted(const QRect &area, const QString &what, qreal minimum = ColorContrast::textMinimum)
    {
        const QColor background = surface(area);
        expectAtLeast(minimum, strongest(area, background), background, what);
    }
    // A field's or combo box's left edge against the surfaces outside and inside it.
    void checkEdge(const QWidget &field, const QString &what)
    {
        const int middle = field.height() / 2;
        const QRect edge = pixels(field, QRect(0, middle - 2, 2, 5));
        for (const QColor &side :
             {surface(pixels(field, QRect(-4, middle - 1, 3, 3))), surface(pixels(field, QRect(3, 4, 4, 3)))})
            expectAtLeast(ColorContrast::markMinimum, strongest(edge, side), side, what + QStringLiteral(" edge"));
    }
    // The rows are painted: the name over the caption, the badge at the right end.
    void checkServiceRows(const QListView &list)
    {
        const QPoint origin = list.viewport()->mapTo(checked, QPoint());
        for (int row = 0; row < list.model()->rowCount(); ++row) {
            const QModelIndex index = list.model()->index(row, 0);
            const QRect rect = list.visualRect(index).adjusted(10, 0, -10, -4).translated(origin);
            const QString what = QStringLiteral("row \"%1\"%2")
                                     .arg(index.data().toString(), index.data(ServiceListModel::SelectedRole).toBool()
                                                                       ? QStringLiteral(" (selected)")
                                                                       : QString());
            const QSize badge = StatusBadge::capsuleSize(
                ServiceRowDelegate::badgeText(index.data(ServiceListModel::StateRole).toInt()));
            const QRect text(rect.left() + 34, rect.top(), rect.width() - badge.width() - 44, rect.height() / 2);
            checkPainted(pixels(*checked, text), what + QStringLiteral(" name"), pickedTextMinimum);
            checkPainted(pixels(*checked, text.translated(0, text.height() + 1)), what + QStringLiteral(" caption"));
            checkPainted(
                pixels(*checked, QRect(rect.right() - badge.width() + 4, rect.center().y() - 4, badge.width() - 6, 8)),
                what + QStringLiteral(" badge"));
        }
    }
    void checkWindow(QWidget &shown, const char *where)
    {
        shown.show();
        QTest::qWait(250);
        EXPECT_TRUE(waitUntil([&] { return animationsSettled(shown); })); // fills that fade in
        const QPixmap grab = shown.grab();
        checked = &shown;
        picture = grab.toImage().convertToFormat(QImage::Format_RGB32);
        pixelRatio = grab.devicePixelRatio();
        for (const QWidget *widget : shown.findChildren<QWidget *>()) {
            if (!widget->isVisibleTo(&shown) || widget->visibleRegion().isEmpty())
                continue;
            const QString name = QStringLiteral("%1 (%2)").arg(QString::fromUtf8(widget->metaObject()->className()),
                                                               widget->objectName());
            if (const auto *label = qobject_cast<const QLabel *>(widget)) {
                if (!label->text().isEmpty() && label->textFormat() != Qt::RichText)
                    checkText(*label, label->text());
            } else if (const auto *prominent = qobject_cast<const ProminentButton *>(widget);
                       prominent && !prominent->isEnabled()) {
                // Dimmed to the neutral face of a disabled button, not a paler tint.
                const QColor face = surface(pixels(*prominent).adjusted(3, 3, -3, -3));
                if (face.hsvSaturation() > 40)
                    failures << name + QStringLiteral(": disabled, but painted in its tint ") + face.name();
            } else if (const auto *button = qobject_cast<const QAbstractButton *>(widget);
                       button && !button->text().isEmpty()) {
                checkText(*button, button->text());
            } else if (const auto *text = qobject_cast<const WrappingText *>(widget); text && !text->text().isEmpty()) {
                checkPainted(pixels(*text), name + QStringLiteral(" \"") + text->text() + u'"');
            } else if (const auto *field = qobject_cast<const QLineEdit *>(widget)) {
                if (field->hasFrame() && field->isEnabled())
                    checkEdge(*field, name);
                const QColor base = surface(pixels(*field).adjusted(3, 3, -3, -3));
                if (field->text().isEmpty() && !field->placeholderText().isEmpty())
                    expectAtLeast(
                        ColorContrast::textMinimum,
                        ColorContrast::compositedOver(field->palette().color(QPalette::PlaceholderText), base), base,
                        name + QStringLiteral(" placeholder"));
            } else if (const auto *area = qobject_cast<const QTextEdit *>(widget);
                       widget->isEnabled()
                       && (qobject_cast<const QComboBox *>(widget) || qobject_cast<const SearchField *>(widget)
                           || (area && !area->isReadOnly()))) {
                checkEdge(*widget, name);
            } else if (qobject_cast<const StatusBadge *>(widget)) {
                checkPainted(pixels(*widget).adjusted(3, 2, -3, -2), name);
            } else if (widget->objectName() == QLatin1String("secretLock")) {
                checkPainted(pixels(*widget), name, ColorContrast::markMinimum);
            } else if (const auto *list = qobject_cast<const QListView *>(widget);
                       list && qobject_cast<ServiceRowDelegate *>(list->itemDelegate())) {
                checkServiceRows(*list);
            }
        }
        reportFailures(where);
    }
};

} // namespace

TEST_F(ContrastTest, EveryTextAndMarkOfTheScreensIsLegibleInBothThemesAtStartAndAfterASwitch)
{
    const EnvironmentProfile staging =
        saveProfile(QStringLiteral("Staging"),
                    {variable("API_URL", "https://staging"), variable("API_TOKEN", "s3cret", true)}, false);
    const ManagedService web = addService(QStringLiteral("Web server"), QStringLiteral("sleep 300"));
    const ManagedService job = addService(QStringLiteral("Nightly job"), QStringLiteral("echo done"), staging.id);
    await(manager.start(job.id));
    ASSERT_TRUE(waitForStopped(job.id));
    await(manager.start(web.id));

    for (const AppAppearanceMode start : {AppAppearanceMode::light, AppAppearanceMode::dark}) {
        ThemeManager::instance().apply(start);
        const bool startsDark = start == AppAppearanceMode::dark;
        ServicesView services(manager, profiles, lockManager, history, &bookmarks);
        services.resize(1100, 1400);
        AppSettings current;
        current.defaultShell = QStringLiteral("/usr/local/bin/custom-shell");
        SettingsView settingsView(
            &settingsRepository, [&] { return current; }, [&](auto &applied) { current = applied; });
        settingsView.resize(520, 480);
        EnvironmentProfilesView profilesView(&profiles, &lockManager, nullptr, std::nullopt);
        profilesView.resize(1000, 640);
        profilesView.controller().tapRow(staging.id);
        MenuBarStatusView panel(&manager, &profiles, &lockManager, nullptr, true);
        panel.controller()->beginQuitConfirmation();
        DashboardView dashboard(&manager, nullptr, [](const QUuid &) {});
        dashboard.resize(900, 560);
        ServicesController editing(manager, profiles, lockManager, history, &bookmarks);
        ServiceEditorView editor(ServiceEditorMode::edit(job), job, editing);
        editor.resize(640, 640);

        // Built in one theme, then switched at run time: every widget must follow.
        for (const bool switched : {false, true}) {
            if (switched)
                ThemeManager::instance().apply(startsDark ? AppAppearanceMode::light : AppAppearanceMode::dark);
            SCOPED_TRACE(std::string(startsDark ? "started dark" : "started light")
                         + (switched ? ", switched at run time" : ""));
            // The running service stays shown across the switch, its configuration open.
            const QList<ManagedService> shown = switched ? QList {web, job} : QList {job, web};
            for (const ManagedService &service : shown) {
                if (!switched || service.id != web.id) {
                    services.selectService(service.id);
                    services.findChild<ServiceRunHistorySection *>()->setExpanded(true);
                    for (auto *run : services.findChildren<ServiceRunHistoryRow *>())
                        run->setExpanded(true);
                    services.findChild<QPushButton *>(QStringLiteral("configurationToggle"))->click();
                }
                checkWindow(services, service.id == job.id ? "services, stopped service" : "services, running service");
            }
            if (!switched) {
                checkWindow(settingsView, "settings before start-up");
                settingsView.setApplicationReady(true);
            }
            checkWindow(settingsView, "settings");
            checkWindow(profilesView, "profiles");
            panel.adjustSize();
            checkWindow(panel, "panel, quit question");
            checkWindow(dashboard, "dashboard");
            checkWindow(editor, "service editor");
        }
    }
}

TEST_F(ContrastTest, TintsAndFocusMarksStandOutFromEverySurfaceInBothThemes)
{
    for (const AppAppearanceMode mode : {AppAppearanceMode::light, AppAppearanceMode::dark}) {
        ThemeManager::instance().apply(mode);
        const QPalette palette = QApplication::palette();
        for (const QColor &background : ThemeColor::opaqueSurfaces()) {
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

TEST_F(ContrastTest, EveryTabStopShowsAFocusMarkAndNoScrollAreaTakesTheFocus)
{
    const ManagedService web = addService(QStringLiteral("Web server"), QStringLiteral("sleep 300"));
    const EnvironmentProfile staging = saveProfile(QStringLiteral("Staging"), {variable("A", "1")}, false);
    for (const AppAppearanceMode mode : {AppAppearanceMode::light, AppAppearanceMode::dark}) {
        ThemeManager::instance().apply(mode);
        ServicesView services(manager, profiles, lockManager, history, &bookmarks);
        services.resize(1000, 700);
        services.selectService(web.id);
        EnvironmentProfilesView profilesView(&profiles, &lockManager, nullptr, std::nullopt);
        profilesView.controller().tapRow(staging.id);
        DashboardView dashboard(&manager, nullptr, [](const QUuid &) {});
        SummaryPopover popover(ServiceSummaryFilter::all,
                               {{web.id, web.name, {}, ServiceLifecycleState::stopped, std::nullopt}}, nullptr);
        MenuBarStatusView panel(&manager, &profiles, &lockManager, nullptr, true);
        ServicesController editing(manager, profiles, lockManager, history, &bookmarks);
        ServiceEditorView editor(ServiceEditorMode::edit(web), web, editing);
        for (QWidget *window : QList<QWidget *> {&services, &profilesView, &popover})
            for (const QScrollArea *area : window->findChildren<QScrollArea *>())
                EXPECT_EQ(area->focusPolicy(), Qt::NoFocus) << area->parent()->metaObject()->className();

        services.show(); // lays the list's rows out
        auto *list = services.findChild<QListView *>(QStringLiteral("serviceList"));
        auto *search = services.findChild<SearchField *>();
        // What takes the focus, and where its mark shows if not on it.
        struct Stop {
            const char *what;
            QWidget *focused, *marked = nullptr;
            QRect area = {};
        };
        const Stop stops[] = {
            {"status card", dashboard.card(ServiceSummaryFilter::all)},
            {"services list", list, list->viewport(), list->visualRect(list->currentIndex())},
            {"search field", search->textField(), search},
            {"name field", editor.findChild<QWidget *>(QStringLiteral("nameField"))},
            {"command field", editor.findChild<QWidget *>(QStringLiteral("commandField"))},
            {"profile picker", editor.findChild<QWidget *>(QStringLiteral("profilePicker"))},
            {"Open Velmora", panel.openAppButton()},
            {"panel row", panel.findChild<MenuServiceRow *>()->openButton()},
        };
        for (const auto &stop : stops) {
            SCOPED_TRACE(stop.what);
            QWidget *marked = stop.marked ? stop.marked : stop.focused;
            const QRect area = stop.area.isNull() ? marked->rect() : stop.area;
            QWidget *window = stop.focused->window();
            window->show();
            window->activateWindow(); // one window at a time holds the focus
            ASSERT_TRUE(QTest::qWaitForWindowActive(window));
            QCoreApplication::processEvents();
            stop.focused->clearFocus();
            const QImage before = marked->grab(area).toImage();
            for (int tabs = 0; tabs < 60 && !stop.focused->hasFocus(); ++tabs)
                QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : window, Qt::Key_Tab);
            QCoreApplication::processEvents();
            ASSERT_TRUE(stop.focused->hasFocus());
            const QImage after = marked->grab(area).toImage();
            const QColor mark = focusMarkColor(marked);
            int ring = 0;
            for (int y = 0; y < after.height(); ++y)
                for (int x = 0; x < after.width(); ++x)
                    ring += after.pixel(x, y) != before.pixel(x, y)
                            && ColorContrast::ratio(after.pixelColor(x, y), mark) < 1.1;
            EXPECT_GE(ring, area.width() + area.height());
        }
    }
}
