#include "../ScreenReader.h"
#include "ButtonLookup.h"
#include "execution/ServiceManagerFixture.h"

#include "records/SecurityScopedBookmarkStore.h"
#include "support/Screenshots.h"
#include "ui/components/DetailPageHeader.h"
#include "ui/components/ConsoleOutputView.h"
#include "ui/components/ThemeManager.h"
#include "ui/screens/services/CommandThreatReviewView.h"
#include "ui/screens/services/SegmentedPicker.h"
#include "ui/screens/services/ServiceListModel.h"
#include "ui/screens/services/ServiceEditorView.h"
#include "ui/screens/services/ServicesController.h"
#include "ui/screens/services/ServicesView.h"
#include "ui/screens/services/SudoPasswordPromptView.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>
#include <QStackedWidget>
#include <QTest>

struct ServicesViewTest : ServiceManagerTest {
    SecurityScopedBookmarkStore bookmarks {folder + QStringLiteral("/bookmarks.json")};
    std::unique_ptr<ServicesView> view;

    void makeView()
    {
        view = std::make_unique<ServicesView>(manager, profiles, lockManager, history, &bookmarks);
        view->resize(1100, 720);
        view->show();
    }
    ServicesController &controller() { return view->controller(); }
    QListView *list() { return view->findChild<QListView *>(QStringLiteral("serviceList")); }
    QWidget *currentDetail()
    {
        return view->findChild<QStackedWidget *>(QStringLiteral("detailHost"))->currentWidget();
    }
};

TEST_F(ServicesViewTest, SearchClearButtonNavigationResetAndEmptySpaceClick)
{
    const ManagedService api = addService(QStringLiteral("api"), QStringLiteral("echo api"));
    addService(QStringLiteral("web"), QStringLiteral("echo web"));
    makeView();
    auto *search = view->findChild<QLineEdit *>(QStringLiteral("searchField"));
    auto *clear = view->findChild<QAbstractButton *>(QStringLiteral("clearSearchButton"));
    EXPECT_EQ(list()->model()->rowCount(), 2);
    EXPECT_FALSE(clear->isVisible());

    QTest::keyClicks(search, QStringLiteral("   "));
    EXPECT_TRUE(clear->isVisible());
    EXPECT_EQ(list()->model()->rowCount(), 2);
    QTest::mouseClick(clear, Qt::LeftButton);
    EXPECT_TRUE(search->text().isEmpty());
    EXPECT_FALSE(clear->isVisible());
    setTextAsAScreenReader(search, QStringLiteral("web"));
    EXPECT_EQ(list()->model()->rowCount(), 1);
    controller().setSearchText(QString());

    QTest::keyClicks(search, QStringLiteral("ap"));
    auto *filter = view->findChild<SegmentedPicker *>(QStringLiteral("filterPicker"));
    QTest::mouseClick(filter, Qt::LeftButton, {}, filter->segmentRect(2).center());
    EXPECT_EQ(controller().filter(), ServiceFilter::stopped);
    EXPECT_EQ(list()->model()->rowCount(), 1);
    view->resetNavigation();
    EXPECT_TRUE(search->text().isEmpty());
    EXPECT_EQ(controller().filter(), ServiceFilter::all);
    EXPECT_EQ(filter->currentIndex(), 0);

    view->selectService(api.id);
    EXPECT_EQ(currentDetail()->objectName(), QStringLiteral("serviceDetailView"));
    const QPoint below(list()->viewport()->width() / 2, list()->viewport()->height() - 4);
    QTest::mouseClick(list()->viewport(), Qt::LeftButton, {}, below);
    EXPECT_FALSE(controller().selectedServiceID());
    EXPECT_EQ(currentDetail()->objectName(), QStringLiteral("emptyState"));

    const QRect firstRow = list()->visualRect(list()->model()->index(0, 0));
    QTest::mouseClick(list()->viewport(), Qt::LeftButton, {}, firstRow.center());
    EXPECT_EQ(controller().selectedServiceID(), api.id);
}

