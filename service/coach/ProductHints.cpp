#include "service/coach/ProductHints.h"

#include "service/coach/TextMatch.h"

#include <QRegularExpression>

#include <array>

namespace quiro::service {

namespace {

const QString emDashSeparator = QStringLiteral(" \u2014 ");

QString afterPrefix(const QString& line, const QString& prefix)
{
    return line.startsWith(prefix) ? line.mid(prefix.size()).trimmed() : QString();
}

QStringList splitList(const QString& text)
{
    QStringList out;
    for (const QString& piece : text.split(QStringLiteral("; "), Qt::SkipEmptyParts)) {
        const QString trimmed = piece.trimmed();
        if (!trimmed.isEmpty())
            out.append(trimmed);
    }
    return out;
}

QString stripEndPunctuation(QString text)
{
    text = text.trimmed();
    while (!text.isEmpty() && QStringLiteral(".!;,").contains(text.back()))
        text.chop(1);
    return text;
}

struct KeyHint {
    const char* subType;
    std::array<const char*, 4> keyWords; // any of them inside the response's key
};

// Which of the seller's prepared objection responses answers which moment, by its key.
constexpr std::array keyHints{
    KeyHint{"price", {"PRICE", "COST", "BUDGET", "EXPENSIVE"}},
    KeyHint{"competitor", {"COMPET", "VENDOR", "ALREADY", "ALTERNATIVE"}},
    KeyHint{"authority", {"AUTHORITY", "DECISION", "BOSS", "APPROV"}},
    KeyHint{"trust", {"TRUST", "PROOF", "RISK", "SKEPTIC"}},
    KeyHint{"need", {"NEED", "FIT", "VALUE", "RELEVAN"}},
    KeyHint{"urgency", {"URGEN", "TIMING", "LATER", "PRIORIT"}},
    KeyHint{"change", {"CHANGE", "SWITCH", "MIGRAT", "STATUS"}},
    KeyHint{"process", {"PROCESS", "PROCUREMENT", "TIMELINE", "APPROVAL"}},
    KeyHint{"info_stall", {"INFO", "SEND", "THINK", "EMAIL"}},
    KeyHint{"buying_signal", {"CLOS", "NEXT", "START", "BUY"}},
};

} // namespace

ProductHints::ProductHints(const QString& productContext, const QString& objectionResponses)
{
    for (const QString& line : productContext.split(QLatin1Char('\n'))) {
        if (const QString product = afterPrefix(line, QStringLiteral("PRODUCT:")); !product.isEmpty()) {
            if (m_productName.isEmpty())
                m_productName = product.section(emDashSeparator, 0, 0).trimmed();
        } else if (const QString list = afterPrefix(line, QStringLiteral("CASE STUDIES:")); !list.isEmpty()) {
            m_caseStudies = splitList(list);
        } else if (const QString metrics = afterPrefix(line, QStringLiteral("METRICS:")); !metrics.isEmpty()) {
            m_metrics = splitList(metrics);
        } else if (const QString guarantee = afterPrefix(line, QStringLiteral("GUARANTEE:")); !guarantee.isEmpty()) {
            m_guarantee = guarantee;
        } else if (const QString competitors = afterPrefix(line, QStringLiteral("COMPETITORS:"));
                   !competitors.isEmpty()) {
            // "Name (weakness: w; our edge: e); Other (weakness: ...; our edge: ...)"
            static const QRegularExpression entry(
                QStringLiteral("([^;()]+?)\\s*\\(weakness: ([^)]*?); our edge: ([^)]*)\\)"));
            auto matches = entry.globalMatch(competitors);
            while (matches.hasNext()) {
                const auto match = matches.next();
                const QString name = match.captured(1).trimmed();
                if (!name.isEmpty())
                    m_competitors.append({name, match.captured(2).trimmed(), match.captured(3).trimmed()});
            }
        }
    }

    // "  KEY: phrase='...' | proof='...' | question='...'"
    static const QRegularExpression responseLine(
        QStringLiteral("^\\s+([^:]+): phrase='(.*)' \\| proof='(.*)' \\| question='(.*)'$"));
    for (const QString& line : objectionResponses.split(QLatin1Char('\n'))) {
        const auto match = responseLine.match(line);
        if (match.hasMatch())
            m_responses.append({match.captured(1).trimmed().toUpper(), match.captured(2).trimmed(),
                                match.captured(3).trimmed(), match.captured(4).trimmed()});
    }
}

QStringList ProductHints::competitorNames() const
{
    QStringList names;
    for (const Competitor& competitor : m_competitors)
        names.append(competitor.name);
    return names;
}

bool ProductHints::fits(const QString& text)
{
    const int words = TextMatch::wordCount(text);
    return words >= 1 && words <= maxWords;
}

QString ProductHints::genericAdvice(const QString& subType)
{
    static const std::array<std::pair<const char*, const char*>, 10> advice{{
        {"price", "Ask what ROI would justify this"},
        {"competitor", "Ask what they value most in comparison"},
        {"authority", "Ask who else owns this decision"},
        {"trust", "Give a specific case study now"},
        {"need", "Ask what a perfect fit looks like"},
        {"urgency", "Ask what decision depends on"},
        {"change", "Ask what staying the same costs"},
        {"process", "Ask when the next decision window opens"},
        {"info_stall", "Ask what specific info they need"},
        {"buying_signal", "Give next step: date and time now"},
    }};
    for (const auto& [key, text] : advice) {
        if (subType == QLatin1String(key))
            return QString::fromUtf8(text);
    }
    return {};
}

const ProductHints::ObjectionResponse* ProductHints::responseMatching(const QString& subType) const
{
    for (const KeyHint& hint : keyHints) {
        if (subType != QLatin1String(hint.subType))
            continue;
        for (const ObjectionResponse& response : m_responses) {
            for (const char* word : hint.keyWords) {
                if (word && response.key.contains(QLatin1String(word)))
                    return &response;
            }
        }
    }
    return nullptr;
}

QString ProductHints::responseFor(const QString& subType, const QString& phrase) const
{
    if (subType.isEmpty() || subType == QLatin1String("small_talk"))
        return {};
    QStringList candidates;

    // The seller's own words first: their question keeps the client talking, their phrase is
    // what they chose to say.
    if (const ObjectionResponse* prepared = responseMatching(subType)) {
        candidates << stripEndPunctuation(prepared->question) << stripEndPunctuation(prepared->phrase);
        if (!prepared->proof.isEmpty())
            candidates << QStringLiteral("Cite proof: ") + stripEndPunctuation(prepared->proof);
    }

    const QString product = m_productName;
    const QString normalisedPhrase = TextMatch::normalise(phrase);
    if (subType == QLatin1String("competitor")) {
        for (const Competitor& competitor : m_competitors) {
            if (!TextMatch::contains(normalisedPhrase, TextMatch::normalise(competitor.name).trimmed()))
                continue;
            if (!competitor.edge.isEmpty())
                candidates
                    << QStringLiteral("Versus %1: %2").arg(competitor.name, stripEndPunctuation(competitor.edge));
            candidates << QStringLiteral("Ask what they'd improve about %1").arg(competitor.name);
        }
    } else if (subType == QLatin1String("price")) {
        for (const QString& metric : m_metrics)
            candidates << QStringLiteral("Anchor on value: ") + stripEndPunctuation(metric);
        if (!product.isEmpty())
            candidates << QStringLiteral("Ask what ROI would justify %1").arg(product);
    } else if (subType == QLatin1String("trust")) {
        for (const QString& story : m_caseStudies)
            candidates << QStringLiteral("Share proof: ") + stripEndPunctuation(story);
        if (!m_guarantee.isEmpty())
            candidates << QStringLiteral("Offer the guarantee: ") + stripEndPunctuation(m_guarantee);
    } else if (subType == QLatin1String("authority") && !product.isEmpty()) {
        candidates << QStringLiteral("Ask who else signs off on %1").arg(product);
    } else if (subType == QLatin1String("need") && !product.isEmpty()) {
        candidates << QStringLiteral("Ask which problem %1 must solve first").arg(product);
    } else if (subType == QLatin1String("change") && !product.isEmpty()) {
        candidates << QStringLiteral("Ask what staying without %1 costs").arg(product);
    } else if (subType == QLatin1String("buying_signal") && !product.isEmpty()) {
        candidates << QStringLiteral("Book the %1 kickoff: offer two dates").arg(product);
    }
    candidates << genericAdvice(subType);

    for (const QString& candidate : candidates) {
        if (fits(candidate))
            return candidate;
    }
    return genericAdvice(subType);
}

} // namespace quiro::service
