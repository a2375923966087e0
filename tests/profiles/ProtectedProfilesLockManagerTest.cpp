#include "profiles/ProtectedProfilesLockManager.h"
#include "support/Await.h"
#include "support/FakeAuthenticator.h"
#include "support/FakeProtectedKeyProvider.h"

#include <QKeyEvent>
#include <QSignalSpy>
#include <QTest>
#include <QTimeZone>
#include <QWidget>
#include <QWindow>

#include <gtest/gtest.h>

namespace {

struct LockManagerFixture : ::testing::Test {
    std::shared_ptr<FakeAuthenticator> authenticator = std::make_shared<FakeAuthenticator>();
    std::shared_ptr<FakeProtectedKeyProvider> keys = std::make_shared<FakeProtectedKeyProvider>();
    QDateTime clock = QDateTime::fromSecsSinceEpoch(1'700'000'000, QTimeZone::utc());
    ProtectedProfilesLockManager manager {authenticator, keys, [this] { return clock; }};

    ProtectedPayloadCrypto unlock()
    {
        return await(manager.unlock(ProtectedUnlockReason::viewProfile(QStringLiteral("prod"))));
    }
};

} // namespace

TEST_F(LockManagerFixture, ASecondUnlockWithinTheSessionReturnsTheKeyWithoutPromptingAndExtends)
{
    const ProtectedPayloadCrypto first = unlock();
    EXPECT_TRUE(manager.isUnlocked());
    EXPECT_TRUE(manager.isExpiryScheduled());
    clock = clock.addSecs(10);
    const ProtectedPayloadCrypto second = unlock();
    EXPECT_EQ(first, second);
    EXPECT_EQ(authenticator->prompts.size(), 1);
    EXPECT_EQ(manager.expiresAt(), clock.addSecs(300));
    EXPECT_EQ(authenticator->prompts.first(), QStringLiteral("unlock the protected environment profile “prod”"));
}

TEST_F(LockManagerFixture, AnExpiredSessionLocksOnceThenPromptsAgain)
{
    unlock();
    QSignalSpy didLock(&manager, &ProtectedProfilesLockManager::protectedProfilesDidLock);
    clock = clock.addSecs(301);
    unlock();
    EXPECT_EQ(didLock.count(), 1);
    EXPECT_EQ(authenticator->prompts.size(), 2);
    EXPECT_TRUE(manager.isUnlocked());
}

TEST_F(LockManagerFixture, LockOnALockedManagerAnnouncesButPostsNothing)
{
    QSignalSpy didLock(&manager, &ProtectedProfilesLockManager::protectedProfilesDidLock);
    QSignalSpy applied(&manager, &ProtectedProfilesLockManager::lockApplied);
    manager.lock();
    EXPECT_EQ(didLock.count(), 0);
    EXPECT_EQ(applied.count(), 1);

    unlock();
    manager.lock();
    EXPECT_EQ(didLock.count(), 1);
    EXPECT_EQ(applied.count(), 2);
    EXPECT_FALSE(manager.expiresAt().has_value());
    EXPECT_FALSE(manager.isExpiryScheduled());
}

TEST_F(LockManagerFixture, FailedAuthenticationOrKeyReadLeavesItLocked)
{
    authenticator->failure = ProtectedProfilesError::Case::authenticationCanceled;
    EXPECT_THROW(unlock(), ProtectedProfilesError);
    EXPECT_FALSE(manager.isUnlocked());
    EXPECT_EQ(keys->requestCount(), 0);

    authenticator->failure.reset();
    keys->failWith(ProtectedProfilesError(ProtectedProfilesError::Case::invalidKey));
    try {
        unlock();
        ADD_FAILURE() << "unlock succeeded";
    } catch (const ProtectedProfilesError &error) {
        EXPECT_EQ(error.errorCase(), ProtectedProfilesError::Case::invalidKey);
    }
    EXPECT_FALSE(manager.isUnlocked());
    EXPECT_FALSE(manager.expiresAt().has_value());
}

TEST_F(LockManagerFixture, InputExtendsOnlyWhileUnlockedAndOnlyForQualifyingEvents)
{
    QWidget widget;
    widget.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&widget));
    QWindow *window = widget.windowHandle();

    QTest::keyClick(window, Qt::Key_A);
    EXPECT_FALSE(manager.expiresAt().has_value());
    EXPECT_FALSE(manager.isExpiryScheduled());

    unlock();
    clock = clock.addSecs(100);
    QTest::mouseMove(window, QPoint(3, 3));
    EXPECT_EQ(manager.expiresAt(), clock.addSecs(200));
    QWheelEvent wheel(QPointF(3, 3), QPointF(3, 3), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(window, &wheel);
    EXPECT_EQ(manager.expiresAt(), clock.addSecs(300));
}

TEST_F(LockManagerFixture, ExtendingASessionWhoseTimeHasPassedLocksIt)
{
    unlock();
    QSignalSpy didLock(&manager, &ProtectedProfilesLockManager::protectedProfilesDidLock);
    clock = clock.addSecs(400); // as after a suspend whose notice never came
    manager.extendSession();
    EXPECT_FALSE(manager.isUnlocked());
    EXPECT_EQ(didLock.count(), 1);
}
