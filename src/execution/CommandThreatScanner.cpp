#include "execution/CommandThreatScanner.h"

#include "execution/CaseFoldedText.h"

#include <QCryptographicHash>
#include <QTextBoundaryFinder>

#include <unicode/uchar.h>

#include <algorithm>
#include <memory>
#include <vector>

// Kept exactly as written, even where a Linux path slips past them: the
// scanner is advisory and its verdicts must not drift.
const std::array<std::u16string_view, 3> CommandThreatScanner::diskDestructivePatternSources = {
    // Disk erase.
    uR"re((?i)(?:^|[\s;&|()])(?:/usr/sbin/)?diskutil\s+(?:erase\w*|secureerase)\b)re",
    // Raw write to a disk device.
    uR"re((?i)(?:^|[\s;&|()])(?:/(?:usr/)?bin/)?dd\b[^;&|\n]{0,300}\bof\s*=\s*/dev/(?:r?disk|sd|nvme)\w*)re",
    // File system creation.
    uR"re((?i)(?:^|[\s;&|()])(?:/sbin/)?(?:mkfs(?:\.\w+)?|newfs(?:_\w+)?)\b)re",
};

const std::u16string_view CommandThreatScanner::remoteScriptPipePatternSource =
    uR"re((?is)(?:^|[\s;&|()])(?:/(?:usr/)?bin/)?(?:curl|wget|fetch)\b[^|\n]{0,600}\|\s*(?:(?:/(?:usr/)?bin/)?env\s+)?(?:(?:/usr/bin/)?(?:sudo|doas)\s+)?(?:/(?:usr/)?bin/)?(?:sh|bash|zsh|python(?:3(?:\.\d+)?)?|ruby|perl)\b)re";

