#include "platform/PamAuthenticator.h"

#include <QProcess>
#include <QUuid>

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

bool run(const QString &program, const QStringList &arguments, const QByteArray &input = {})
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForStarted())
        return false;
    process.write(input);
    process.closeWriteChannel();
    return process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// A user that exists only for the length of one test.
class ThrowawayUser {
public:
    explicit ThrowawayUser(const QByteArray &password)
        : m_name(QStringLiteral("vtest") + QUuid::createUuid().toString(QUuid::Id128).left(10))
    {
        m_created = run(QStringLiteral("useradd"), {QStringLiteral("--no-create-home"), m_name})
                    && run(QStringLiteral("chpasswd"), {}, m_name.toUtf8() + ':' + password + '\n');
    }
    ~ThrowawayUser() { run(QStringLiteral("userdel"), {m_name}); }
    bool created() const { return m_created; }
    const QString &name() const { return m_name; }

private:
    QString m_name;
    bool m_created = false;
};

} // namespace

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
    ThrowawayUser user(secret);
    if (!user.created())
        GTEST_SKIP() << "useradd/chpasswd are not usable here";
    QByteArray right = secret;
    EXPECT_EQ(PamAuthenticator::authenticate(user.name(), right), PamAuthenticator::Result::accepted);
    QByteArray wrong = secret + "x";
    EXPECT_EQ(PamAuthenticator::authenticate(user.name(), wrong), PamAuthenticator::Result::rejected);
}
