#pragma once

#include <QString>
#include <QStringList>

namespace quiro::service {

class ProductHints;

// The rule-based classifier behind "/hint": which kind of moment a client utterance is, how sure
// the rules are, and whether it is worth interrupting the seller for.
class HintClassifier {
public:
    // Below this the app drops the hint, so it is also where the rules stop interrupting.
    static constexpr double interruptThreshold = 0.65;

    struct Classification {
        QString intent = QStringLiteral("NEUTRAL"); // OBJECTION, STALL, BUYING_SIGNAL or NEUTRAL
        QString subType;                            // "price", "competitor", ..., "buying_signal", "small_talk", ""
        double confidence = 0.0;
        bool shouldInterrupt = false;
        int weight = 0;          // sum of the matched cue weights of the winning sub-type
        QStringList matchedCues; // of the winning sub-type, in table order
    };

    struct Input {
        QString phrase;
        QString context;             // the app's context block; earlier "[CLIENT]: " lines count as history
        QString stage;               // "opening" ... "closing"
        QStringList competitorNames; // from the product profile: naming one is a competitor cue
    };

    static Classification classify(const Input& input);

    // Confidence for a summed cue weight: a single weak word never interrupts on its own.
    static double confidenceForWeight(int weight);

    // The sub-types in the order that breaks ties.
    static const QStringList& subTypes();
    static QString intentOf(const QString& subType);
};

} // namespace quiro::service
