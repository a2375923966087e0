#include "ProfilesFixture.h"
#include "../ScreenReader.h"
#include "../services/ButtonLookup.h"

#include "ui/components/MacTextField.h"
#include "ui/screens/profiles/ProfileEditorDraft.h"
#include "ui/screens/profiles/ProfileEditorVariableRow.h"
#include "ui/screens/profiles/ProfileEditorView.h"
#include "ui/screens/profiles/ProfilesController.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

namespace {

EnvironmentVariable var(const QString &key, const QString &value = QString(), bool isSecret = false)
{
    return {QUuid::createUuid(), key, value, isSecret};
}

EnvironmentProfile profileWith(QList<EnvironmentVariable> variables, const QString &name = QStringLiteral("P"),
                               bool isProtected = false)
{
    return {QUuid::createUuid(), name, std::move(variables), isProtected, {}, {}};
}

ProfileEditorDraft draftWith(QList<EnvironmentVariable> variables, const QString &name = QStringLiteral("Name"))
{
    return ProfileEditorDraft(ProfileEditorMode::edit(profileWith(std::move(variables), name)));
}

void clickButton(QMessageBox *box, const QString &text)
{
    ASSERT_NE(box, nullptr);
    QPushButton *button = buttonNamed(*box, text);
    ASSERT_NE(button, nullptr) << text.toStdString();
    button->click();
}

} // namespace

TEST(ProfileEditorDraftRules, KeyRuleOnTrimmedUtf8BytesAndSaveNeedsANameAndValidKeys)
{
    const QStringList valid {QStringLiteral("_PRIVATE"), QStringLiteral("a1"), QStringLiteral(" PATH "), QString(),
                             QStringLiteral("   ")};
    const QStringList invalid {QStringLiteral("1PATH"), QStringLiteral("MY-KEY"), QStringLiteral("KEY.NAME"),
                               QStringLiteral("É"), QStringLiteral(" bad key ")};
    for (const QString &key : valid + invalid) {
        SCOPED_TRACE(key.toStdString());
        const bool isValid = valid.contains(key);
        EXPECT_EQ(draftWith({var(key)}).invalidKeys(), isValid ? QStringList() : QStringList {key});
        EXPECT_EQ(draftWith({var(key)}).canSave(), isValid);
    }
    EXPECT_EQ(
        draftWith({var(QStringLiteral("1A")), var(QStringLiteral("OK")), var(QStringLiteral("1A"))}).invalidKeys(),
        (QStringList {QStringLiteral("1A"), QStringLiteral("1A")}));
    EXPECT_FALSE(ProfileEditorDraft(ProfileEditorMode::create()).canSave());
    EXPECT_FALSE(draftWith({}, QStringLiteral("  \n")).canSave());
    EXPECT_TRUE(draftWith({var(QString()), var(QStringLiteral("  "))}, QStringLiteral("x")).canSave());
}

TEST(ProfileEditorDraftRules, NormalizedDraftTrimsKeysDropsBlankOnesAndKeepsDuplicates)
{
    auto draft = draftWith({var(QStringLiteral(" PATH "), QStringLiteral(" v "), true), var(QStringLiteral("   ")),
                            var(QStringLiteral("PATH"), QStringLiteral("w"))},
                           QStringLiteral(" Name "));
    const EnvironmentProfile saved = draft.normalizedDraft();
    ASSERT_EQ(saved.variables.size(), 2);
    EXPECT_EQ(saved.variables[0],
              (EnvironmentVariable {draft.draft.variables[0].id, QStringLiteral("PATH"), QStringLiteral(" v "), true}));
    EXPECT_EQ(saved.variables[1].key, QStringLiteral("PATH"));
    EXPECT_EQ(saved.name, QStringLiteral(" Name "));
}

TEST(ProfileEditorDraftRules, DeletionMessagesNameWhatGoes)
{
    auto draft = draftWith({var(QStringLiteral("PATH")), var(QString()), var(QStringLiteral("A"))});
    draft.confirmDeleteVariableID = draft.draft.variables[1].id;
    EXPECT_EQ(draft.variableDeletionTarget(), QStringLiteral("this variable"));
    draft.confirmDeleteVariableID.reset();
    draft.confirmDeleteOffsets = QList<int> {2, 1, 9};
    EXPECT_EQ(draft.variableDeletionTarget(), QStringLiteral("“A”"));
    draft.confirmDeleteOffsets = QList<int> {1};
    EXPECT_EQ(draft.variableDeletionTarget(), QStringLiteral("the selected variables"));
    draft.confirmVariableDeletion();
    EXPECT_EQ(draft.draft.variables.size(), 2);
    EXPECT_FALSE(draft.isConfirmingVariableDeletion());

    draft.draft.name.clear();
    EXPECT_TRUE(draft.profileDeletionMessage().startsWith(QStringLiteral("“This profile” and its variables")));
}