TEST_F(ServicesViewTest, CreateOpensTheEditorAndItsSaveSelectsTheNewService)
{
    makeView();
    QTest::mouseClick(view->findChild<QPushButton *>(QStringLiteral("createServiceButton")), Qt::LeftButton);
    ASSERT_TRUE(controller().editorMode());
    auto *editor = view->findChild<ServiceEditorView *>();
    ASSERT_TRUE(editor);
    QTest::keyClicks(editor->findChild<QLineEdit *>(QStringLiteral("nameField")), QStringLiteral("fresh"));
    QTest::keyClicks(editor->findChild<QWidget *>(QStringLiteral("commandField")), QStringLiteral("echo fresh"));
    QTest::mouseClick(buttonNamed(*editor, QStringLiteral("Save")), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return controller().selectedServiceID().has_value(); }));
    EXPECT_FALSE(controller().editorMode());
    const std::optional<ManagedService> saved = manager.service(*controller().selectedServiceID());
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->command, QStringLiteral("echo fresh"));
    EXPECT_EQ(list()->model()->rowCount(), 1);
}

TEST_F(ServicesViewTest, ForceTerminateCancelStopsNothing)
{
    const ManagedService idle = addService(QStringLiteral("idle"), QStringLiteral("sleep 30"));
    makeView();
    await(controller().launchService(idle, SudoLaunchAction::start));
    ASSERT_TRUE(running(idle.id));
    controller().requestForceKill(idle);
    auto *alert = view->findChild<QMessageBox *>();
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->windowTitle(), QStringLiteral("Force Terminate?"));
    QTest::mouseClick(buttonNamed(*alert, QStringLiteral("Cancel")), Qt::LeftButton);
    EXPECT_FALSE(controller().confirmForceKill());
    QTest::qWait(50);
    EXPECT_TRUE(running(idle.id));
    await(manager.stop(idle.id, true));
}

TEST_F(ServicesViewTest, ErrorAlertShowsTheMessageAndOkClearsIt)
{
    const ManagedService blank = addService(QStringLiteral("blank"), QStringLiteral(" "));
    makeView();
    await(controller().launchService(blank, SudoLaunchAction::start));
    auto *alert = view->findChild<QMessageBox *>();
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->windowTitle(), QStringLiteral("Error"));
    EXPECT_EQ(alert->informativeText(), QStringLiteral("No shell command was provided for this service."));
    QTest::mouseClick(buttonNamed(*alert, QStringLiteral("OK")), Qt::LeftButton);
    EXPECT_FALSE(controller().errorMessage());
}

TEST_F(ServicesViewTest, ALockedServiceChosenBeforeTheScreenShowsAsksOnceAndReselectionStartsAfresh)
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const EnvironmentProfile vault {QUuid::createUuid(),
                                    QStringLiteral("vault"),
                                    {{QUuid::createUuid(), QStringLiteral("TOKEN"), QStringLiteral("t0ken"), true}},
                                    true,
                                    now,
                                    now};
    await(profiles.saveProfile(vault));
    lockManager.lock();
    const ManagedService api = addService(QStringLiteral("api"), QStringLiteral("echo api"), vault.id);
    authenticator->prompts.clear();
    authenticator->failure = ProtectedProfilesError::Case::authenticationCanceled;

    // The shell selects the service another screen asked for, then shows the screen.
    view = std::make_unique<ServicesView>(manager, profiles, lockManager, history, &bookmarks);
    view->selectService(api.id);
    EXPECT_TRUE(authenticator->prompts.isEmpty());
    view->show();
    EXPECT_TRUE(waitUntil([&] { return !authenticator->prompts.isEmpty(); }));
    EXPECT_EQ(authenticator->prompts.size(), 1);
    view->hide();
    view->show();
    EXPECT_TRUE(waitUntil([&] { return authenticator->prompts.size() >= 2; }));
    EXPECT_EQ(authenticator->prompts.size(), 2);

    // Leaving the service and choosing it again shows it from its initial state.
    authenticator->failure.reset();
    await(controller().unlockService(api));
    const ManagedService plain = addService(QStringLiteral("plain"), QStringLiteral("echo plain"));
    view->selectService(plain.id);
    auto *toggle = view->findChild<QPushButton *>(QStringLiteral("configurationToggle"));
    ASSERT_TRUE(toggle);
    QTest::mouseClick(toggle, Qt::LeftButton);
    EXPECT_EQ(toggle->toolTip(), QStringLiteral("Collapse configuration"));
    controller().setSelectedServiceID(std::nullopt);
    view->selectService(plain.id);
    EXPECT_EQ(toggle->toolTip(), QStringLiteral("Expand configuration"));
}

