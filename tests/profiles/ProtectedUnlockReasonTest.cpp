#include "profiles/ProtectedUnlockReason.h"

#include <gtest/gtest.h>

TEST(ProtectedUnlockReason, TextsNameTheProfileFirst)
{
    EXPECT_EQ(ProtectedUnlockReason::launchService(QStringLiteral("api"), QStringLiteral("prod")).text(),
              QStringLiteral("unlock the protected environment profile “prod” to launch “api”"));
    EXPECT_EQ(ProtectedUnlockReason::profileUsedBy(QStringLiteral("api"), QStringLiteral("prod")).text(),
              QStringLiteral("unlock the protected environment profile “prod” used by “api”"));
    EXPECT_EQ(ProtectedUnlockReason::editProfile(QStringLiteral("x")).text(),
              QStringLiteral("edit the protected profile “x”"));
    EXPECT_EQ(ProtectedUnlockReason::migrateLegacyServices().text(),
              QStringLiteral("migrate previously protected services to profile-only protection"));
}