struct ProfileEditorViewTest : ProfilesFixture {
    ProfilesController controller {manager, lockManager};
    QList<EnvironmentProfile> saved;
    int deletes = 0;

    std::unique_ptr<ProfileEditorView> open(const ProfileEditorMode &mode)
    {
        auto editor = std::make_unique<ProfileEditorView>(mode, controller);
        QObject::connect(editor.get(), &ProfileEditorView::saveRequested,
                         [this](const EnvironmentProfile &profile) { saved.append(profile); });
        QObject::connect(editor.get(), &ProfileEditorView::deleteRequested, [this] { ++deletes; });
        editor->show();
        return editor;
    }
};

TEST_F(ProfileEditorViewTest, ALockClosesOnlyAnEditOfAProfileThatWasProtected)
{
    await(lockManager.unlock(ProtectedUnlockReason::viewProfile(QStringLiteral("x"))));
    auto protectedEdit = open(ProfileEditorMode::edit(profileWith({}, QStringLiteral("P"), true)));
    auto plainEdit = open(ProfileEditorMode::edit(profileWith({})));
    auto create = open(ProfileEditorMode::create());
    protectedEdit->findChild<QCheckBox *>(QStringLiteral("protectedToggle"))->setChecked(false);
    plainEdit->findChild<QCheckBox *>(QStringLiteral("protectedToggle"))->setChecked(true);
    QSignalSpy closed(protectedEdit.get(), &QDialog::finished);

    lockManager.lock();
    EXPECT_EQ(closed.size(), 1);
    EXPECT_FALSE(protectedEdit->isVisible());
    EXPECT_TRUE(plainEdit->isVisible());
    EXPECT_TRUE(create->isVisible());
    EXPECT_TRUE(saved.isEmpty());
}

TEST_F(ProfileEditorViewTest, CreateModeHasNoDeleteAndSaveFollowsTheName)
{
    auto editor = open(ProfileEditorMode::create());
    EXPECT_EQ(editor->findChild<QPushButton *>(QStringLiteral("deleteButton")), nullptr);
    auto *save = editor->findChild<QPushButton *>(QStringLiteral("saveButton"));
    auto *name = editor->findChild<QLineEdit *>(QStringLiteral("nameField"));
    EXPECT_FALSE(save->isEnabled());
    QTest::keyClicks(name, QStringLiteral("  "));
    EXPECT_FALSE(save->isEnabled());
    QTest::keyClicks(name, QStringLiteral("Dev"));
    EXPECT_TRUE(save->isEnabled());

    QTest::mouseClick(editor->findChild<QPushButton *>(QStringLiteral("addVariableButton")), Qt::LeftButton);
    auto *row = editor->findChild<ProfileEditorVariableRow *>();
    ASSERT_NE(row, nullptr);
    // Typing goes on in the new row, and Tab reaches its value before the buttons.
    EXPECT_EQ(editor->focusWidget(), row->keyField());
    QWidget *next = row->keyField()->nextInFocusChain();
    while (next != row->valueField() && next != save && next != row->keyField())
        next = next->nextInFocusChain();
    EXPECT_EQ(next, row->valueField());
    QTest::keyClicks(row->keyField(), QStringLiteral("MY-KEY"));
    EXPECT_FALSE(save->isEnabled());
    EXPECT_EQ(editor->findChild<QLabel *>(QStringLiteral("invalidKeys"))->text(),
              QStringLiteral("Invalid keys: MY-KEY"));
    row->keyField()->clear();
    QTest::keyClicks(row->keyField(), QStringLiteral("TOKEN"));
    QTest::keyClicks(row->valueField(), QStringLiteral("hidden"));
    QTest::mouseClick(row->secretToggle(), Qt::LeftButton);
    EXPECT_EQ(row->valueField()->echoMode(), QLineEdit::Password);
    EXPECT_EQ(row->valueField()->text(), QStringLiteral("hidden"));
    EXPECT_EQ(row->secretToggle()->accessibleName(), QStringLiteral("Secret"));
    EXPECT_FALSE(row->secretToggle()->toolTip().contains(QStringLiteral("hidden")));

    // A control character in the name: a message under the field, no save.
    auto *nameMessage = editor->findChild<QLabel *>(QStringLiteral("nameMessage"));
    ASSERT_NE(nameMessage, nullptr);
    EXPECT_FALSE(nameMessage->isVisible());
    name->insert(QStringLiteral("\t"));
    EXPECT_TRUE(nameMessage->isVisible());
    EXPECT_FALSE(save->isEnabled());
    name->backspace();
    EXPECT_FALSE(nameMessage->isVisible());
    EXPECT_TRUE(save->isEnabled());

    // The sheet waits for the screen's answer; a save that did not happen keeps it open.
    QTest::mouseClick(save, Qt::LeftButton);
    ASSERT_EQ(saved.size(), 1);
    EXPECT_EQ(saved.first().name, QStringLiteral("  Dev"));
    EXPECT_TRUE(saved.first().variables.first().isSecret);
    EXPECT_TRUE(editor->isVisible());
    EXPECT_FALSE(save->isEnabled());
    editor->saveFinished(false);
    EXPECT_TRUE(editor->isVisible());
    EXPECT_TRUE(save->isEnabled());
    EXPECT_EQ(row->valueField()->text(), QStringLiteral("hidden"));
    QTest::mouseClick(save, Qt::LeftButton);
    editor->saveFinished(true);
    EXPECT_FALSE(editor->isVisible());
}

