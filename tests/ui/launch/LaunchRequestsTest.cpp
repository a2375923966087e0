#include "ui/launch/CommandThreatReviewRequest.h"
#include "ui/launch/SudoPasswordRequest.h"

#include <gtest/gtest.h>

TEST(LaunchGuardRequests, IdentityEqualityAndHash)
{
    const QUuid id = QUuid::createUuid();
    const QString upper = id.toString(QUuid::WithoutBraces).toUpper();
    const SudoPasswordRequest start {id, QStringLiteral("api"), SudoLaunchAction::start, std::nullopt};
    SudoPasswordRequest restart = start;
    restart.action = SudoLaunchAction::restart;
    SudoPasswordRequest approved = start;
    approved.commandThreatApproval = CommandThreatApproval {QStringLiteral("f1")};
    EXPECT_EQ(start.id(), QStringLiteral("start-") + upper);
    EXPECT_EQ(restart.id(), QStringLiteral("restart-") + upper);
    EXPECT_EQ(approved.id(), start.id());
    EXPECT_NE(approved, start);
    EXPECT_NE(qHash(approved), qHash(start));
    EXPECT_EQ(qHash(start), qHash(SudoPasswordRequest(start)));

    const CommandThreatFinding finding {QStringLiteral("rule"), CommandThreatSeverity::high, QStringLiteral("t"),
                                        QStringLiteral("e"), QStringLiteral("evidence")};
    const CommandThreatReviewRequest review {
        id, QStringLiteral("api"), SudoLaunchAction::start, {QStringLiteral("f1"), {finding}}};
    CommandThreatReviewRequest otherEvidence = review;
    otherEvidence.assessment.findings[0].evidence = QStringLiteral("other");
    EXPECT_EQ(review.id(), QStringLiteral("start-") + upper + QStringLiteral("-f1"));
    EXPECT_NE(review, otherEvidence);
    EXPECT_NE(qHash(review), qHash(otherEvidence));
    EXPECT_FALSE(review.isBlocked());
    otherEvidence.assessment.findings.append({QStringLiteral("wipe"), CommandThreatSeverity::critical, {}, {}, {}});
    EXPECT_TRUE(otherEvidence.isBlocked());
}
