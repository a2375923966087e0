#include "ButtonLookup.h"
#include "execution/ServiceManagerFixture.h"

#include "records/SecurityScopedBookmarkStore.h"
#include "support/TestEnvironment.h"
#include "ui/screens/services/PathPickerDialog.h"
#include "ui/screens/services/ServiceEditorView.h"
#include "ui/screens/services/ServicesController.h"

#include <QAccessible>
#include <QAbstractItemView>
#include <QComboBox>
#include <QLabel>
#include <QScreen>
#include <QScrollArea>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

struct ServiceEditorViewTest : ServiceManagerTest {
    SecurityScopedBookmarkStore bookmarks {folder + QStringLiteral("/bookmarks.json")};
    ServicesController controller {manager, profiles, lockManager, history, &bookmarks};
    std::optional<ManagedService> saved;
    int deletes = 0;

    std::unique_ptr<ServiceEditorView> editor(ServiceEditorMode mode, ManagedService draft)
    {
        auto view = std::make_unique<ServiceEditorView>(std::move(mode), std::move(draft), controller);
        QObject::connect(view.get(), &ServiceEditorView::saveRequested,
                         [this](const ManagedService &service) { saved = service; });
        QObject::connect(view.get(), &ServiceEditorView::deleteRequested, [this] { ++deletes; });
        view->show();
        return view;
    }

    QStringList storedBookmarkPaths() const
    {
        QFile file(folder + QStringLiteral("/bookmarks.json"));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QJsonDocument::fromJson(file.readAll()).object().keys();
    }

    QString makeFile(const QString &name) const
    {
        QString path = TestEnvironment::home() + QLatin1Char('/') + name;
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        return path;
    }
};

TEST_F(ServiceEditorViewTest, CreateModeHasNoDeleteAndSaveNeedsATrimmedNameAndCommand)
{
    auto view = editor(ServiceEditorMode::create(), ServicesController::newServiceDraft());
    EXPECT_EQ(view->windowTitle(), QStringLiteral("Add Service"));
    EXPECT_FALSE(buttonNamed(*view, QStringLiteral("Delete")));
    // Screen readers hear each picker's label as its name and its choice as its value.
    const struct {
        const char *picker;
        QString name;
        QString value;
    } pickers[] = {{"profilePicker", QStringLiteral("Profile"), QStringLiteral("None")},
                   {"launchOptionPicker", QStringLiteral("Launch Option"), QStringLiteral("Velmora")}};
    for (const auto &[picker, name, value] : pickers) {
        auto *combo = view->findChild<QComboBox *>(QLatin1String(picker));
        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(combo);
        EXPECT_EQ(accessible->role(), QAccessible::ComboBox);
        EXPECT_EQ(accessible->text(QAccessible::Name), name);
        EXPECT_EQ(accessible->text(QAccessible::Value), value);
        EXPECT_EQ(accessible->childCount(), 1);
        // Over AT-SPI the choice is the selected item of the closed list.
        EXPECT_EQ(accessible->child(0)->tableInterface()->selectedRows(), QList<int> {combo->currentIndex()});
    }
    QPushButton *save = buttonNamed(*view, QStringLiteral("Save"));
    ASSERT_TRUE(save);
    EXPECT_FALSE(save->isEnabled());

    auto *name = view->findChild<QLineEdit *>(QStringLiteral("nameField"));
    QTest::keyClicks(name, QStringLiteral("   "));
    view->insertPickedPath(makeFile(QStringLiteral("run me.sh")));
    EXPECT_FALSE(save->isEnabled());
    QTest::keyClicks(name, QStringLiteral("api "));
    ASSERT_TRUE(save->isEnabled());
    // Return in the command is a line break, never a button.
    QWidget *command = view->findChild<QWidget *>(QStringLiteral("commandField"));
    command->setFocus();
    QTest::keyClick(command, Qt::Key_End, Qt::ControlModifier);
    QTest::keyClick(command, Qt::Key_Return);
    EXPECT_FALSE(saved);
    EXPECT_TRUE(view->isVisible());
    EXPECT_TRUE(view->draft().command.endsWith(QLatin1Char('\n')));
    view->insertPickedPath(TestEnvironment::home());
    // A line break, or a line or paragraph separator, pasted into the name is refused under the field.
    auto *nameMessage = view->findChild<QWidget *>(QStringLiteral("nameMessage"));
    ASSERT_TRUE(nameMessage);
    EXPECT_FALSE(nameMessage->isVisible());
    for (const QChar breaking : {QChar(u'\n'), QChar(QChar::LineSeparator), QChar(QChar::ParagraphSeparator)}) {
        name->insert(breaking);
        EXPECT_TRUE(nameMessage->isVisible()) << int(breaking.unicode());
        EXPECT_FALSE(save->isEnabled());
        name->backspace();
        EXPECT_FALSE(nameMessage->isVisible());
    }
    // Return in the name saves; the sheet waits for the answer with its draft.
    QTest::keyClick(name, Qt::Key_Return);
    ASSERT_TRUE(saved);
    // Handed over exactly as typed.
    EXPECT_EQ(saved->name, QStringLiteral("   api "));
    EXPECT_EQ(saved->command, TestEnvironment::home() + QStringLiteral("/run\\ me.sh\n") + TestEnvironment::home());
    EXPECT_TRUE(view->isVisible());
    EXPECT_FALSE(save->isEnabled());
    view->saveFinished(false);
    EXPECT_TRUE(view->isVisible());
    EXPECT_TRUE(save->isEnabled());
    EXPECT_EQ(view->draft().name, QStringLiteral("   api "));
    saved.reset();
    QTest::mouseClick(save, Qt::LeftButton);
    ASSERT_TRUE(saved);
    view->saveFinished(true);
    EXPECT_FALSE(view->isVisible());
}

