#pragma once

#include "execution/CommandThreatAssessment.h"
#include "execution/CommandThreatPattern.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <array>
#include <optional>
#include <span>
#include <string_view>

class CaseFoldedText;

// Reads a service's command line for dangerous patterns: seven fixed rules,
// applied with light shell awareness (segments between separators, white-space
// tokens with quotes and brackets trimmed from their ends) plus regular
// expressions over the whole line. Advisory and pure: it runs nothing, keeps no
// state and never fails. Every function is safe to call from any thread.
//
// "Character" below means a user-perceived character (grapheme cluster): a
// ";" carrying a combining mark is not a separator, and CR LF is one line break.
class CommandThreatScanner {
public:
    static CommandThreatAssessment assess(const QString &command);

    // SHA-256 of the command's UTF-8 bytes, exactly as given, in 64 lowercase
    // hex digits. An approval is tied to this, so any edit invalidates it.
    static QString fingerprint(const QString &command);

    // The pieces between ";", "&", "|" and line breaks (U+000A–U+000D, U+0085,
    // U+2028, U+2029, CR LF as one), empty pieces dropped. Quotes are not
    // honoured: a separator inside quotes splits as well.
    static QStringList commandSegments(QStringView command);
    // The white-space separated words of a segment with quotes, backquotes,
    // parentheses and braces trimmed from both ends, empty words dropped.
    static QStringList commandTokens(QStringView segment);
    // The last path component of a token ("/" stays "/"), lowercased.
    static QString tokenName(QStringView token);
    // Index of the command word among `tokens`: the first token that is neither
    // an assignment nor an option, if its name is a target; or, if that word
    // is a wrapper, the first later token named as a target.
    static std::optional<qsizetype> commandWordIndex(const QStringList &tokens,
                                                     std::span<const QStringView> targetNames,
                                                     std::span<const QStringView> wrappers);
    static bool isRootDeletion(QStringView segment);
    static bool containsRootDeletion(QStringView command);
    static bool isPrivilegedInvocation(QStringView segment);
    static bool containsPrivilegedInvocation(QStringView command);
    // `folded` is the case fold of `command` (CaseFoldedText).
    static bool matchesAnyPattern(std::span<const CommandThreatPattern *const> patterns, QStringView command,
                                  const CaseFoldedText &folded);
    // Critical first, then high, then medium; equal severities by ruleID.
    static void sortFindings(QList<CommandThreatFinding> &findings);

    static constexpr std::array<QStringView, 4> rootDeletionWrappers = {u"command", u"env", u"sudo", u"doas"};
    static constexpr std::array<QStringView, 4> privilegedWrappers = {u"command", u"env", u"nohup", u"time"};
    static constexpr std::array<QStringView, 2> privilegeCommands = {u"sudo", u"doas"};
    static constexpr std::u16string_view tokenTrimCharacters = u"\"'`(){}";

    // The pattern texts, exactly as searched.
    static const std::array<std::u16string_view, 3> diskDestructivePatternSources;
    static const std::u16string_view remoteScriptPipePatternSource;
    static const std::u16string_view credentialPathPatternSource;
    static const std::u16string_view networkToolPatternSource;
    static const std::array<std::u16string_view, 3> encodedExecutionPatternSources;
    static const std::array<std::u16string_view, 4> persistencePatternSources;
    static const std::array<std::u16string_view, 3> privilegedPatternSources;

    // The compiled patterns, built once on first use.
    struct Patterns {
        std::array<const CommandThreatPattern *, 3> diskDestructive;
        const CommandThreatPattern *remoteScriptPipe;
        const CommandThreatPattern *credentialPath;
        const CommandThreatPattern *networkTool;
        std::array<const CommandThreatPattern *, 3> encodedExecution;
        std::array<const CommandThreatPattern *, 4> persistence;
        std::array<const CommandThreatPattern *, 3> privileged;
    };
    static const Patterns &patterns();
};
