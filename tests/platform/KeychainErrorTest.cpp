#include "platform/KeychainError.h"

#include <gtest/gtest.h>

namespace {

using Case = KeychainError::Case;

const QString accessSentence =
    QStringLiteral("Services that use secret values won't work until keyring access is enabled.");

TEST(KeychainError, UnhandledReadsAsDescriptionAndSuggestionOnly)
{
    const KeychainError error = KeychainError::unhandled(-25299);
    EXPECT_EQ(error.fullMessage(),
              QStringLiteral("Keyring error (-25299). Try again. If it keeps failing, open your keyring manager and "
                             "check items for Velmora."));
    EXPECT_FALSE(error.fullMessage().contains(accessSentence));
    EXPECT_EQ(error.message(), error.fullMessage());
}

TEST(KeychainError, OtherCasesAddTheAccessSentenceBetweenTheirTexts)
{
    for (Case errorCase : {Case::userDenied, Case::authFailed, Case::interactionNotAllowed}) {
        const KeychainError error(errorCase, 7, QStringLiteral("ignored system text"));
        EXPECT_EQ(error.fullMessage(), error.errorDescription() + QLatin1Char(' ') + accessSentence + QLatin1Char(' ')
                                           + error.recoverySuggestion());
        EXPECT_FALSE(error.fullMessage().contains(QStringLiteral("ignored system text")));
    }
    EXPECT_EQ(KeychainError(Case::interactionNotAllowed).fullMessage(),
              QStringLiteral("Velmora can’t access the keyring right now because the system blocked the unlock "
                             "prompt. Services that use secret values won't work until keyring access is enabled. "
                             "Unlock your session, return to Velmora, and try again so the keyring prompt can "
                             "appear."));
}

TEST(KeychainError, DeniedAndAuthFailedShareOnlyTheirSuggestion)
{
    const KeychainError denied(Case::userDenied);
    const KeychainError failed(Case::authFailed);
    EXPECT_EQ(denied.recoverySuggestion(), failed.recoverySuggestion());
    EXPECT_NE(denied.errorDescription(), failed.errorDescription());
    EXPECT_EQ(denied.recoverySuggestion(),
              QStringLiteral("Try again and unlock the keyring when the system asks. If you cancelled that prompt "
                             "before, open your keyring manager, unlock the default keyring, and make sure the "
                             "items for “Velmora” are there — then retry."));
    EXPECT_EQ(denied.errorDescription(),
              QStringLiteral("Keyring access was denied. Velmora needs permission to store and read secret "
                             "environment variables."));
    EXPECT_EQ(failed.errorDescription(),
              QStringLiteral("Velmora can’t access the keyring. Permission may have been denied earlier."));
}

TEST(KeychainError, EqualityLooksAtTheStatusOfUnhandledOnly)
{
    EXPECT_NE(KeychainError::unhandled(0), KeychainError::unhandled(-50));
    EXPECT_EQ(KeychainError::unhandled(4, QStringLiteral("a")), KeychainError::unhandled(4, QStringLiteral("b")));
    EXPECT_EQ(KeychainError(Case::userDenied, 1), KeychainError(Case::userDenied, 2));
    EXPECT_NE(KeychainError(Case::userDenied), KeychainError(Case::authFailed));
}

} // namespace
