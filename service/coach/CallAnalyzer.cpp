#include "service/coach/CallAnalyzer.h"

#include "service/coach/HintClassifier.h"
#include "service/coach/ProductHints.h"
#include "service/coach/TextMatch.h"

#include <QJsonArray>
#include <QRegularExpression>

#include <array>
#include <cmath>

namespace quiro::service {

namespace {

// What a seller says when they take an objection seriously: acknowledge, give evidence, reframe.
constexpr std::array handlingCues{
    "understand", "fair",    "makes sense", "good question", "case study", "for example", "customers", "clients",
    "roi",        "return",  "guarantee",   "compared",      "what if",    "let me show", "pilot",     "trial",
    "results",    "percent", "%",           "saved",         "save",       "payback",     "reference", "proof",
};

constexpr std::array painCues{
    "problem", "issue", "struggling", "losing", "frustrat*", "barely", "pain", "headache", "waste*", "too slow",
};

constexpr std::array questionStarts{
    "what",  "how", "why", "when", "where", "who", "which",   "could",
    "would", "can", "do",  "does", "is",    "are", "tell me",
};

QString typeLabel(const QString& subType)
{
    if (subType == QLatin1String("info_stall"))
        return QStringLiteral("information request");
    if (subType == QLatin1String("process"))
        return QStringLiteral("internal process");
    if (subType == QLatin1String("change"))
        return QStringLiteral("change");
    return subType;
}

bool containsAny(const QString& normalised, const auto& cues)
{
    for (const char* cue : cues) {
        if (TextMatch::contains(normalised, QString::fromLatin1(cue)))
            return true;
    }
    return false;
}

QJsonArray toArray(const QStringList& list)
{
    QJsonArray array;
    for (const QString& entry : list)
        array.append(entry);
    return array;
}

QString percent(double share)
{
    return QString::number(int(std::lround(share * 100))) + QLatin1Char('%');
}

} // namespace

QList<CallAnalyzer::Line> CallAnalyzer::parseTranscript(const QString& transcript)
{
    QList<Line> lines;
    for (const QString& raw : transcript.split(QLatin1Char('\n'))) {
        const QString line = raw.trimmed();
        Line parsed;
        if (line.startsWith(QLatin1String("MGR:")))
            parsed.seller = true;
        else if (!line.startsWith(QLatin1String("CLT:")))
            continue;
        parsed.text = line.mid(4).trimmed();
        if (!parsed.text.isEmpty())
            lines.append(parsed);
    }
    return lines;
}

double CallAnalyzer::sellerWordShare(const QList<Line>& lines)
{
    int seller = 0;
    int client = 0;
    for (const Line& line : lines)
        (line.seller ? seller : client) += TextMatch::wordCount(line.text);
    return seller + client == 0 ? 0.5 : double(seller) / double(seller + client);
}

bool CallAnalyzer::isQuestion(const QString& text)
{
    if (text.contains(QLatin1Char('?')))
        return true;
    const QString normalised = TextMatch::normalise(text);
    for (const char* start : questionStarts) {
        if (normalised.startsWith(QLatin1Char(' ') + QString::fromLatin1(start) + QLatin1Char(' ')))
            return true;
    }
    return false;
}

bool CallAnalyzer::isNextStep(const QString& text)
{
    static const QRegularExpression when(
        QStringLiteral("\\b(monday|tuesday|wednesday|thursday|friday|tomorrow|next week|this week|"
                       "\\d{1,2}(:\\d\\d)?\\s?(am|pm)|o'clock|\\d{1,2}(st|nd|rd|th)|noon)\\b"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression what(
        QStringLiteral("\\b(meet|meeting|call|demo|invite|book|booked|schedule|scheduled|kickoff|kick off|"
                       "follow up|follow-up|start|sign|contract|onboard|onboarding|send)\\w*"),
        QRegularExpression::CaseInsensitiveOption);
    return when.match(text).hasMatch() && what.match(text).hasMatch();
}

std::optional<QJsonObject> CallAnalyzer::analyze(const Input& input)
{
    const QList<Line> lines = parseTranscript(input.transcript);
    if (lines.isEmpty())
        return std::nullopt;

    const ProductHints product(input.productContext, QString());
    int sellerLines = 0;
    int clientLines = 0;
    int questions = 0;
    for (const Line& line : lines) {
        if (line.seller) {
            ++sellerLines;
            questions += isQuestion(line.text) ? 1 : 0;
        } else {
            ++clientLines;
        }
    }
    const double share = sellerWordShare(lines);

    struct Objection {
        QString type;
        QString quote;
        bool handled = false;
        QString note;
    };
    QList<Objection> objections;
    QStringList missed;
    QStringList nextStepQuotes;
    bool unactedBuyingSignal = false;

    for (qsizetype i = 0; i < lines.size(); ++i) {
        const Line& line = lines.at(i);
        if (isNextStep(line.text))
            nextStepQuotes.append(line.text);
        if (line.seller)
            continue;

        // The seller's answer: their lines up to the client's next line.
        QStringList answer;
        for (qsizetype j = i + 1; j < lines.size() && lines.at(j).seller; ++j)
            answer.append(lines.at(j).text);
        const QString answerText = answer.join(QLatin1Char(' '));
        const QString normalisedAnswer = TextMatch::normalise(answerText);

        const auto classification =
            HintClassifier::classify({line.text, QString(), QString(), product.competitorNames()});
        if (classification.shouldInterrupt && classification.intent != QLatin1String("BUYING_SIGNAL")) {
            Objection objection;
            objection.type = classification.subType;
            objection.quote = line.text;
            if (answer.isEmpty()) {
                objection.note = i + 1 < lines.size() ? QStringLiteral("The seller did not respond before the client "
                                                                       "spoke again")
                                                      : QStringLiteral("The call ended before any response");
            } else if (isQuestion(answerText)) {
                objection.handled = true;
                objection.note = QStringLiteral("Answered with a question that explored the concern");
            } else if (containsAny(normalisedAnswer, handlingCues)) {
                objection.handled = true;
                objection.note = QStringLiteral("Acknowledged and answered with evidence or a reframe");
            } else {
                objection.note = QStringLiteral("The reply moved on without acknowledging the concern");
            }
            objections.append(objection);
        } else if (classification.shouldInterrupt) {
            bool actedOn = false;
            for (const QString& reply : answer)
                actedOn = actedOn || isNextStep(reply) || isQuestion(reply);
            if (!actedOn) {
                unactedBuyingSignal = true;
                missed.append(QStringLiteral("Buying signal not acted on: \"%1\"").arg(line.text));
            }
        }
        if (containsAny(TextMatch::normalise(line.text), painCues) && !isQuestion(answerText))
            missed.append(QStringLiteral("Pain not explored with a follow-up question: \"%1\"").arg(line.text));
    }

    // An objection the client raises again was not settled the first time.
    for (qsizetype i = 0; i < objections.size(); ++i) {
        for (qsizetype j = i + 1; j < objections.size(); ++j) {
            if (objections[j].type == objections[i].type) {
                objections[i].note += QStringLiteral("; raised again later");
                break;
            }
        }
    }

    int handled = 0;
    for (const Objection& objection : objections)
        handled += objection.handled ? 1 : 0;
    const int unhandled = int(objections.size()) - handled;
    const bool nextStep = !nextStepQuotes.isEmpty();

    // Score: a balanced, question-led call that settles objections and ends with a dated next
    // step scores high; a monologue without a next step scores low.
    int score = 50;
    if (share >= 0.3 && share <= 0.5)
        score += 15;
    else if (share < 0.3)
        score += 5;
    else if (share > 0.65)
        score -= 10;
    score += std::min(15, questions * 3);
    score += std::min(24, handled * 8);
    score -= std::min(24, unhandled * 8);
    score += nextStep ? 15 : 0;
    score -= unactedBuyingSignal ? 10 : 0;
    score = std::clamp(score, 0, 100);

    QStringList strengths;
    if (questions >= 3)
        strengths.append(QStringLiteral("Asked %1 questions to understand the client").arg(questions));
    for (const Objection& objection : objections) {
        if (objection.handled)
            strengths.append(
                QStringLiteral("Handled the %1 objection: \"%2\"").arg(typeLabel(objection.type), objection.quote));
    }
    if (share <= 0.5 && clientLines > 0)
        strengths.append(QStringLiteral("Let the client talk: you spoke %1 of the words").arg(percent(share)));
    if (nextStep)
        strengths.append(QStringLiteral("Agreed a concrete next step"));

    QStringList improvements;
    if (share > 0.55)
        improvements.append(
            QStringLiteral("Talk less: you spoke %1 of the words; aim for under 45%").arg(percent(share)));
    if (questions < 2)
        improvements.append(QStringLiteral("Ask more open questions to uncover needs"));
    for (const Objection& objection : objections) {
        if (!objection.handled)
            improvements.append(QStringLiteral("Address the %1 objection before moving on: \"%2\"")
                                    .arg(typeLabel(objection.type), objection.quote));
    }
    if (!nextStep)
        improvements.append(QStringLiteral("End with a specific next step, date and time"));

    QStringList nextSteps;
    if (nextStep)
        nextSteps.append(QStringLiteral("Follow through on what was agreed: \"%1\"").arg(nextStepQuotes.last()));
    for (const Objection& objection : objections) {
        if (objection.type == QLatin1String("info_stall"))
            nextSteps.append(QStringLiteral("Send what the client asked for: \"%1\"").arg(objection.quote));
        else if (!objection.handled)
            nextSteps.append(
                QStringLiteral("Follow up on the %1 concern: \"%2\"").arg(typeLabel(objection.type), objection.quote));
    }
    if (!nextStep)
        nextSteps.append(QStringLiteral("Propose a specific date and time for the next conversation"));

    QJsonArray objectionArray;
    QStringList objectionTypes;
    for (const Objection& objection : objections) {
        objectionArray.append(QJsonObject{
            {QStringLiteral("type"), objection.type},
            {QStringLiteral("quote"), objection.quote},
            {QStringLiteral("handled"), objection.handled},
            {QStringLiteral("note"), objection.note},
        });
        if (!objectionTypes.contains(typeLabel(objection.type)))
            objectionTypes.append(typeLabel(objection.type));
    }

    QString summary;
    if (input.durationSec && *input.durationSec > 0) {
        const int minutes = std::max(1, int(std::lround(*input.durationSec / 60.0)));
        summary = QStringLiteral("A %1-minute call with %2 exchanges (%3 from you, %4 from the client). ")
                      .arg(minutes)
                      .arg(lines.size())
                      .arg(sellerLines)
                      .arg(clientLines);
    } else {
        summary = QStringLiteral("A call with %1 exchanges (%2 from you, %3 from the client). ")
                      .arg(lines.size())
                      .arg(sellerLines)
                      .arg(clientLines);
    }
    if (objections.isEmpty())
        summary += QStringLiteral("The client raised no objections. ");
    else
        summary += QStringLiteral("The client raised %1 objection%2 (%3); %4 handled. ")
                       .arg(objections.size())
                       .arg(objections.size() == 1 ? "" : "s")
                       .arg(objectionTypes.join(QStringLiteral(", ")))
                       .arg(handled);
    summary += nextStep ? QStringLiteral("A concrete next step was agreed.")
                        : QStringLiteral("No concrete next step was agreed.");

    QString talkNote =
        QStringLiteral("You spoke %1 of the words and the client %2. ").arg(percent(share), percent(1.0 - share));
    if (share > 0.55)
        talkNote += QStringLiteral("Aim to speak less than 45% and let the client explain more.");
    else if (share < 0.25)
        talkNote += QStringLiteral("Good listening; make sure you still steer toward a next step.");
    else
        talkNote += QStringLiteral("A healthy balance of talking and listening.");

    return QJsonObject{
        {QStringLiteral("score"), score},
        {QStringLiteral("summary"), summary},
        {QStringLiteral("strengths"), toArray(strengths)},
        {QStringLiteral("improvements"), toArray(improvements)},
        {QStringLiteral("missed_opportunities"), toArray(missed)},
        {QStringLiteral("objections"), objectionArray},
        {QStringLiteral("next_steps"), toArray(nextSteps)},
        {QStringLiteral("talk_listen_note"), talkNote},
    };
}

} // namespace quiro::service