TEST_F(ServiceEditorViewTest, DeleteAsksFirstAndAMissingProfileSurvivesAnUntouchedSave)
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QUuid gone = QUuid::createUuid();
    const ManagedService service {QUuid::createUuid(), QString(), QStringLiteral("echo"), false, gone, now, now};
    auto view = editor(ServiceEditorMode::edit(service), service);
    EXPECT_EQ(view->windowTitle(), QStringLiteral("Edit Service"));
    EXPECT_EQ(view->findChild<QComboBox *>(QStringLiteral("profilePicker"))->currentIndex(), -1);

    QTest::mouseClick(buttonNamed(*view, QStringLiteral("Delete")), Qt::LeftButton);
    ASSERT_TRUE(view->openQuestion());
    EXPECT_EQ(view->openQuestion()->message(), QStringLiteral("“This service” will be removed permanently. This cannot "
                                                              "be undone."));
    QTest::mouseClick(buttonNamed(*view->openQuestion(), QStringLiteral("Cancel")), Qt::LeftButton);
    EXPECT_EQ(deletes, 0);

    QTest::keyClicks(view->findChild<QLineEdit *>(QStringLiteral("nameField")), QStringLiteral("kept"));
    QTest::mouseClick(buttonNamed(*view, QStringLiteral("Save")), Qt::LeftButton);
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->environmentProfileId, gone);
    EXPECT_EQ(saved->createdAt, now);
}

TEST_F(ServiceEditorViewTest, AScreenReaderPicksAProfileInTheOpenList)
{
    const EnvironmentProfile prod = saveProfile(QStringLiteral("Prod"), {}, false);
    ASSERT_TRUE(waitUntil([&] { return controller.profiles().size() == 1; }));
    auto view = editor(ServiceEditorMode::create(), ServicesController::newServiceDraft());
    auto *picker = view->findChild<QComboBox *>(QStringLiteral("profilePicker"));
    picker->showPopup();
    QAccessibleInterface *list = QAccessible::queryAccessibleInterface(picker)->child(0);
    ASSERT_TRUE(list->tableInterface()->selectRow(picker->findText(QStringLiteral("Prod"))));
    EXPECT_EQ(view->draft().environmentProfileId, prod.id);
    // A row passed over and left with Escape is not what a screen reader then hears as chosen.
    QTest::keyClick(picker->view(), Qt::Key_Up);
    QTest::keyClick(picker->view(), Qt::Key_Escape);
    EXPECT_EQ(list->tableInterface()->selectedRows(), QList<int> {picker->currentIndex()});
}

TEST_F(ServiceEditorViewTest, TerminalIsQuestionedOnlyWhenItStaysChosen)
{
    auto view = editor(ServiceEditorMode::create(), ServicesController::newServiceDraft());
    auto *launch = view->findChild<QComboBox *>(QStringLiteral("launchOptionPicker"));
    launch->setCurrentIndex(1);
    launch->setCurrentIndex(0);
    QTest::qWait(ServiceEditorView::terminalConfirmationDelayMs * 2);
    EXPECT_FALSE(view->openQuestion());

    launch->setCurrentIndex(1);
    ASSERT_TRUE(waitUntil([&] { return view->openQuestion() != nullptr; }));
    EXPECT_EQ(view->openQuestion()->windowTitle(), QStringLiteral("Use Terminal?"));
    QTest::mouseClick(buttonNamed(*view->openQuestion(), QStringLiteral("Cancel")), Qt::LeftButton);
    EXPECT_EQ(launch->currentIndex(), 0);
    EXPECT_FALSE(view->draft().openInTerminal);
    EXPECT_EQ(QAccessible::queryAccessibleInterface(launch)->child(0)->tableInterface()->selectedRows(),
              QList<int> {0});

    launch->setCurrentIndex(1);
    ASSERT_TRUE(waitUntil([&] { return view->openQuestion() != nullptr; }));
    QTest::mouseClick(buttonNamed(*view->openQuestion(), QStringLiteral("Use Terminal")), Qt::LeftButton);
    EXPECT_TRUE(view->draft().openInTerminal);
}

