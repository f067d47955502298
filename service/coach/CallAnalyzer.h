#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

namespace quiro::service {

// The post-call debrief behind "/analyze", derived from the transcript ("MGR: ..." and "CLT: ..."
// lines): every quote it gives is the text of one of those lines, cut after maxQuoteChars. The
// answer stays small whatever the transcript's size: no list holds more than maxListEntries
// entries (objections: maxObjections), and no quote appears twice in one list.
class CallAnalyzer {
public:
    struct Line {
        bool seller = false;
        QString text;
    };

    static constexpr qsizetype maxQuoteChars = 160;
    static constexpr qsizetype maxListEntries = 8;
    static constexpr qsizetype maxObjections = 10;

    struct Input {
        QString transcript;
        std::optional<double> durationSec;
        QString productContext;
        // The seller's share of the talking as the app computed it; the analysis quotes the same
        // figure. Without it (or when it is not a share from 0 to 1) the words are counted here.
        std::optional<double> talkRatio;
    };

    // Lines other than "MGR: " and "CLT: " ones are skipped; empty texts too.
    static QList<Line> parseTranscript(const QString& transcript);

    // Nothing when the transcript holds no line to analyse.
    static std::optional<QJsonObject> analyze(const Input& input);

    // The seller's share of the words, 0.5 when nobody spoke.
    static double sellerWordShare(const QList<Line>& lines);
    // A share as a whole percent the way the app shows it: cut, not rounded (0.456 is 45).
    static int percent(double share);
    // The line as quoted: whole when short, else cut at a blank before maxQuoteChars with "…".
    static QString quote(const QString& text);
    static bool isQuestion(const QString& text);
    // A line that fixes a next step: a time or day together with a meeting or commitment.
    static bool isNextStep(const QString& text);
};

} // namespace quiro::service