struct ServicesScreenScreenshots : ServicesViewTest {};

TEST_F(ServicesViewTest, LiveOutputFollowsTheManagersAdditionsThroughCutsAndARestart)
{
    // Long enough for several cuts at the front, then a stop that clears the
    // output and a second run that starts it over.
    const ManagedService service = addService(
        QStringLiteral("chatty"),
        QStringLiteral("for i in $(seq 1 40); do seq 1 3000; sleep 0.02; done; echo end-of-output; sleep 30"));
    makeView();
    view->selectService(service.id);
    auto *console = view->findChild<ConsoleOutputView *>(QStringLiteral("liveOutput"));
    ASSERT_NE(console, nullptr);
    int publications = 0;
    int mismatches = 0;
    int cutsApplied = 0;
    int wholeTextResets = 0;
    QString previous;
    // Connected after the view, so they see each change and publication as
    // the view left it: the console has taken a change before the entry
    // that carries it is published.
    int additionsNotTaken = 0;
    // Dies before the locals above and takes the connections with it: the
    // fixture's teardown still books a run, and the manager reports that too.
    const QObject receiver;
    QObject::connect(&manager, &ServiceManager::outputChanged, &receiver,
                     [&](const QUuid &id) { additionsNotTaken += console->text() != manager.liveOutput(id).text; });
    QObject::connect(&manager, &ServiceManager::runtimeEntryChanged, &receiver, [&](const QUuid &id) {
        ++publications;
        if (console->text() != entry(id).processOutput)
            ++mismatches;
        if (console->text() == previous)
            return;
        previous = console->text();
        cutsApplied += console->lastUpdatePath() == ConsoleOutputView::UpdatePath::cutAndAppend;
        wholeTextResets += console->lastUpdatePath() == ConsoleOutputView::UpdatePath::reset;
    });

    await(manager.start(service.id));
    ASSERT_TRUE(waitForOutput(service.id, QStringLiteral("end-of-output")));
    EXPECT_EQ(console->text(), entry(service.id).processOutput);
    EXPECT_GT(publications, 5);
    EXPECT_GT(cutsApplied, 0);
    // Only the first output after none is shown whole; every later one is an addition.
    EXPECT_LE(wholeTextResets, 1);
    await(manager.stop(service.id, true));
    EXPECT_TRUE(console->text().isEmpty());
    EXPECT_TRUE(console->isShowingPlaceholder());

    await(manager.saveService({service.id, service.name, QStringLiteral("echo second run; sleep 30"), false,
                               std::nullopt, service.createdAt, service.updatedAt}));
    await(manager.start(service.id));
    ASSERT_TRUE(waitForOutput(service.id, QStringLiteral("second run")));
    EXPECT_EQ(console->text(), entry(service.id).processOutput);
    EXPECT_EQ(mismatches, 0);
    EXPECT_EQ(additionsNotTaken, 0);
}

