#include "service/coach/CallAnalyzer.h"

#include "service/coach/HintClassifier.h"
#include "service/coach/ObjectionReply.h"
#include "service/coach/ProductHints.h"
#include "service/coach/TextMatch.h"

#include <QHash>
#include <QJsonArray>
#include <QRegularExpression>
#include <QSet>

#include <array>
#include <cmath>

namespace quiro::service {

namespace {

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

// One list of the debrief: capped, and each client line quoted at most once in it.
class Section {
public:
    explicit Section(qsizetype capacity = CallAnalyzer::maxListEntries)
        : m_capacity(capacity)
    {
    }

    void add(const QString& entry) { add(entry, QString()); }
    // `line` is the client or seller line the entry quotes.
    void add(const QString& entry, const QString& line)
    {
        if (m_entries.size() >= m_capacity || m_entries.contains(entry))
            return;
        if (!line.isEmpty()) {
            const QString key = TextMatch::normalise(line);
            if (m_quoted.contains(key))
                return;
            m_quoted.append(key);
        }
        m_entries.append(entry);
    }

    QJsonArray toArray() const
    {
        QJsonArray array;
        for (const QString& entry : m_entries)
            array.append(entry);
        return array;
    }

private:
    qsizetype m_capacity;
    QStringList m_entries;
    QStringList m_quoted;
};

struct Objection {
    QString type;
    QString line;
    QString key; // the line normalised, to know it when said again
    bool handled = false;
    QString note;
    int raised = 1;
};

// Objections in the order raised; a line the client says again word for word is the same
// objection, handled when any of its raisings was answered.
class ObjectionList {
public:
    void add(const QString& type, const QString& line, const ObjectionReply::Verdict& verdict)
    {
        const QString key = TextMatch::normalise(line);
        const auto earlier = m_byKey.constFind(key);
        if (earlier != m_byKey.cend()) {
            Objection& first = m_objections[*earlier];
            ++first.raised;
            if (verdict.handled && !first.handled) {
                first.handled = true;
                first.note = verdict.note;
            }
            return;
        }
        m_byKey.insert(key, m_objections.size());
        m_objections.append({type, line, key, verdict.handled, verdict.note});
    }

