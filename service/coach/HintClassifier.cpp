#include "service/coach/HintClassifier.h"

#include "service/coach/TextMatch.h"

#include <array>
#include <map>

namespace quiro::service {

namespace {

struct Cue {
    const char* subType;
    const char* phrase;
    int weight; // 3 = says it outright, 2 = strongly suggests, 1 = on topic only
    // Names another vendor or product the client could buy instead (or already has).
    bool alternative = false;
};

constexpr bool alternative = true;

// Cues per sub-type. Weights add up within a sub-type; the heaviest sub-type wins, and ties go to
// the earlier sub-type in subTypes().
constexpr std::array cues{
    // price
    Cue{"price", "too expensive", 3},
    Cue{"price", "too pricey", 3},
    Cue{"price", "too much money", 3},
    Cue{"price", "can't afford", 3},
    Cue{"price", "cannot afford", 3},
    Cue{"price", "out of our budget", 3},
    Cue{"price", "over our budget", 3},
    Cue{"price", "over budget", 3},
    Cue{"price", "no budget", 3},
    Cue{"price", "don't have the budget", 3},
    Cue{"price", "costs too much", 3},
    Cue{"price", "too costly", 3},
    Cue{"price", "price is too high", 3},
    Cue{"price", "cheaper", 2},
    Cue{"price", "expensive", 2},
    Cue{"price", "pricey", 2},
    Cue{"price", "budget*", 2},
    Cue{"price", "too steep", 3},
    Cue{"price", "steep", 2},
    Cue{"price", "lower price", 2},
    Cue{"price", "better price", 2},
    Cue{"price", "better deal", 2},
    Cue{"price", "for less", 2},
    Cue{"price", "discount", 2},
    Cue{"price", "costly", 2},
    Cue{"price", "a lot of money", 2},
    Cue{"price", "more than we pay", 3},
    Cue{"price", "more than we spend", 3},
    Cue{"price", "price", 1},
    Cue{"price", "pricing", 1},
    Cue{"price", "cost", 1},
    Cue{"price", "costs", 1},
    Cue{"price", "how much", 1},
    Cue{"price", "fees", 1},
    // competitor
    Cue{"competitor", "already use", 3, alternative},
    Cue{"competitor", "already using", 3, alternative},
    Cue{"competitor", "already have a", 3, alternative},
    Cue{"competitor", "already work with", 3, alternative},
    Cue{"competitor", "happy with our current", 3, alternative},
    Cue{"competitor", "current vendor", 3, alternative},
    Cue{"competitor", "current provider", 3, alternative},
    Cue{"competitor", "another vendor", 3, alternative},
    Cue{"competitor", "other vendor", 3, alternative},
    Cue{"competitor", "other vendors", 3, alternative},
    Cue{"competitor", "another provider", 3, alternative},
    Cue{"competitor", "other provider", 3, alternative},
    Cue{"competitor", "another company", 3, alternative},
    Cue{"competitor", "other company", 3, alternative},
    Cue{"competitor", "another tool", 3, alternative},
    Cue{"competitor", "competitor", 3, alternative},
    Cue{"competitor", "competitors", 3, alternative},
    Cue{"competitor", "cheaper option", 3, alternative},
    Cue{"competitor", "happy with what we have", 3, alternative},
    Cue{"competitor", "current system", 3, alternative},
    Cue{"competitor", "current solution", 3, alternative},
    Cue{"competitor", "current tool", 3, alternative},
    Cue{"competitor", "other options", 2, alternative},
    Cue{"competitor", "alternatives", 2, alternative},
    Cue{"competitor", "looking at other", 2, alternative},
    Cue{"competitor", "elsewhere", 2, alternative},
    Cue{"competitor", "we use", 2},
    Cue{"competitor", "we're using", 2},
    Cue{"competitor", "compared to", 2},
    Cue{"competitor", "comparing", 2},
    // authority
    Cue{"authority", "run it by", 3},
    Cue{"authority", "run this by", 3},
    Cue{"authority", "check with my", 3},
    Cue{"authority", "talk to my", 3},
    Cue{"authority", "need approval", 3},
    Cue{"authority", "needs approval", 3},
    Cue{"authority", "sign off", 3},
    Cue{"authority", "signs off", 3},
    Cue{"authority", "not my decision", 3},
    Cue{"authority", "not up to me", 3},
    Cue{"authority", "decision maker", 3},
    Cue{"authority", "the board", 3},
    Cue{"authority", "my boss", 3},
    Cue{"authority", "my manager", 3},
    Cue{"authority", "my partner", 3},
    Cue{"authority", "controls the budget", 3},
    Cue{"authority", "procurement", 2},
    Cue{"authority", "my team", 2},
    Cue{"authority", "director", 2},
    Cue{"authority", "ceo", 2},
    Cue{"authority", "cfo", 2},
    Cue{"authority", "approve", 2},
    Cue{"authority", "approval", 2},
    // trust
    Cue{"trust", "too good to be true", 3},
    Cue{"trust", "sounds too good", 3},
    Cue{"trust", "prove it", 3},
    Cue{"trust", "skeptical", 3},
    Cue{"trust", "sceptical", 3},
    Cue{"trust", "don't trust", 3},
    Cue{"trust", "never heard of", 3},
    Cue{"trust", "references", 3},
    Cue{"trust", "case study", 3},
    Cue{"trust", "case studies", 3},
    Cue{"trust", "been burned", 3},
    Cue{"trust", "burned before", 3},
    Cue{"trust", "got burned", 3},
    Cue{"trust", "how do i know", 3},
    Cue{"trust", "how do we know", 3},
    Cue{"trust", "does it really", 3},
    Cue{"trust", "not convinced", 3},
    Cue{"trust", "tried something like this", 3},
    Cue{"trust", "tried this before", 3},
    Cue{"trust", "didn't work", 2},
    Cue{"trust", "guarantee", 2},
    Cue{"trust", "risky", 2},
    Cue{"trust", "risk", 2},
    Cue{"trust", "reviews", 2},
    Cue{"trust", "proof", 2},
    Cue{"trust", "track record", 2},
    // need
    Cue{"need", "don't need", 3},
    Cue{"need", "do not need", 3},
    Cue{"need", "don't see the need", 3},
    Cue{"need", "not a fit", 3},
    Cue{"need", "not relevant", 3},
    Cue{"need", "not for us", 3},
    Cue{"need", "don't see the value", 3},
    Cue{"need", "works fine", 3},
    Cue{"need", "we're fine", 3},
    Cue{"need", "we manage fine", 3},
    Cue{"need", "doesn't apply", 3},
    Cue{"need", "not sure we need", 3},
    Cue{"need", "why would we need", 3},
    Cue{"need", "do we need", 2},
    Cue{"need", "not a priority for us", 2},
    // urgency
    Cue{"urgency", "not a priority", 3},
    Cue{"urgency", "not right now", 3},
    Cue{"urgency", "not now", 3},
    Cue{"urgency", "maybe later", 3},
    Cue{"urgency", "next year", 3},
    Cue{"urgency", "no rush", 3},
    Cue{"urgency", "no hurry", 3},
    Cue{"urgency", "bad timing", 3},
    Cue{"urgency", "not the right time", 3},
    Cue{"urgency", "circle back", 3},
    Cue{"urgency", "the right time", 1},
    Cue{"urgency", "not the best time", 3},
    Cue{"urgency", "don't have time", 3},
    Cue{"urgency", "too busy", 3},
    Cue{"urgency", "not sure this is the right time", 3},
    Cue{"urgency", "down the road", 3},
    Cue{"urgency", "in a few months", 3},
    Cue{"urgency", "revisit", 2},
    Cue{"urgency", "later", 2},
    Cue{"urgency", "someday", 2},
    Cue{"urgency", "eventually", 2},
    Cue{"urgency", "timing", 1},
    // change
    Cue{"change", "always done it", 3},
    Cue{"change", "the way we do it", 3},
    Cue{"change", "used to our", 3},
    Cue{"change", "too much hassle", 3},
    Cue{"change", "learning curve", 3},
    Cue{"change", "switching costs", 3},
    Cue{"change", "don't want to change", 3},
    Cue{"change", "set in our ways", 3},
    Cue{"change", "retrain", 3},
    Cue{"change", "migration", 3},
    Cue{"change", "migrate", 3},
    Cue{"change", "hassle", 2},
    Cue{"change", "disrupt*", 2},
    Cue{"change", "comfortable with", 2},
    Cue{"change", "change", 1},
    Cue{"change", "transition", 1},
    // process
    Cue{"process", "our process", 3},
    Cue{"process", "procurement process", 3},
    Cue{"process", "review process", 3},
    Cue{"process", "budget cycle", 3},
    Cue{"process", "fiscal year", 3},
    Cue{"process", "committee", 3},
    Cue{"process", "rfp", 3},
    Cue{"process", "security review", 3},
    Cue{"process", "legal review", 3},
    Cue{"process", "quarterly planning", 3},
    Cue{"process", "next quarter", 2},
    Cue{"process", "process", 2},
    Cue{"process", "paperwork", 2},
    // info_stall
    Cue{"info_stall", "send me", 3},
    Cue{"info_stall", "send over", 3},
    Cue{"info_stall", "send us", 3},
    Cue{"info_stall", "email me", 3},
    Cue{"info_stall", "brochure", 3},
    Cue{"info_stall", "more information", 3},
    Cue{"info_stall", "more info", 3},
    Cue{"info_stall", "some information", 3},
    Cue{"info_stall", "one pager", 3},
    Cue{"info_stall", "think about it", 3},
    Cue{"info_stall", "think it over", 3},
    Cue{"info_stall", "need to think", 3},
    Cue{"info_stall", "get back to you", 3},
    Cue{"info_stall", "let me think", 3},
    Cue{"info_stall", "sleep on it", 3},
    Cue{"info_stall", "a deck", 2},
    Cue{"info_stall", "materials", 2},
    Cue{"info_stall", "documentation", 2},
    Cue{"info_stall", "look it over", 2},
    // buying_signal
    Cue{"buying_signal", "how do we get started", 3},
    Cue{"buying_signal", "get started", 3},
    Cue{"buying_signal", "when can we start", 3},
    Cue{"buying_signal", "when could we start", 3},
    Cue{"buying_signal", "how soon", 3},
    Cue{"buying_signal", "sign up", 3},
    Cue{"buying_signal", "contract", 3},
    Cue{"buying_signal", "next steps", 3},
    Cue{"buying_signal", "next step", 3},
    Cue{"buying_signal", "move forward", 3},
    Cue{"buying_signal", "let's do it", 3},
    Cue{"buying_signal", "purchase order", 3},
    Cue{"buying_signal", "send the contract", 3},
    Cue{"buying_signal", "send me the contract", 3},
    Cue{"buying_signal", "send over the contract", 3},
    Cue{"buying_signal", "send the agreement", 3},
    Cue{"buying_signal", "we're interested", 3},
    Cue{"buying_signal", "we are interested", 3},
    Cue{"buying_signal", "trial", 2},
    Cue{"buying_signal", "pilot", 2},
    Cue{"buying_signal", "onboarding", 2},
    Cue{"buying_signal", "implementation", 2},
    Cue{"buying_signal", "start date", 2},
    Cue{"buying_signal", "how many seats", 3},
    Cue{"buying_signal", "seats", 2},
    Cue{"buying_signal", "licenses", 2},
    Cue{"buying_signal", "payment terms", 3},
    Cue{"buying_signal", "invoice", 2},
    Cue{"buying_signal", "sounds great", 2},
    Cue{"buying_signal", "sounds good", 2},
    Cue{"buying_signal", "i like that", 2},
    Cue{"buying_signal", "i like it", 2},
    Cue{"buying_signal", "love that", 2},
    Cue{"buying_signal", "that would help", 2},
};

// Greetings and pleasantries: worth no hint, and said so with confidence.
constexpr std::array smallTalk{
    "hello",
    "hi",
    "hey",
    "how are you",
    "how's it going",
    "good morning",
    "good afternoon",
    "good evening",
    "nice to meet you",
    "thanks for having me",
    "thank you for your time",
    "can you hear me",
    "you're on mute",
    "weather",
    "weekend",
    "great to see you",
    "how was your",
};

// A concern said to be no concern ("price is not an issue") cancels the weak cues around it.
constexpr std::array reassurances{
    "not an issue",    "not a problem",   "no problem", "not a concern", "no concern", "isn't an issue",
    "isn't a problem", "isn't a concern", "is fine",    "are fine",      "is okay",    "doesn't matter",
};

} // namespace

const QStringList& HintClassifier::subTypes()
{
    static const QStringList order{
        QStringLiteral("price"),         QStringLiteral("competitor"), QStringLiteral("authority"),
        QStringLiteral("trust"),         QStringLiteral("need"),       QStringLiteral("urgency"),
        QStringLiteral("change"),        QStringLiteral("process"),    QStringLiteral("info_stall"),
        QStringLiteral("buying_signal"),
    };
    return order;
}

QString HintClassifier::intentOf(const QString& subType)
{
    if (subType == QLatin1String("buying_signal"))
        return QStringLiteral("BUYING_SIGNAL");
    if (subType == QLatin1String("process") || subType == QLatin1String("info_stall"))
        return QStringLiteral("STALL");
    if (subType.isEmpty() || subType == QLatin1String("small_talk"))
        return QStringLiteral("NEUTRAL");
    return QStringLiteral("OBJECTION");
}

double HintClassifier::confidenceForWeight(int weight)
{
    if (weight <= 0)
        return 0.0;
    if (weight == 1)
        return 0.55;
    if (weight == 2)
        return 0.7;
    if (weight == 3)
        return 0.8;
    if (weight == 4)
        return 0.85;
    return 0.9;
}

HintClassifier::Classification HintClassifier::classify(const Input& input)
{
    const QString text = TextMatch::normalise(input.phrase);
    std::map<QString, int> weights;
    std::map<QString, QStringList> matched;
    bool namesAlternative = false;
    for (const Cue& cue : cues) {
        const QString phrase = QString::fromLatin1(cue.phrase);
        if (TextMatch::contains(text, phrase)) {
            weights[QString::fromLatin1(cue.subType)] += cue.weight;
            matched[QString::fromLatin1(cue.subType)].append(phrase);
            namesAlternative = namesAlternative || cue.alternative;
        }
    }
    const QString competitor = QStringLiteral("competitor");
    for (const QString& competitorName : input.competitorNames) {
        const QString name = TextMatch::normalise(competitorName).trimmed();
        if (!name.isEmpty() && TextMatch::contains(text, name)) {
            weights[competitor] += 3;
            matched[competitor].append(competitorName);
            namesAlternative = true;
        }
    }

    bool reassured = false;
    for (const char* phrase : reassurances)
        reassured = reassured || TextMatch::contains(text, QString::fromLatin1(phrase));
    if (reassured) {
        for (auto& [subType, weight] : weights) {
            if (intentOf(subType) != QLatin1String("BUYING_SIGNAL") && subType != QLatin1String("need"))
                weight = std::max(0, weight - 2);
        }
    }

    // A lower price from someone else is an objection about that someone: the price words make
    // it surer, and the seller needs the answer to the alternative, not a price defence.
    const QString price = QStringLiteral("price");
    if (namesAlternative && weights[price] > 0) {
        weights[competitor] += weights[price];
        matched[competitor] += matched[price];
        weights.erase(price);
    }

    Classification result;
    for (const QString& subType : subTypes()) {
        const auto found = weights.find(subType);
        if (found != weights.end() && found->second > result.weight) {
            result.weight = found->second;
            result.subType = subType;
        }
    }

    if (result.weight == 0) {
        bool pleasantry = false;
        for (const char* phrase : smallTalk)
            pleasantry = pleasantry || TextMatch::contains(text, QString::fromLatin1(phrase));
        result.subType = pleasantry ? QStringLiteral("small_talk") : QString();
        result.intent = QStringLiteral("NEUTRAL");
        result.confidence = pleasantry ? 0.9 : 0.5;
        result.shouldInterrupt = false;
        return result;
    }

    result.intent = intentOf(result.subType);
    result.matchedCues = matched[result.subType];
    double confidence = confidenceForWeight(result.weight);

    // The same concern raised again by the client is more certainly real.
    bool raisedBefore = false;
    const QStringList contextLines = input.context.split(QLatin1Char('\n'));
    for (const QString& line : contextLines) {
        if (!line.startsWith(QLatin1String("[CLIENT]: ")))
            continue;
        const QString earlier = TextMatch::normalise(line.mid(10));
        if (earlier == text)
            continue; // the phrase itself, already in the recent turns
        for (const QString& cue : result.matchedCues)
            raisedBefore = raisedBefore || TextMatch::contains(earlier, TextMatch::normalise(cue).trimmed());
    }
    if (raisedBefore)
        confidence += 0.05;
    // A buying signal is worth most when the call is already closing.
    if (result.intent == QLatin1String("BUYING_SIGNAL") && input.stage == QLatin1String("closing"))
        confidence += 0.05;
    result.confidence = std::min(0.95, confidence);
    result.shouldInterrupt = result.confidence >= interruptThreshold;
    return result;
}

} // namespace quiro::service
