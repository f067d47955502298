#pragma once

#include <QStringList>
#include <QStringView>

namespace quiro {

// A word is a maximal run of characters other than the blank U+0020: runs of blanks count once,
// and tabs or line breaks do not separate words. The coach and the hint service client count
// the same way, so a "four-word utterance" means the same thing everywhere.
qsizetype wordCount(QStringView text);

// The words of `text` in order, by the same rule.
QStringList words(QStringView text);

} // namespace quiro