TEST_F(ServicesViewTest, SelectingAnotherServiceShowsItsOwnOutputEvenOfTheSameLength)
{
    const ManagedService first = addService(QStringLiteral("first"), QStringLiteral("echo aaaa; sleep 30"));
    const ManagedService second = addService(QStringLiteral("second"), QStringLiteral("echo bbbb; sleep 30"));
    makeView();
    await(manager.start(first.id));
    await(manager.start(second.id));
    ASSERT_TRUE(waitForOutput(first.id, QStringLiteral("aaaa")));
    ASSERT_TRUE(waitForOutput(second.id, QStringLiteral("bbbb")));
    auto *console = view->findChild<ConsoleOutputView *>(QStringLiteral("liveOutput"));
    view->selectService(first.id);
    EXPECT_EQ(console->text(), entry(first.id).processOutput);
    view->selectService(second.id);
    EXPECT_EQ(console->text(), entry(second.id).processOutput);
    view->selectService(first.id);
    EXPECT_EQ(console->text(), entry(first.id).processOutput);
}

TEST_F(ServicesScreenScreenshots, ListSheetsAndEditor)
{
    if (Screenshots::directory().isEmpty())
        GTEST_SKIP() << "screenshots are taken by scripts/screenshots.sh";
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const EnvironmentProfile vault {QUuid::createUuid(), QStringLiteral("Production secrets"), {}, true, now, now};
    await(profiles.saveProfile(vault));
    lockManager.lock();
    const ManagedService api = addService(QStringLiteral("API server"),
                                          QStringLiteral("cd ~/src/api && npm run start -- --port 8080 --watch"));
    const ManagedService worker = addService(QStringLiteral("Queue worker"), QStringLiteral("sleep 600"));
    addService(QStringLiteral("Billing sync"), QStringLiteral("python3 billing.py"), vault.id);
    addService(QStringLiteral("Static docs"), QString());
    const ManagedService peek = addService(QStringLiteral("Backup keys"),
                                           QStringLiteral("tar czf /tmp/k.tgz ~/.ssh && sudo cp /tmp/k.tgz /srv"));
    addService(QStringLiteral("Local tunnel"), QStringLiteral("ssh -N -L 5432:localhost:5432 db.internal"), {}, true);
    await(manager.start(worker.id));
    makeView();
    view->selectService(worker.id);

    for (const bool dark : {false, true}) {
        ThemeManager::instance().apply(dark ? AppAppearanceMode::dark : AppAppearanceMode::light);
        const QString suffix = dark ? QStringLiteral("-dark") : QStringLiteral("-light");
        controller().setSearchText(QString());
        Screenshots::save(*view, QStringLiteral("services/list") + suffix);
        controller().setSearchText(QStringLiteral("se"));
        Screenshots::save(*view, QStringLiteral("services/list-search") + suffix);
        controller().setSearchText(QString());

        await(controller().launchService(peek, SudoLaunchAction::start));
        auto *review = view->findChild<CommandThreatReviewView *>();
        if (review)
            Screenshots::save(*review, QStringLiteral("services/review") + suffix);
        controller().cancelThreatReview();
        QCoreApplication::processEvents();

        SudoPasswordPromptView sudo({peek.id, peek.name, SudoLaunchAction::start, {}}, view.get());
        sudo.show();
        Screenshots::save(sudo, QStringLiteral("services/sudo") + suffix);
        sudo.hide();

        ServiceEditorView create(ServiceEditorMode::create(), ServicesController::newServiceDraft(), controller(),
                                 view.get());
        create.resize(620, 640);
        create.show();
        Screenshots::save(create, QStringLiteral("services/editor-create") + suffix);
        create.hide();
        ServiceEditorView edit(ServiceEditorMode::edit(api), api, controller(), view.get());
        edit.resize(620, 640);
        edit.show();
        Screenshots::save(edit, QStringLiteral("services/editor-edit") + suffix);
        edit.hide();
        controller().dismissError();
    }
    await(manager.stop(worker.id, true));
}