const std::u16string_view CommandThreatScanner::credentialPathPatternSource =
    uR"re((?i)(?:^|[\s"'=:/])(?:\.ssh(?:/|(?=$|[\s"';&|)]))|id_rsa\b|id_ed25519\b|\.aws/credentials\b|\.netrc\b|\.gnupg(?:/|(?=$|[\s"';&|)]))))re";

const std::u16string_view CommandThreatScanner::networkToolPatternSource =
    uR"re((?i)(?:^|[\s;&|()])(?:/(?:usr/)?bin/)?(?:curl|wget|fetch|scp|rsync|nc|netcat)\b|(?:^|[\s;&|()])(?:/(?:usr/)?bin/)?openssl\s+s_client\b)re";

const std::array<std::u16string_view, 3> CommandThreatScanner::encodedExecutionPatternSources = {
    // Base64-decoded text piped to a shell or interpreter.
    uR"re((?is)(?:^|[\s;&|()])(?:/(?:usr/)?bin/)?base64\b[^|\n]{0,160}(?:-d\b|-D\b|--decode\b)[^|\n]{0,160}\|\s*(?:(?:/usr/bin/)?(?:sudo|doas)\s+)?(?:/(?:usr/)?bin/)?(?:sh|bash|zsh|python(?:3)?|ruby|perl)\b)re",
    // Evaluation of a command substitution.
    uR"re((?is)(?:^|[\s;&|()])eval\s+["']?\$\()re",
    // An interpreter run with inline code that calls exec.
    uR"re((?is)(?:^|[\s;&|()])(?:/(?:usr/)?bin/)?python(?:3(?:\.\d+)?)?\b[^;\n]{0,100}\s-c\s+["'][^"'\n]{0,500}\bexec\s*\()re",
};

const std::array<std::u16string_view, 4> CommandThreatScanner::persistencePatternSources = {
    // Appending or writing to a shell start-up file.
    uR"re((?i)(?:>>?|tee(?:\s+-a)?)\s*["']?(?:~|\$HOME)?/?\.(?:zshrc|bashrc|bash_profile|profile)\b)re",
    // Copying into a launch agent or daemon folder.
    uR"re((?i)(?:^|[\s;&|()])(?:cp|mv|install|tee)\b[^;&|\n]{0,300}(?:LaunchAgents|LaunchDaemons)(?:/|\b))re",
    // Loading a launch job.
    uR"re((?i)(?:^|[\s;&|()])(?:/bin/)?launchctl\s+bootstrap\b)re",
    // Changing the crontab (anything but listing it).
    uR"re((?i)(?:^|[\s;&|()])(?:/usr/bin/)?crontab\b(?!\s+-l(?:\s|$)))re",
};

const std::array<std::u16string_view, 3> CommandThreatScanner::privilegedPatternSources = {
    // Loading a launch job, as above: it is both persistence and privilege.
    uR"re((?i)(?:^|[\s;&|()])(?:/bin/)?launchctl\s+bootstrap\b)re",
    // World-writable permissions.
    uR"re((?i)(?:^|[\s;&|()])(?:/bin/)?chmod\b[^;&|\n]{0,160}\s0*777(?:\s|$))re",
    // Recursive change of owner.
    uR"re((?i)(?:^|[\s;&|()])(?:/usr/sbin/)?chown\b[^;&|\n]{0,80}(?:\s-(?:[A-Za-z]*R[A-Za-z]*)|\s--recursive)(?:\s|$))re",
};

namespace {

using Keywords = CommandThreatPattern::Keywords;

// What a match of each pattern above holds, source by source: the command
// word it starts with (after one separator and an optional folder) and the
// further words it cannot do without. Most commands hold none of them, so most
// patterns search nothing at all.
const std::array<Keywords, 3> diskDestructiveKeywords = {{
    {u"diskutil", 11, {u"erase"}},
    {u"dd", 10, {u"of", u"=", u"/dev/"}},
    {u"mkfs newfs", 7, {}},
}};
const Keywords remoteScriptPipeKeywords = {u"curl wget fetch", 10, {u"|", u"sh python ruby perl"}};
const Keywords credentialPathKeywords = {u".ssh id_rsa id_ed25519 .aws/credentials .netrc .gnupg", 1, {}};
const Keywords networkToolKeywords = {u"curl wget fetch scp rsync nc netcat openssl", 10, {}};
const std::array<Keywords, 3> encodedExecutionKeywords = {{
    {u"base64", 10, {u"-d", u"|", u"sh python ruby perl"}},
    {u"eval", 1, {u"$("}},
    {u"python", 10, {u"-c", u"exec", u"("}},
}};
const std::array<Keywords, 4> persistenceKeywords = {{
    // Starts with a redirection or tee and may hold any amount of white space: searched whole.
    {u"", 0, {u"> tee", u".zshrc .bashrc .bash_profile .profile"}},
    {u"cp mv install tee", 1, {u"launchagents launchdaemons"}},
    {u"launchctl", 6, {u"bootstrap"}},
    {u"crontab", 10, {}},
}};
const std::array<Keywords, 3> privilegedKeywords = {{
    {u"launchctl", 6, {u"bootstrap"}},
    {u"chmod", 6, {u"777"}},
    {u"chown", 11, {u"-"}},
}};

struct Rules {
    CommandThreatFinding destructiveRootDelete {
        QStringLiteral("destructive-root-delete"), CommandThreatSeverity::critical,
        QStringLiteral("Destructive root deletion"),
        QStringLiteral("Recursively forcing deletion at the filesystem root can destroy system and user data."),
        QStringLiteral("rm with recursive and force options targeting / or /*")};
    CommandThreatFinding diskDestructive {
        QStringLiteral("disk-destructive"), CommandThreatSeverity::critical,
        QStringLiteral("Destructive disk operation"),
        QStringLiteral("This command can erase, overwrite, or reformat a disk device."),
        QStringLiteral("disk erase, raw-device write, or filesystem creation command")};
    CommandThreatFinding remoteScriptPipeShell {
        QStringLiteral("remote-script-pipe-shell"), CommandThreatSeverity::high,
        QStringLiteral("Remote code piped to an interpreter"),
        QStringLiteral("Downloaded content would execute immediately without being reviewed first."),
        QStringLiteral("network download piped directly to a shell or interpreter")};
    CommandThreatFinding sensitiveFileNetwork {
        QStringLiteral("sensitive-file-network"), CommandThreatSeverity::high,
        QStringLiteral("Possible credential transfer"),
        QStringLiteral("The command references a credential file and also uses a network-transfer tool."),
        QStringLiteral("credential-file reference combined with network transfer")};
    CommandThreatFinding sensitiveFileAccess {
        QStringLiteral("sensitive-file-access"), CommandThreatSeverity::medium, QStringLiteral("Sensitive file access"),
        QStringLiteral("The command references a file that commonly contains credentials or private keys."),
        QStringLiteral("SSH, AWS, netrc, or GnuPG credential path")};
    CommandThreatFinding encodedExecution {
        QStringLiteral("encoded-execution"), CommandThreatSeverity::high,
        QStringLiteral("Encoded or indirect execution"),
        QStringLiteral("Encoded or dynamically constructed code is harder to inspect before it runs."),
        QStringLiteral("decoded content or dynamically constructed code passed to an interpreter")};
    CommandThreatFinding persistenceModification {
        QStringLiteral("persistence-modification"), CommandThreatSeverity::medium,
        QStringLiteral("Persistence configuration change"),
        QStringLiteral("The command may configure software to run again during login, startup, or on a schedule."),
        QStringLiteral("shell startup, launch agent, or scheduled-task modification")};
    CommandThreatFinding privilegedLaunch {
        QStringLiteral("privileged-launch"), CommandThreatSeverity::medium, QStringLiteral("Privileged command"),
        QStringLiteral("The command requests elevated access or makes a broad permissions or ownership change."),
        QStringLiteral("sudo, doas, privileged launch, chmod 777, or recursive chown")};
};

const Rules &rules()
{
    static const Rules instance;
    return instance;
}

// Owns the compiled patterns; a text listed twice is compiled once.
class CompiledPatterns {
public:
    CompiledPatterns()
    {
        using S = CommandThreatScanner;
        m_view.diskDestructive = compileAll(S::diskDestructivePatternSources, diskDestructiveKeywords);
        m_view.remoteScriptPipe = compile(S::remoteScriptPipePatternSource, remoteScriptPipeKeywords);
        m_view.credentialPath = compile(S::credentialPathPatternSource, credentialPathKeywords);
        m_view.networkTool = compile(S::networkToolPatternSource, networkToolKeywords);
        m_view.encodedExecution = compileAll(S::encodedExecutionPatternSources, encodedExecutionKeywords);
        m_view.persistence = compileAll(S::persistencePatternSources, persistenceKeywords);
        m_view.privileged = compileAll(S::privilegedPatternSources, privilegedKeywords);
    }

    const CommandThreatScanner::Patterns &view() const { return m_view; }

private:
    const CommandThreatPattern *compile(std::u16string_view source, const Keywords &keywords)
    {
        for (const auto &pattern : m_owned) {
            if (pattern->source() == source)
                return pattern.get();
        }
        m_owned.push_back(std::make_unique<CommandThreatPattern>(source, keywords));
        return m_owned.back().get();
    }

    template <std::size_t N>
    std::array<const CommandThreatPattern *, N> compileAll(const std::array<std::u16string_view, N> &sources,
                                                           const std::array<Keywords, N> &keywords)
    {
        std::array<const CommandThreatPattern *, N> compiled {};
        for (std::size_t i = 0; i < N; ++i)
            compiled[i] = compile(sources[i], keywords[i]);
        return compiled;
    }

    std::vector<std::unique_ptr<CommandThreatPattern>> m_owned;
    CommandThreatScanner::Patterns m_view {};
};

// Below U+0300 nothing joins code units into one character except CR LF,
// so ordinary command lines skip the grapheme breaker.
bool isSimple(QStringView text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x300; });
}

// Calls `visit` with each user-perceived character of `text` in order, until
// it returns false.
template <typename Visit>
void forEachCharacter(QStringView text, Visit &&visit)
{
    if (isSimple(text)) {
        for (qsizetype i = 0; i < text.size();) {
            const bool crlf = text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n';
            const qsizetype length = crlf ? 2 : 1;
            if (!visit(text.sliced(i, length)))
                return;
            i += length;
        }
        return;
    }
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text.data(), text.size());
    qsizetype start = 0;
    for (qsizetype end = finder.toNextBoundary(); end > start; end = finder.toNextBoundary()) {
        if (!visit(text.sliced(start, end - start)))
            return;
        start = end;
    }
}