TEST_F(ServiceEditorViewTest, QuickPicksAllReachTheBookmarkFileOncePerPath)
{
    auto view = editor(ServiceEditorMode::create(), ServicesController::newServiceDraft());
    const QString first = makeFile(QStringLiteral("one"));
    const QString second = makeFile(QStringLiteral("two"));
    view->insertPickedPath(first);
    view->insertPickedPath(second);
    view->insertPickedPath(first);
    // A path that vanished is still inserted; its bookmark is dropped quietly.
    view->insertPickedPath(TestEnvironment::home() + QStringLiteral("/gone"));
    await(bookmarks.bookmarks());
    QStringList stored = storedBookmarkPaths();
    stored.sort();
    EXPECT_EQ(stored, (QStringList {first, second}));
    EXPECT_EQ(view->draft().command, first + QLatin1Char(' ') + second + QLatin1Char(' ') + first + QLatin1Char(' ')
                                         + TestEnvironment::home() + QStringLiteral("/gone"));
}

TEST(PathPicker, AcceptingWithAFolderSelectedTakesTheFolderAndAFileTakesTheFile)
{
    const QString folder = TestEnvironment::home() + QStringLiteral("/picked folder");
    QDir().mkpath(folder);
    QFile file(TestEnvironment::home() + QStringLiteral("/picked.txt"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();

    for (const QString &target : {folder, file.fileName()}) {
        QStringList picked;
        PathPickerDialog picker;
        QObject::connect(&picker, &PathPickerDialog::pathPicked, [&](const QString &path) { picked.append(path); });
        picker.setDirectory(TestEnvironment::home());
        picker.open();
        picker.selectFile(target);
        picker.accept();
        EXPECT_EQ(picked, QStringList {target});
        EXPECT_EQ(picker.result(), QDialog::Accepted);
    }
}

TEST_F(ServiceEditorViewTest, TheSaveRowStaysOnScreenAndALongNameStaysInsideTheDeleteAlert)
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QString profileName = QStringLiteral("Staging ") + QString(192, QLatin1Char('p'));
    const EnvironmentProfile profile = saveProfile(profileName, {}, false);
    ASSERT_TRUE(waitUntil([&] { return controller.profiles().size() == 1; }));
    const ManagedService service {
        QUuid::createUuid(), QString(200, QLatin1Char('n')), QStringLiteral("echo"), false, profile.id, now, now};
    auto view = editor(ServiceEditorMode::edit(service), service);
    // However short the screen, the sheet fits it with its title bar, and the
    // form scrolls above the buttons.
    EXPECT_LE(view->minimumHeight(), view->screen()->availableGeometry().height() - 40);
    EXPECT_LE(view->height(), view->screen()->availableGeometry().height() - 40);
    EXPECT_LE(std::max(view->sizeHint().width(), view->width()), view->screen()->availableGeometry().width());
    ASSERT_TRUE(view->findChild<QScrollArea *>(QStringLiteral("editorScroll")));
    QPushButton *save = buttonNamed(*view, QStringLiteral("Save"));
    EXPECT_TRUE(view->rect().contains(QRect(save->mapTo(view.get(), QPoint()), save->size())));
    // The profile's name is shortened only where it is drawn.
    auto *picker = view->findChild<QComboBox *>(QStringLiteral("profilePicker"));
    EXPECT_EQ(picker->currentText(), profileName);
    picker->showPopup();
    EXPECT_LE(picker->view()->window()->width(), picker->width());
    picker->hidePopup();

    QTest::mouseClick(buttonNamed(*view, QStringLiteral("Delete")), Qt::LeftButton);
    ASSERT_TRUE(view->openQuestion());
    QCoreApplication::processEvents();
    const auto *message = view->openQuestion()->findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel"));
    ASSERT_TRUE(message);
    EXPECT_LE(message->sizeHint().width(), message->width());
    EXPECT_TRUE(message->text().contains(QStringLiteral("nnn…\u2060nnn")));
}
