#include "ProfilesFixture.h"

#include "platform/KeychainError.h"
#include "ui/screens/profiles/ProfilesController.h"
#include "ui/screens/profiles/ProfilesListModel.h"

namespace {

EnvironmentProfile named(const QString &name)
{
    return {QUuid::createUuid(), name, {}, false, {}, {}};
}

QStringList names(const QList<EnvironmentProfile> &profiles)
{
    QStringList result;
    for (const auto &profile : profiles)
        result.append(profile.name);
    return result;
}

struct ProfilesControllerTest : ProfilesFixture {
    ProfilesController controller {manager, lockManager};

    void select(const QUuid &id)
    {
        controller.tapRow(id);
        QCoreApplication::processEvents();
    }
};

} // namespace

TEST(ProfilesControllerOrder, BlankSearchSortsByNameAndEqualScoresByNameThenPublishedOrder)
{
    const auto beta = named(QStringLiteral("Beta"));
    const auto alpha = named(QStringLiteral("alpha"));
    const auto firstSame = named(QStringLiteral("Same"));
    const auto secondSame = named(QStringLiteral("same"));
    const QList<EnvironmentProfile> published {beta, firstSame, alpha, secondSame};

    struct Case {
        QString search;
        QStringList expected;
    };
    const QList<Case> cases {
        {QString(), {QStringLiteral("alpha"), QStringLiteral("Beta"), QStringLiteral("Same"), QStringLiteral("same")}},
        {QStringLiteral("   "),
         {QStringLiteral("alpha"), QStringLiteral("Beta"), QStringLiteral("Same"), QStringLiteral("same")}},
        {QStringLiteral("a"),
         {QStringLiteral("alpha"), QStringLiteral("Beta"), QStringLiteral("Same"), QStringLiteral("same")}},
        {QStringLiteral("same"), {QStringLiteral("Same"), QStringLiteral("same")}},
        {QStringLiteral("be"), {QStringLiteral("Beta")}},
        {QStringLiteral("zzz"), {}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(names(ProfilesController::filteredProfiles(published, c.search)), c.expected)
            << c.search.toStdString();
}

TEST(ProfilesControllerOrder, CaptionCountsVariablesUnlessLocked)
{
    EnvironmentProfile profile = named(QStringLiteral("p"));
    EXPECT_EQ(ProfilesListModel::captionText(profile, false), QStringLiteral("0 variables"));
    profile.variables.append({QUuid::createUuid(), QStringLiteral("A"), QString(), false});
    EXPECT_EQ(ProfilesListModel::captionText(profile, false), QStringLiteral("1 variable"));
    profile.variables.append({QUuid::createUuid(), QStringLiteral("B"), QString(), false});
    EXPECT_EQ(ProfilesListModel::captionText(profile, false), QStringLiteral("2 variables"));
    EXPECT_EQ(ProfilesListModel::captionText(profile, true), QStringLiteral("Protected profile"));
}

TEST_F(ProfilesControllerTest, OnlyALockedProfilePromptsAndAReClickPromptsAgainAfterACancel)
{
    const auto plain = stored(QStringLiteral("Plain"));
    const auto open = stored(QStringLiteral("Open"), {}, true);
    authenticator->prompts.clear();
    for (const QUuid &id : {plain.id, plain.id, open.id, open.id})
        select(id);
    EXPECT_TRUE(authenticator->prompts.isEmpty());

    const auto locked =
        storedLocked(QStringLiteral("Vault"), {variable(QStringLiteral("TOKEN"), QStringLiteral("s3cret"), true)});
    authenticator->failure = ProtectedProfilesError::Case::authenticationCanceled;

    select(locked.id);
    ASSERT_TRUE(waitUntil([&] { return authenticator->prompts.size() == 1; }));
    EXPECT_EQ(authenticator->prompts.first(), QStringLiteral("unlock the protected environment profile “Vault”"));
    EXPECT_FALSE(controller.errorMessage()) << "a cancelled prompt shows no alert";
    EXPECT_TRUE(controller.isLocked(locked.id));

    authenticator->failure.reset();
    select(locked.id);
    ASSERT_TRUE(waitUntil([&] { return !controller.isLocked(locked.id); }));
    EXPECT_EQ(authenticator->prompts.size(), 2);
    EXPECT_EQ(controller.selectedProfile()->variables.first().value, QStringLiteral("s3cret"));
}

TEST_F(ProfilesControllerTest, AResultForAnOlderSelectionIsDropped)
{
    const auto locked = storedLocked(QStringLiteral("Vault"));
    const auto other = stored(QStringLiteral("Other"));
    keys->setHolding(true);
    keys->failWith(ProtectedProfilesError(ProtectedProfilesError::Case::invalidKey));
    select(locked.id);
    ASSERT_TRUE(waitUntil([&] { return keys->pendingCount() == 1; }));
    select(other.id);
    keys->releasePending();
    QCoreApplication::processEvents();
    EXPECT_TRUE(waitUntil([&] { return keys->pendingCount() == 0; }));
    QCoreApplication::processEvents();
    EXPECT_FALSE(controller.errorMessage());
}

TEST_F(ProfilesControllerTest, ErrorRuleShowsKeyringFullMessageAndBannerOtherwiseTheDescription)
{
    const auto profile = stored(QStringLiteral("Keys"), {variable(QStringLiteral("TOKEN"), QStringLiteral("a"), true)});
    const KeychainError denied(KeychainError::Case::userDenied);
    secrets->failOn(FakeSecretStore::Operation::save, denied);
    EnvironmentProfile edited = profile;
    edited.variables.first().value = QStringLiteral("b");
    await(controller.handleSave(edited));
    EXPECT_EQ(controller.errorMessage(), denied.fullMessage());
    EXPECT_EQ(manager.keychainAccessGuidance(), denied.fullMessage());

    controller.clearErrorMessage();
    secrets->clearFailures();
    EnvironmentProfile invalid = profile;
    invalid.variables.first().key = QStringLiteral("MY-KEY");
    await(controller.handleSave(invalid));
    ASSERT_TRUE(controller.errorMessage());
    EXPECT_TRUE(controller.errorMessage()->startsWith(QStringLiteral("Invalid environment variable key “MY-KEY”")));
}

TEST_F(ProfilesControllerTest, SaveSelectsDeleteClearsOnlyItsOwnSelectionAndADanglingOneStays)
{
    const auto first = stored(QStringLiteral("First"));
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const EnvironmentProfile created {QUuid::createUuid(), QStringLiteral("Created"), {}, false, now, now};
    await(controller.handleSave(created));
    EXPECT_EQ(controller.selectedProfileID(), created.id);

    await(controller.handleDelete(first));
    EXPECT_EQ(controller.selectedProfileID(), created.id);
    await(controller.handleDelete(created));
    EXPECT_FALSE(controller.selectedProfileID());

    // Gone from the manager without the screen's delete: nothing shows, the selection stays.
    const auto gone = stored(QStringLiteral("Gone"));
    select(gone.id);
    await(manager.deleteProfile(gone.id));
    EXPECT_FALSE(controller.selectedProfile());
    EXPECT_EQ(controller.selectedProfileID(), gone.id);
}

TEST_F(ProfilesControllerTest, EditingUnlocksFirstAndCancellingOpensNothing)
{
    const auto locked =
        storedLocked(QStringLiteral("Vault"), {variable(QStringLiteral("TOKEN"), QStringLiteral("s3cret"), true)});
    authenticator->failure = ProtectedProfilesError::Case::authenticationCanceled;
    await(controller.handleEdit(locked));
    EXPECT_FALSE(controller.editorMode());
    EXPECT_FALSE(controller.errorMessage());

    authenticator->failure.reset();
    await(controller.handleEdit(locked));
    ASSERT_TRUE(controller.editorMode());
    EXPECT_EQ(authenticator->prompts.last(), QStringLiteral("edit the protected profile “Vault”"));
    // The editor gets the decrypted profile, never the locked placeholder.
    EXPECT_EQ(controller.editorMode()->profile.variables.first().value, QStringLiteral("s3cret"));
}