bool isCharacter(QStringView character, char16_t c)
{
    return character.size() == 1 && character.front() == c;
}

QStringView firstCharacter(QStringView text)
{
    QStringView first;
    forEachCharacter(text, [&](QStringView character) {
        first = character;
        return false;
    });
    return first;
}

bool startsWithCharacter(QStringView text, char16_t c)
{
    return !text.isEmpty() && text.front() == c && isCharacter(firstCharacter(text), c);
}

bool containsCharacter(QStringView text, char16_t c)
{
    if (!text.contains(QChar(c)))
        return false;
    bool found = false;
    forEachCharacter(text, [&](QStringView character) {
        found = isCharacter(character, c);
        return !found;
    });
    return found;
}

bool isSegmentSeparator(QStringView character)
{
    if (character == u"\r\n")
        return true;
    if (character.size() != 1)
        return false;
    switch (character.front().unicode()) {
    case u';':
    case u'&':
    case u'|':
    case 0x000A:
    case 0x000B:
    case 0x000C:
    case 0x000D:
    case 0x0085:
    case 0x2028:
    case 0x2029:
        return true;
    default:
        return false;
    }
}

// A character is white space when its first code point is.
bool isWhiteSpaceCharacter(QStringView character)
{
    const char16_t unit = character.front().unicode();
    if (unit < 0x80)
        return unit == u' ' || (unit >= u'\t' && unit <= u'\r');
    char32_t first = unit;
    if (character.size() > 1 && character[0].isHighSurrogate() && character[1].isLowSurrogate())
        first = QChar::surrogateToUcs4(character[0], character[1]);
    return u_isUWhiteSpace(static_cast<UChar32>(first));
}

