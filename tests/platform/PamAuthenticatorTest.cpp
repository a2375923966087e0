#include "platform/PamAuthenticator.h"

#include "support/ThrowawayAccount.h"

#include <gtest/gtest.h>

#include <unistd.h>

TEST(PamAuthenticator, RefusesAWrongPasswordAndWipesTheBuffer)
{
    ASSERT_TRUE(PamAuthenticator::isAvailable());
    QByteArray wrong("certainly-not-the-password");
    EXPECT_EQ(PamAuthenticator::authenticate(PamAuthenticator::currentUserName(), wrong),
              PamAuthenticator::Result::rejected);
    EXPECT_TRUE(wrong.isEmpty());
}

TEST(PamAuthenticator, AcceptsTheRightPasswordOfARealAccount)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "creating a throwaway account needs root";
    const QByteArray secret("Corr3ct horse ü 'battery'");
    const ThrowawayAccount user(secret);
    if (!user.created())
        GTEST_SKIP() << "useradd/chpasswd are not usable here";
    QByteArray right = secret;
    EXPECT_EQ(PamAuthenticator::authenticate(user.name(), right), PamAuthenticator::Result::accepted);
    QByteArray wrong = secret + "x";
    EXPECT_EQ(PamAuthenticator::authenticate(user.name(), wrong), PamAuthenticator::Result::rejected);
}
