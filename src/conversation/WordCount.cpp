#include "conversation/WordCount.h"

namespace quiro {

qsizetype wordCount(QStringView text)
{
    // Counted by hand rather than with split(): add() runs this on every transcript and should
    // not allocate a list it throws away.
    qsizetype count = 0;
    bool inWord = false;
    for (const QChar c : text) {
        const bool blank = c == QLatin1Char(' ');
        if (!blank && !inWord)
            ++count;
        inWord = !blank;
    }
    return count;
}

QStringList words(QStringView text)
{
    QStringList result;
    for (const QStringView piece : text.split(QLatin1Char(' '), Qt::SkipEmptyParts))
        result.append(piece.toString());
    return result;
}

} // namespace quiro