TEST_F(ServicesViewTest, TheSelectedRowIsSelectedForAssistiveTechnologyAndRowsSayWhatTheyShow)
{
    const ManagedService web = addService(QStringLiteral("Web server"), QStringLiteral("sleep 300"));
    const ManagedService job = addService(QStringLiteral("Nightly job"), QStringLiteral("echo done"));
    makeView();
    await(manager.start(web.id));
    ASSERT_TRUE(running(web.id));
    QAccessibleInterface *list = QAccessible::queryAccessibleInterface(this->list());
    ASSERT_NE(list, nullptr);
    QAccessibleTableInterface *table = list->tableInterface();
    ASSERT_NE(table, nullptr);
    const auto cell = [&](const ManagedService &service) {
        const QAbstractItemModel *model = this->list()->model();
        for (int i = 0; i < model->rowCount(); ++i) {
            if (model->index(i, 0).data(ServiceListModel::ServiceIdRole).toUuid() == service.id)
                return table->cellAt(i, 0);
        }
        return static_cast<QAccessibleInterface *>(nullptr);
    };

    view->selectService(web.id);
    for (const ManagedService &service : {web, job}) {
        QAccessibleInterface *row = cell(service);
        ASSERT_NE(row, nullptr);
        const bool selected = service.id == web.id;
        EXPECT_EQ(bool(row->state().selected), selected) << service.name.toStdString();
        EXPECT_EQ(row->text(QAccessible::Description), selected ? QStringLiteral("Selected") : QString());
    }
    EXPECT_EQ(cell(web)->text(QAccessible::Name), QStringLiteral("Web server, sleep 300, Running"));
    EXPECT_EQ(cell(job)->text(QAccessible::Name), QStringLiteral("Nightly job, echo done, Stopped"));

    view->selectService(job.id);
    EXPECT_TRUE(cell(job)->state().selected);
    EXPECT_FALSE(cell(web)->state().selected);

    // A name stored with a line separator shows on one line in its row and title.
    const ManagedService split = addService(QStringLiteral("web\u2028api"), QStringLiteral("echo"));
    view->selectService(split.id);
    ASSERT_TRUE(cell(split));
    EXPECT_EQ(cell(split)->text(QAccessible::Name), QStringLiteral("web api, echo, Stopped"));
    EXPECT_EQ(view->findChild<DetailPageHeader *>()->title(), QStringLiteral("web api"));
    await(manager.stop(web.id, true));
}

TEST_F(ServicesViewTest, EveryWayOfSelectingARowSelectsItsServiceAndTheListShowsOneSelection)
{
    const ManagedService api = addService(QStringLiteral("api"), QStringLiteral("sleep 300"));
    const ManagedService web = addService(QStringLiteral("web"), QStringLiteral("echo web"));
    makeView();
    const auto rowOf = [&](const ManagedService &service) {
        return static_cast<ServiceListModel *>(list()->model())->rowOf(service.id);
    };
    const auto selectedRows = [&] { return list()->selectionModel()->selectedRows(); };
    const auto theOneSelectedRow = [&] { return selectedRows().size() == 1 ? selectedRows().constFirst().row() : -1; };
    QAccessibleTableInterface *table = QAccessible::queryAccessibleInterface(list())->tableInterface();
    ASSERT_NE(table, nullptr);

    // The call the AT-SPI bridge makes for a row's action: the detail and Start follow.
    table->cellAt(rowOf(api), 0)->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    EXPECT_EQ(controller().selectedServiceID(), api.id);
    QTest::mouseClick(buttonNamed(*currentDetail(), QStringLiteral("Start")), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return running(api.id); }));
    list()->setFocus();
    QTest::keyClick(list(), rowOf(web) > rowOf(api) ? Qt::Key_Down : Qt::Key_Up);
    EXPECT_EQ(controller().selectedServiceID(), web.id);

    // The controller's own changes and a reordering search show in the list
    // without feeding back; a service the search hides stays selected.
    controller().setSelectedServiceID(web.id);
    EXPECT_EQ(theOneSelectedRow(), rowOf(web));
    controller().setSearchText(QStringLiteral("api"));
    EXPECT_TRUE(selectedRows().isEmpty());
    EXPECT_EQ(controller().selectedServiceID(), web.id);
    controller().setSearchText(QString());
    EXPECT_EQ(theOneSelectedRow(), rowOf(web));
    // An arrow selects the one row a search leaves, current but unselected as the list takes the focus.
    controller().setSearchText(QStringLiteral("api"));
    list()->selectionModel()->setCurrentIndex(list()->model()->index(0, 0), QItemSelectionModel::NoUpdate);
    QTest::keyClick(list(), Qt::Key_Down);
    EXPECT_EQ(controller().selectedServiceID(), api.id);
    await(manager.stop(api.id, true));
}

