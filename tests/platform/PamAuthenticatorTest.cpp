#include "platform/PamAuthenticator.h"

#include "support/ThrowawayAccount.h"

#include <gtest/gtest.h>

#include <unistd.h>

TEST(PamAuthenticator, RefusesAWrongPassword)
{
    ASSERT_TRUE(PamAuthenticator::isAvailable());
    const SensitiveBytes wrong(QByteArrayView("certainly-not-the-password"));
    EXPECT_EQ(PamAuthenticator::authenticate(PamAuthenticator::currentUserName(), wrong),
              PamAuthenticator::Result::rejected);
}

TEST(PamAuthenticator, AcceptsTheRightPasswordOfARealAccount)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "creating a throwaway account needs root";
    const ThrowawayAccount user(ThrowawayAccount::Login::none);
    const QByteArray secret = user.password();
    if (!user.created())
        GTEST_SKIP() << "useradd/chpasswd are not usable here";
    const SensitiveBytes right {QByteArrayView(secret)};
    EXPECT_EQ(PamAuthenticator::authenticate(user.name(), right), PamAuthenticator::Result::accepted);
    const SensitiveBytes wrong {QByteArrayView(secret + "x")};
    EXPECT_EQ(PamAuthenticator::authenticate(user.name(), wrong), PamAuthenticator::Result::rejected);
}