template <typename IsSeparator>
QStringList splitAtCharacters(QStringView text, IsSeparator &&isSeparator)
{
    QStringList pieces;
    qsizetype pieceStart = 0;
    qsizetype position = 0;
    forEachCharacter(text, [&](QStringView character) {
        if (isSeparator(character)) {
            if (position > pieceStart)
                pieces.append(text.sliced(pieceStart, position - pieceStart).toString());
            pieceStart = position + character.size();
        }
        position += character.size();
        return true;
    });
    if (position > pieceStart)
        pieces.append(text.sliced(pieceStart, position - pieceStart).toString());
    return pieces;
}

bool isTokenTrimCharacter(QChar c)
{
    return CommandThreatScanner::tokenTrimCharacters.find(c.unicode()) != std::u16string_view::npos;
}

bool isOneOf(const QString &name, std::span<const QStringView> names)
{
    return std::find(names.begin(), names.end(), QStringView(name)) != names.end();
}

// Replaces each unpaired surrogate with U+FFFD, as a UTF-8 encoder must; Qt
// would write "?", which would give the text the fingerprint of another.
QString withUnpairedSurrogatesReplaced(const QString &text)
{
    QString repaired;
    repaired.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            repaired.append(c);
            repaired.append(text[++i]);
        } else if (c.isSurrogate()) {
            repaired.append(QChar(QChar::ReplacementCharacter));
        } else {
            repaired.append(c);
        }
    }
    return repaired;
}

} // namespace

const CommandThreatScanner::Patterns &CommandThreatScanner::patterns()
{
    static const CompiledPatterns compiled;
    return compiled.view();
}

CommandThreatAssessment CommandThreatScanner::assess(const QString &command)
{
    const Rules &rule = rules();
    const Patterns &pattern = patterns();
    const CaseFoldedText folded(command);
    QList<CommandThreatFinding> findings;

    // Only ASCII letters lowercase to the letters of rm, sudo and doas, so a
    // token of one of those names leaves it in the folded command; a command
    // without them skips the split into segments and tokens.
    if (folded.containsAnyOf(u"rm") && containsRootDeletion(command))
        findings.append(rule.destructiveRootDelete);
    if (matchesAnyPattern(pattern.diskDestructive, command, folded))
        findings.append(rule.diskDestructive);
    if (pattern.remoteScriptPipe->isFoundIn(command, folded))
        findings.append(rule.remoteScriptPipeShell);

    const bool credentialPath = pattern.credentialPath->isFoundIn(command, folded);
    // The network tool only matters beside a credential path.
    const bool networkTool = credentialPath && pattern.networkTool->isFoundIn(command, folded);
    if (credentialPath)
        findings.append(networkTool ? rule.sensitiveFileNetwork : rule.sensitiveFileAccess);

    if (matchesAnyPattern(pattern.encodedExecution, command, folded))
        findings.append(rule.encodedExecution);
    if (matchesAnyPattern(pattern.persistence, command, folded))
        findings.append(rule.persistenceModification);
    if ((folded.containsAnyOf(u"sudo doas") && containsPrivilegedInvocation(command))
        || matchesAnyPattern(pattern.privileged, command, folded))
        findings.append(rule.privilegedLaunch);

    sortFindings(findings);
    return {fingerprint(command), findings};
}

