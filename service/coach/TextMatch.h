#pragma once

#include <QString>
#include <QStringList>

// Phrase matching on spoken text: lower case, punctuation as blanks, whole words only.
namespace quiro::service::TextMatch {

// Lower case, typographic apostrophes made plain, every character other than a letter, a
// digit, an apostrophe, "$" or "%" turned into a blank, blanks collapsed, one blank at each end
// (so " word " finds whole words).
QString normalise(const QString& text);

// Whether the cue occurs in normalised text as whole words, and is not negated by "not",
// "no", "never" or a "n't" word among the two words before it. A cue ending in "*" is a stem
// ("frustrat*" finds "frustrated").
bool contains(const QString& normalisedText, const QString& cue);

// Pieces between blanks, empty pieces not counted.
int wordCount(const QString& text);

} // namespace quiro::service::TextMatch