    // Notes the objections whose concern came up again later.
    QList<Objection> settled() const
    {
        QList<Objection> out = m_objections;
        QSet<QString> laterTypes;
        for (qsizetype i = out.size() - 1; i >= 0; --i) {
            if (out[i].raised > 1 || laterTypes.contains(out[i].type))
                out[i].note += QStringLiteral("; raised again later");
            laterTypes.insert(out[i].type);
        }
        return out;
    }

private:
    QList<Objection> m_objections;
    QHash<QString, qsizetype> m_byKey;
};

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

int CallAnalyzer::percent(double share)
{
    return int(std::trunc(std::clamp(share, 0.0, 1.0) * 100.0));
}

QString CallAnalyzer::quote(const QString& text)
{
    if (text.size() <= maxQuoteChars)
        return text;
    QStringView cut = QStringView(text).left(maxQuoteChars - 1);
    const qsizetype blank = cut.lastIndexOf(QLatin1Char(' '));
    if (blank > maxQuoteChars / 2)
        cut = cut.left(blank);
    return cut.trimmed().toString() + QChar(0x2026);
}

std::optional<QJsonObject> CallAnalyzer::analyze(const Input& input)
{
    const QList<Line> lines = parseTranscript(input.transcript);
    if (lines.isEmpty())
        return std::nullopt;

    const ProductHints product(input.productContext, QString());
    const QStringList competitorNames = product.competitorNames();
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
    const bool ratioGiven = input.talkRatio && *input.talkRatio >= 0.0 && *input.talkRatio <= 1.0;
    const double share = ratioGiven ? *input.talkRatio : sellerWordShare(lines);
    const int sellerPercent = percent(share);

    ObjectionList raised;
    Section missed;
    QStringList nextStepLines;
    bool unactedBuyingSignal = false;

    for (qsizetype i = 0; i < lines.size(); ++i) {
        const Line& line = lines.at(i);
        if (isNextStep(line.text))
            nextStepLines.append(line.text);
        if (line.seller)
            continue;

        // The seller's answer: their lines up to the client's next line.
        QStringList answer;
        for (qsizetype j = i + 1; j < lines.size() && lines.at(j).seller; ++j)
            answer.append(lines.at(j).text);
        const QString answerText = answer.join(QLatin1Char('\n'));

        const auto classification = HintClassifier::classify({line.text, QString(), QString(), competitorNames});
        if (classification.shouldInterrupt && classification.intent != QLatin1String("BUYING_SIGNAL")) {
            const auto verdict = ObjectionReply::judge(
                {classification.subType, line.text, answerText, i + 1 == lines.size()}, competitorNames);
            raised.add(classification.subType, line.text, verdict);
        } else if (classification.shouldInterrupt) {
            bool actedOn = false;
            for (const QString& reply : answer)
                actedOn = actedOn || isNextStep(reply) || isQuestion(reply);
            if (!actedOn) {
                unactedBuyingSignal = true;
                missed.add(QStringLiteral("Buying signal not acted on: \"%1\"").arg(quote(line.text)), line.text);
            }
        }
        if (containsAny(TextMatch::normalise(line.text), painCues) && !isQuestion(answerText))
            missed.add(QStringLiteral("Pain not explored with a follow-up question: \"%1\"").arg(quote(line.text)),
                       line.text);
    }

    const QList<Objection> objections = raised.settled();
    int handled = 0;
    for (const Objection& objection : objections)
        handled += objection.handled ? 1 : 0;
    const int unhandled = int(objections.size()) - handled;
    const bool nextStep = !nextStepLines.isEmpty();

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

    const QString sellerShare = QString::number(sellerPercent) + QLatin1Char('%');
    Section strengths;
    if (questions >= 3)
        strengths.add(QStringLiteral("Asked %1 questions to understand the client").arg(questions));
    for (const Objection& objection : objections) {
        if (objection.handled)
            strengths.add(QStringLiteral("Handled the %1 objection: \"%2\"")
                              .arg(typeLabel(objection.type), quote(objection.line)),
                          objection.line);
    }
    if (share <= 0.5 && clientLines > 0)
        strengths.add(QStringLiteral("Let the client talk: you spoke %1 of the words").arg(sellerShare));
    if (nextStep)
        strengths.add(QStringLiteral("Agreed a concrete next step"));

    Section improvements;
    if (share > 0.55)
        improvements.add(QStringLiteral("Talk less: you spoke %1 of the words; aim for under 45%").arg(sellerShare));
    if (questions < 2)
        improvements.add(QStringLiteral("Ask more open questions to uncover needs"));
    for (const Objection& objection : objections) {
        if (!objection.handled)
            improvements.add(QStringLiteral("Address the %1 objection before moving on: \"%2\"")
                                 .arg(typeLabel(objection.type), quote(objection.line)),
                             objection.line);
    }
    if (!nextStep)
        improvements.add(QStringLiteral("End with a specific next step, date and time"));

    Section nextSteps;
    if (nextStep)
        nextSteps.add(QStringLiteral("Follow through on what was agreed: \"%1\"").arg(quote(nextStepLines.last())),
                      nextStepLines.last());
    for (const Objection& objection : objections) {
        if (objection.type == QLatin1String("info_stall"))
            nextSteps.add(QStringLiteral("Send what the client asked for: \"%1\"").arg(quote(objection.line)),
                          objection.line);
        else if (!objection.handled)
            nextSteps.add(QStringLiteral("Follow up on the %1 concern: \"%2\"")
                              .arg(typeLabel(objection.type), quote(objection.line)),
                          objection.line);
    }
    if (!nextStep)
        nextSteps.add(QStringLiteral("Propose a specific date and time for the next conversation"));

    QJsonArray objectionArray;
    QStringList objectionTypes;
    for (const Objection& objection : objections) {
        if (objectionArray.size() < maxObjections)
            objectionArray.append(QJsonObject{
                {QStringLiteral("type"), objection.type},
                {QStringLiteral("quote"), quote(objection.line)},
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
        QStringLiteral("You spoke %1 of the words and the client %2%. ").arg(sellerShare).arg(100 - sellerPercent);
    if (share > 0.55)
        talkNote += QStringLiteral("Aim to speak less than 45% and let the client explain more.");
    else if (share < 0.25)
        talkNote += QStringLiteral("Good listening; make sure you still steer toward a next step.");
    else
        talkNote += QStringLiteral("A healthy balance of talking and listening.");

    return QJsonObject{
        {QStringLiteral("score"), score},
        {QStringLiteral("summary"), summary},
        {QStringLiteral("strengths"), strengths.toArray()},
        {QStringLiteral("improvements"), improvements.toArray()},
        {QStringLiteral("missed_opportunities"), missed.toArray()},
        {QStringLiteral("objections"), objectionArray},
        {QStringLiteral("next_steps"), nextSteps.toArray()},
        {QStringLiteral("talk_listen_note"), talkNote},
    };
}

} // namespace quiro::service