QString CommandThreatScanner::fingerprint(const QString &command)
{
    const QByteArray bytes =
        command.isValidUtf16() ? command.toUtf8() : withUnpairedSurrogatesReplaced(command).toUtf8();
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

QStringList CommandThreatScanner::commandSegments(QStringView command)
{
    return splitAtCharacters(command, isSegmentSeparator);
}

QStringList CommandThreatScanner::commandTokens(QStringView segment)
{
    QStringList tokens;
    // Trimming goes code point by code point: a quote that carries a combining
    // mark still loses the quote.
    for (const QString &piece : splitAtCharacters(segment, isWhiteSpaceCharacter)) {
        QStringView token = piece;
        while (!token.isEmpty() && isTokenTrimCharacter(token.front()))
            token = token.sliced(1);
        while (!token.isEmpty() && isTokenTrimCharacter(token.back()))
            token.chop(1);
        if (!token.isEmpty())
            tokens.append(token.toString());
    }
    return tokens;
}

QString CommandThreatScanner::tokenName(QStringView token)
{
    while (token.size() > 1 && token.endsWith(u'/'))
        token.chop(1);
    if (token == u"/")
        return QStringLiteral("/");
    return token.sliced(token.lastIndexOf(u'/') + 1).toString().toLower();
}

std::optional<qsizetype> CommandThreatScanner::commandWordIndex(const QStringList &tokens,
                                                                std::span<const QStringView> targetNames,
                                                                std::span<const QStringView> wrappers)
{
    if (tokens.isEmpty())
        return std::nullopt;
    // Leading assignments (FOO=1) and options are skipped to reach the command word.
    const auto word = std::find_if(tokens.cbegin(), tokens.cend(), [](const QString &token) {
        return !containsCharacter(token, u'=') && !startsWithCharacter(token, u'-');
    });
    const qsizetype index = word == tokens.cend() ? 0 : word - tokens.cbegin();

    const QString name = tokenName(tokens[index]);
    if (isOneOf(name, targetNames))
        return index;
    if (isOneOf(name, wrappers)) {
        for (qsizetype later = index + 1; later < tokens.size(); ++later) {
            if (isOneOf(tokenName(tokens[later]), targetNames))
                return later;
        }
    }
    return std::nullopt;
}

bool CommandThreatScanner::isRootDeletion(QStringView segment)
{
    static constexpr std::array<QStringView, 1> rm = {u"rm"};
    const QStringList tokens = commandTokens(segment);
    const std::optional<qsizetype> commandWord = commandWordIndex(tokens, rm, rootDeletionWrappers);
    if (!commandWord)
        return false;

    bool recursive = false;
    bool force = false;
    bool root = false;
    for (qsizetype i = *commandWord + 1; i < tokens.size(); ++i) {
        const QString argument = tokens[i].toLower();
        if (argument == u"--recursive") {
            recursive = true;
        } else if (argument == u"--force") {
            force = true;
        } else if (startsWithCharacter(argument, u'-') && !startsWithCharacter(QStringView(argument).sliced(1), u'-')) {
            // A cluster of short options, such as -rf.
            const QStringView options = QStringView(argument).sliced(1);
            recursive = recursive || containsCharacter(options, u'r');
            force = force || containsCharacter(options, u'f');
        } else if (argument == u"/" || argument == u"/*") {
            root = true;
        }
    }
    return recursive && force && root;
}

bool CommandThreatScanner::containsRootDeletion(QStringView command)
{
    const QStringList segments = commandSegments(command);
    return std::any_of(segments.cbegin(), segments.cend(),
                       [](const QString &segment) { return isRootDeletion(segment); });
}

bool CommandThreatScanner::isPrivilegedInvocation(QStringView segment)
{
    return commandWordIndex(commandTokens(segment), privilegeCommands, privilegedWrappers).has_value();
}

bool CommandThreatScanner::containsPrivilegedInvocation(QStringView command)
{
    const QStringList segments = commandSegments(command);
    return std::any_of(segments.cbegin(), segments.cend(),
                       [](const QString &segment) { return isPrivilegedInvocation(segment); });
}

bool CommandThreatScanner::matchesAnyPattern(std::span<const CommandThreatPattern *const> patterns, QStringView command,
                                             const CaseFoldedText &folded)
{
    return std::any_of(patterns.begin(), patterns.end(), [command, &folded](const CommandThreatPattern *pattern) {
        return pattern->isFoundIn(command, folded);
    });
}

void CommandThreatScanner::sortFindings(QList<CommandThreatFinding> &findings)
{
    std::sort(findings.begin(), findings.end(), [](const CommandThreatFinding &a, const CommandThreatFinding &b) {
        if (a.severity != b.severity)
            return a.severity > b.severity;
        return a.ruleID < b.ruleID;
    });
}