TEST_F(ServicesViewTest, AClickOnTheSelectedRowAsksForAuthenticationAgainAndANewRowOnlyOnce)
{
    const EnvironmentProfile vault = saveProfile(QStringLiteral("vault"), {variable("TOKEN", "t0ken", true)}, true);
    const ManagedService api = addService(QStringLiteral("api"), QStringLiteral("echo api"), vault.id);
    lockManager.lock();
    authenticator->prompts.clear();
    authenticator->failure = ProtectedProfilesError::Case::authenticationCanceled;
    makeView();
    const QPoint row = list()->visualRect(list()->model()->index(0, 0)).center();
    QTest::mouseClick(list()->viewport(), Qt::LeftButton, {}, row);
    ASSERT_TRUE(waitUntil([&] { return authenticator->prompts.size() == 1; }));
    QTest::qWait(20);
    EXPECT_EQ(authenticator->prompts.size(), 1);
    QTest::mouseClick(list()->viewport(), Qt::LeftButton, {}, row);
    EXPECT_TRUE(waitUntil([&] { return authenticator->prompts.size() == 2; }));
    EXPECT_EQ(controller().selectedServiceID(), api.id);
}

TEST_F(ServicesViewTest, AFailedSaveKeepsTheEditorWithItsDraft)
{
    const ManagedService worker = addService(QStringLiteral("worker"), QStringLiteral("sleep 30"));
    makeView();
    controller().editService(worker);
    ServiceEditorView *editor = nullptr;
    ASSERT_TRUE(waitUntil([&] { return (editor = view->findChild<ServiceEditorView *>()) != nullptr; }));
    auto *name = editor->findChild<QLineEdit *>(QStringLiteral("nameField"));
    name->end(false);
    QTest::keyClicks(name, QStringLiteral(" 2"));
    // Started meanwhile (from the panel, say): the save is refused.
    await(manager.start(worker.id));
    ASSERT_TRUE(running(worker.id));
    QTest::keyClick(name, Qt::Key_Return);
    ASSERT_TRUE(waitUntil([&] { return controller().errorMessage().has_value(); }));
    ASSERT_EQ(view->findChild<ServiceEditorView *>(), editor);
    EXPECT_TRUE(editor->isVisible());
    EXPECT_EQ(editor->draft().name, QStringLiteral("worker 2"));
    EXPECT_TRUE(controller().editorMode());
    EXPECT_EQ(manager.service(worker.id)->name, QStringLiteral("worker"));
    await(manager.stop(worker.id, true));
}

TEST_F(ServicesViewTest, DeletingTheEditedServiceLeavesTheFocusOnTheListOrElseOnCreate)
{
    for (const bool another : {false, true}) {
        SCOPED_TRACE(another ? "another service left" : "none left");
        const ManagedService gone = addService(QStringLiteral("gone"), QStringLiteral("sleep 30"));
        makeView();
        ASSERT_TRUE(QTest::qWaitForWindowActive(view.get()));
        view->selectService(gone.id);
        view->findChild<QWidget *>(QStringLiteral("editButton"))->setFocus();
        controller().editService(gone);
        // As the editor's confirmed Delete does.
        ServiceEditorView *editor = view->findChild<ServiceEditorView *>();
        Q_EMIT editor->deleteRequested();
        editor->accept();
        ASSERT_TRUE(waitUntil([&] { return !controller().selectedServiceID(); }));
        EXPECT_EQ(view->focusWidget()->objectName(), another ? u"serviceList" : u"createServiceButton");
        addService(QStringLiteral("kept"), QStringLiteral("sleep 30"));
    }
}
