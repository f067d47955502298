#include "service/coach/TextMatch.h"

namespace quiro::service::TextMatch {

QString normalise(const QString& text)
{
    QString out;
    out.reserve(text.size() + 2);
    out.append(QLatin1Char(' '));
    bool lastBlank = true;
    for (QChar c : text) {
        if (c == QChar(0x2019) || c == QChar(0x2018))
            c = QLatin1Char('\'');
        const bool keep =
            c.isLetterOrNumber() || c == QLatin1Char('\'') || c == QLatin1Char('$') || c == QLatin1Char('%');
        if (keep) {
            out.append(c.toLower());
            lastBlank = false;
        } else if (!lastBlank) {
            out.append(QLatin1Char(' '));
            lastBlank = true;
        }
    }
    if (!lastBlank)
        out.append(QLatin1Char(' '));
    return out;
}

namespace {

bool isNegator(QStringView word)
{
    return word == u"not" || word == u"no" || word == u"never" || word.endsWith(u"n't");
}

// The two words before `position` (which starts just after a blank).
bool negatedAt(const QString& text, qsizetype position)
{
    QStringView before = QStringView(text).left(position).trimmed();
    for (int i = 0; i < 2 && !before.isEmpty(); ++i) {
        const qsizetype blank = before.lastIndexOf(QLatin1Char(' '));
        const QStringView word = before.mid(blank + 1);
        if (isNegator(word))
            return true;
        before = blank < 0 ? QStringView() : before.left(blank).trimmed();
    }
    return false;
}

} // namespace

bool contains(const QString& normalisedText, const QString& cue)
{
    const bool stem = cue.endsWith(QLatin1Char('*'));
    const QString needle = QLatin1Char(' ') + (stem ? cue.chopped(1) : cue) + (stem ? QString() : QStringLiteral(" "));
    qsizetype from = 0;
    while (true) {
        const qsizetype at = normalisedText.indexOf(needle, from);
        if (at < 0)
            return false;
        // A cue that itself starts with a negation ("not a fit", "don't need") carries it.
        if (cue.startsWith(QLatin1String("not ")) || cue.startsWith(QLatin1String("no ")) ||
            cue.section(QLatin1Char(' '), 0, 0).endsWith(QLatin1String("n't")) || !negatedAt(normalisedText, at + 1))
            return true;
        from = at + 1;
    }
}

int wordCount(const QString& text)
{
    return int(text.split(QLatin1Char(' '), Qt::SkipEmptyParts).size());
}

} // namespace quiro::service::TextMatch
