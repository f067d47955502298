#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

namespace quiro::service {

// The post-call debrief behind "/analyze", derived from the transcript alone ("MGR: ..." and
// "CLT: ..." lines): every quote it gives is the text of one of those lines.
class CallAnalyzer {
public:
    struct Line {
        bool seller = false;
        QString text;
    };

    struct Input {
        QString transcript;
        std::optional<double> durationSec;
        QString productContext;
    };

    // Lines other than "MGR: " and "CLT: " ones are skipped; empty texts too.
    static QList<Line> parseTranscript(const QString& transcript);

    // Nothing when the transcript holds no line to analyse.
    static std::optional<QJsonObject> analyze(const Input& input);

    // The seller's share of the words, 0.5 when nobody spoke.
    static double sellerWordShare(const QList<Line>& lines);
    static bool isQuestion(const QString& text);
    // A line that fixes a next step: a time or day together with a meeting or commitment.
    static bool isNextStep(const QString& text);
};

} // namespace quiro::service
