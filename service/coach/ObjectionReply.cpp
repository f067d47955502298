#include "service/coach/ObjectionReply.h"

#include "service/coach/CallAnalyzer.h"
#include "service/coach/TextMatch.h"

#include <QHash>
#include <QRegularExpression>

#include <array>

namespace quiro::service::ObjectionReply {

namespace {

// The words of each concern: a seller who answers it uses some of them. A cue ending in "*" is
// a stem.
const QHash<QString, QStringList>& topics()
{
    static const QHash<QString, QStringList> table{
        {QStringLiteral("price"),
         {"price*", "pricing", "cost*", "budget*", "invest*", "value", "roi", "return", "discount*", "afford*",
          "cheap*", "expensive", "money", "pay*", "spend*", "fee*", "dollar*", "save*", "saving*"}},
        {QStringLiteral("competitor"),
         {"compet*", "vendor*", "provider*", "alternative*", "option*", "switch*", "compar*", "versus", "vs", "unlike",
          "differen*", "instead"}},
        {QStringLiteral("authority"),
         {"decision*", "decide*", "owner*", "boss", "manager*", "board", "approv*", "sign off", "signs off", "cfo",
          "ceo", "director*", "partner*", "who else", "stakeholder*"}},
        {QStringLiteral("trust"),
         {"proof", "prove*", "case stud*", "customer*", "client*", "reference*", "guarantee*", "risk*", "trial",
          "pilot", "result*", "track record", "review*"}},
        {QStringLiteral("need"), {"need*", "fit*", "value", "problem*", "use case", "help*", "solve*", "challenge*"}},
        {QStringLiteral("urgency"),
         {"time", "timing", "now", "later", "wait*", "priorit*", "season*", "quarter*", "month*", "week*", "delay*",
          "when"}},
        {QStringLiteral("change"),
         {"change*", "switch*", "migrat*", "transition*", "setup", "set up", "onboard*", "train*", "learn*", "hassle",
          "disrupt*", "import*"}},
        {QStringLiteral("process"),
         {"process*", "procurement", "review*", "timeline*", "steps", "approv*", "paperwork", "legal", "security",
          "committee", "rfp", "requirement*"}},
        {QStringLiteral("info_stall"),
         {"send*", "email*", "deck", "information", "info", "material*", "detail*", "brochure*", "think*", "question*",
          "specific*", "share"}},
    };
    return table;
}

// What counts as evidence in an answer, besides a figure.
constexpr std::array evidenceCues{
    "case study", "case studies", "customer*",  "client*",  "for example", "for instance", "guarantee*",
    "pilot",      "trial",        "reference*", "result*",  "saved",       "saves",        "payback",
    "pays for",   "roi",          "proof",      "compared", "unlike",      "instead of",   "versus",
    "on average", "typically",    "per month",  "per year", "money back",
};

// Words too common to show that the seller took up what the client said.
const QStringList& commonWords()
{
    static const QStringList words{
        "about",     "after", "again", "also",    "another", "been",  "before", "being",    "could",  "does",
        "doing",     "even",  "every", "from",    "going",   "have",  "here",   "honestly", "into",   "just",
        "know",      "like",  "look",  "looking", "made",    "make",  "maybe",  "more",     "most",   "much",
        "only",      "other", "over",  "pretty",  "really",  "right", "said",   "same",     "should", "some",
        "something", "still", "sure",  "than",    "that",    "their", "them",   "then",     "there",  "these",
        "they",      "thing", "think", "this",    "those",   "under", "very",   "want",     "well",   "were",
        "what",      "when",  "where", "which",   "while",   "will",  "with",   "would",    "yeah",   "your",
    };
    return words;
}

QStringList contentWords(const QString& normalised)
{
    QStringList words;
    for (const QString& word : normalised.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (word.size() >= 4 && !commonWords().contains(word) && !words.contains(word))
            words.append(word);
    }
    return words;
}

// The same word, or the same first five letters of two longer ones ("offered" and "offer").
bool sameWord(const QString& a, const QString& b)
{
    return a == b || (a.size() >= 5 && b.size() >= 5 && QStringView(a).left(5) == QStringView(b).left(5));
}

bool containsAny(const QString& normalised, const auto& cues)
{
    for (const auto& cue : cues) {
        if (TextMatch::contains(normalised, QString(cue)))
            return true;
    }
    return false;
}

struct Concern {
    QStringList topicWords;
    QStringList clientWords;
    QStringList competitorNames;

    bool takenUpBy(const QString& normalisedSentence) const
    {
        if (containsAny(normalisedSentence, topicWords))
            return true;
        for (const QString& name : competitorNames) {
            if (TextMatch::contains(normalisedSentence, name))
                return true;
        }
        for (const QString& said : contentWords(normalisedSentence)) {
            for (const QString& word : clientWords) {
                if (sameWord(said, word))
                    return true;
            }
        }
        return false;
    }
};

bool hasEvidence(const QString& sentence, const QString& normalised)
{
    static const QRegularExpression figure(QStringLiteral("\\d"));
    return figure.match(sentence).hasMatch() || containsAny(normalised, evidenceCues);
}

QStringList sentences(const QString& text)
{
    static const QRegularExpression end(QStringLiteral("(?<=[.!?])\\s+|\\n"));
    QStringList out;
    for (const QString& piece : text.split(end, Qt::SkipEmptyParts)) {
        if (!piece.trimmed().isEmpty())
            out.append(piece.trimmed());
    }
    return out;
}

} // namespace

Verdict judge(const Turn& turn, const QStringList& competitorNames)
{
    if (turn.reply.trimmed().isEmpty())
        return {false, turn.callEnded ? QStringLiteral("The call ended before any response")
                                      : QStringLiteral("The seller did not respond before the client spoke again")};

    Concern concern{topics().value(turn.subType), contentWords(TextMatch::normalise(turn.objection)), {}};
    for (const QString& name : competitorNames) {
        const QString normalisedName = TextMatch::normalise(name).trimmed();
        if (!normalisedName.isEmpty())
            concern.competitorNames.append(normalisedName);
    }

    bool takenUp = false;
    for (const QString& sentence : sentences(turn.reply)) {
        const QString normalised = TextMatch::normalise(sentence);
        if (!concern.takenUpBy(normalised))
            continue;
        takenUp = true;
        if (CallAnalyzer::isQuestion(sentence))
            return {true, QStringLiteral("Answered with a question that explored the concern")};
        if (hasEvidence(sentence, normalised))
            return {true, QStringLiteral("Answered the concern with evidence or a comparison")};
    }
    return {false, takenUp ? QStringLiteral("Took up the concern but gave neither evidence nor a question about it")
                           : QStringLiteral("The reply moved on without addressing the concern")};
}

} // namespace quiro::service::ObjectionReply