TEST_F(ProfileEditorViewTest, FieldsAndSwitchesSetByAScreenReaderCountAsTypedAndClicked)
{
    auto editor = open(ProfileEditorMode::create());
    setTextAsAScreenReader(editor->findChild<QLineEdit *>(QStringLiteral("nameField")), QStringLiteral("Staging"));
    QTest::mouseClick(editor->findChild<QPushButton *>(QStringLiteral("addVariableButton")), Qt::LeftButton);
    auto *row = editor->findChild<ProfileEditorVariableRow *>();
    setTextAsAScreenReader(row->keyField(), QStringLiteral("MODE"));
    setTextAsAScreenReader(row->valueField(), QStringLiteral("staging"));
    for (QWidget *toggle :
         {static_cast<QWidget *>(row->secretToggle()), editor->findChild<QWidget *>(QStringLiteral("protectedToggle"))})
        QAccessible::queryAccessibleInterface(toggle)->actionInterface()->doAction(
            QAccessibleActionInterface::toggleAction());
    EXPECT_EQ(row->secretToggle()->accessibleName(), QStringLiteral("Secret"));
    EXPECT_EQ(row->valueField()->echoMode(), QLineEdit::Password);
    QTest::mouseClick(editor->findChild<QPushButton *>(QStringLiteral("saveButton")), Qt::LeftButton);
    ASSERT_EQ(saved.size(), 1);
    EXPECT_EQ(saved.first().variables.value(0).value, QStringLiteral("staging"));
    EXPECT_TRUE(saved.first().variables.value(0).isSecret);
    EXPECT_TRUE(saved.first().isProtected);
}

TEST_F(ProfileEditorViewTest, VariableAndProfileDeletionAskFirst)
{
    auto editor = open(ProfileEditorMode::edit(profileWith({var(QStringLiteral("PATH"))})));
    auto *row = editor->findChild<ProfileEditorVariableRow *>();
    QTest::mouseClick(row->deleteButton(), Qt::LeftButton);
    TitledMessageBox *confirmation = editor->openConfirmation();
    ASSERT_NE(confirmation, nullptr);
    EXPECT_EQ(confirmation->message(), QStringLiteral("Remove “PATH” from this profile? Changes apply when you save."));
    clickButton(confirmation, QStringLiteral("Cancel"));
    EXPECT_EQ(editor->model().draft.variables.size(), 1);
    QTest::mouseClick(editor->findChild<ProfileEditorVariableRow *>()->deleteButton(), Qt::LeftButton);
    clickButton(editor->openConfirmation(), QStringLiteral("Delete"));
    EXPECT_TRUE(editor->model().draft.variables.isEmpty());

    QTest::mouseClick(editor->findChild<QPushButton *>(QStringLiteral("deleteButton")), Qt::LeftButton);
    ASSERT_NE(editor->openConfirmation(), nullptr);
    EXPECT_TRUE(editor->openConfirmation()->message().startsWith(QStringLiteral("“P” and its variables")));
    clickButton(editor->openConfirmation(), QStringLiteral("Delete"));
    EXPECT_EQ(deletes, 1);
    EXPECT_FALSE(editor->isVisible());
    EXPECT_TRUE(saved.isEmpty());
}

TEST_F(ProfileEditorViewTest, CtrlDeleteInAVariableRowAsksToDeleteThatRow)
{
    auto editor =
        open(ProfileEditorMode::edit(profileWith({var(QStringLiteral("FIRST")), var(QStringLiteral("SECOND"))})));
    editor->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(editor.get()));
    const QList<ProfileEditorVariableRow *> rows = editor->findChildren<ProfileEditorVariableRow *>();
    ASSERT_EQ(rows.size(), 2);
    rows.at(1)->valueField()->setFocus();
    QTest::keyClick(rows.at(1)->valueField(), Qt::Key_Delete, Qt::ControlModifier);
    TitledMessageBox *confirmation = editor->openConfirmation();
    ASSERT_NE(confirmation, nullptr);
    EXPECT_EQ(confirmation->title(), QStringLiteral("Delete Variable?"));
    EXPECT_EQ(confirmation->message(),
              QStringLiteral("Remove “SECOND” from this profile? Changes apply when you save."));
    clickButton(confirmation, QStringLiteral("Delete"));
    ASSERT_EQ(editor->model().draft.variables.size(), 1);
    EXPECT_EQ(editor->model().draft.variables.first().key, QStringLiteral("FIRST"));
}
