#pragma once

#include "history/PostCallAnalysis.h"

#include <QString>
#include <QTextStream>

// Text for a person at a terminal, shared by the command-line front ends.
namespace quiro::cli {

// Colour only for a person at a terminal; never in files or pipes, and not when NO_COLOR asks.
bool useColour();

class Style {
public:
    explicit Style(bool colour)
        : m_colour(colour)
    {
    }
    QString bold(const QString& text) const { return wrap(QStringLiteral("1"), text); }
    QString faint(const QString& text) const { return wrap(QStringLiteral("2"), text); }
    QString red(const QString& text) const { return wrap(QStringLiteral("31"), text); }
    QString green(const QString& text) const { return wrap(QStringLiteral("32"), text); }
    QString yellow(const QString& text) const { return wrap(QStringLiteral("33"), text); }

    // The score ring's colours: green from 80, plain from 55, red below.
    QString score(qint64 score) const;

private:
    QString wrap(const QString& code, const QString& text) const;
    bool m_colour;
};

// Transcripts and analyses come from remote services: control characters (terminal escape
// sequences, line breaks that would forge extra lines) and bidirectional overrides must not
// reach the terminal as they are.
QString clean(const QString& text);

// "1 turn", "2 turns".
QString counted(qint64 count, const char* one, const char* many);

// "You" for the seller's tag, "Them" for the client's.
QString speakerName(const QString& speakerTag);

// The analysis as the debrief shows it: the summary, then the sections in their order.
void printAnalysis(QTextStream& out, const PostCallAnalysis& analysis, const Style& style);

} // namespace quiro::cli
