#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// Ranking list items against a search text. A screen scores each field of an
// item with searchRelevanceScore, keeps the items that score and sorts them by
// the score (higher first). Comparisons ignore case and accents and work on
// user-perceived characters.

// 0 for an empty search, 1000 equal, 900 prefix, 800 contained; otherwise
// each word of the search is scored as a token and the scores averaged.
// Absent: no match.
std::optional<int> searchRelevanceScore(const QString &searchText, const QString &itemText);

// The inner steps; both texts of the token score are folded already.
std::optional<int> tokenRelevanceScore(const QString &pattern, const QString &text);
std::optional<int> fuzzySubsequenceScore(const QString &pattern, const QString &text);
QStringList splitOnWhitespace(const QString &text);

// Case and diacritic folding: NFD, non-spacing marks dropped, case-folded, NFC.
QString foldForSearch(const QString &text);
