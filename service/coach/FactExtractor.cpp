#include "service/coach/FactExtractor.h"

#include <QRegularExpression>

#include <algorithm>
#include <array>
#include <functional>

namespace quiro::service::FactExtractor {

namespace {

struct Found {
    qsizetype position;
    qsizetype end;
    QString fact;
};

constexpr auto caseless = QRegularExpression::CaseInsensitiveOption;

const QString numberWords = QStringLiteral(
    "(?:\\d[\\d,]*(?:\\.\\d+)?|a couple of|a few|one|two|three|four|five|six|seven|eight|nine|ten|eleven|twelve|"
    "fifteen|twenty|thirty|forty|fifty|sixty|seventy|eighty|ninety|a hundred|hundred|a thousand|thousand|"
    "several|dozens of|hundreds of)");

// Widely used business tools; vendors of the seller's own market come from the phrase patterns.
constexpr std::array knownTools{
    "Salesforce", "HubSpot",         "Pipedrive",  "Zoho",      "Excel",       "Google Sheets", "Spreadsheets",
    "Slack",      "Microsoft Teams", "Zoom",       "Notion",    "Jira",        "Asana",         "Trello",
    "Monday.com", "Intercom",        "Zendesk",    "Freshdesk", "Shopify",     "SAP",           "Oracle",
    "NetSuite",   "QuickBooks",      "Xero",       "Stripe",    "Mailchimp",   "Outlook",       "Gmail",
    "Dynamics",   "Airtable",        "ServiceNow", "Workday",   "Google Meet", "Calendly",
};

// Capitalised words that start sentences or name no product.
bool isCommonWord(const QString& word)
{
    static const QStringList common{
        QStringLiteral("I"),    QStringLiteral("We"),   QStringLiteral("The"),  QStringLiteral("A"),
        QStringLiteral("An"),   QStringLiteral("It"),   QStringLiteral("Our"),  QStringLiteral("My"),
        QStringLiteral("This"), QStringLiteral("That"), QStringLiteral("They"), QStringLiteral("You"),
        QStringLiteral("And"),  QStringLiteral("But"),  QStringLiteral("So"),   QStringLiteral("Yes"),
        QStringLiteral("No"),   QStringLiteral("Well"), QStringLiteral("OK"),   QStringLiteral("Okay"),
    };
    return common.contains(word);
}

void addMatches(QList<Found>& out, const QString& text, const QRegularExpression& pattern,
                const std::function<QString(const QRegularExpressionMatch&)>& describe)
{
    auto matches = pattern.globalMatch(text);
    while (matches.hasNext()) {
        const auto match = matches.next();
        const QString fact = describe(match);
        if (!fact.isEmpty())
            out.append({match.capturedStart(), match.capturedEnd(), fact});
    }
}

QString tidy(QString text)
{
    return text.simplified();
}

} // namespace

QStringList extract(const QString& phrase)
{
    QList<Found> found;
    const QString lower = phrase.toLower();
    const bool aboutBudget = lower.contains(QLatin1String("budget")) || lower.contains(QLatin1String("spend")) ||
                             lower.contains(QLatin1String("afford"));

    static const QRegularExpression money(
        QStringLiteral(
            "(?:[$\u20ac\u00a3]\\s?\\d[\\d,]*(?:\\.\\d+)?(?:\\s?(?:k|m|bn)\\b|\\s(?:thousand|million|billion)\\b)?"
            "|\\b\\d[\\d,]*(?:\\.\\d+)?\\s?(?:k|m)?\\s(?:dollars|usd|euros|eur|pounds|bucks)\\b)"
            "(?:\\s?(?:per|a|/)\\s?(?:month|year|seat|user|head))?"),
        caseless);
    addMatches(found, phrase, money, [aboutBudget](const QRegularExpressionMatch& m) {
        return (aboutBudget ? QStringLiteral("Budget: ") : QStringLiteral("Amount: ")) + tidy(m.captured(0));
    });

    static const QRegularExpression team(
        QStringLiteral("\\b%1\\s+(?:full[- ]time\\s+|sales\\s+|support\\s+|inside\\s+)?"
                       "(people|persons|reps|representatives|salespeople|sellers|agents|employees|staff|engineers|"
                       "developers|users|seats|members|managers|recruiters|nurses|doctors|dentists|consultants)\\b")
            .arg(numberWords),
        caseless);
    addMatches(found, phrase, team,
               [](const QRegularExpressionMatch& m) { return QStringLiteral("Team size: ") + tidy(m.captured(0)); });

    static const QRegularExpression scale(
        QStringLiteral("\\b%1\\s+(locations|stores|clinics|offices|branches|sites|customers|clients|leads|deals|"
                       "calls|tickets|orders|accounts|meetings|demos)\\b(?:\\s(?:a|per)\\s(?:day|week|month|year))?")
            .arg(numberWords),
        caseless);
    addMatches(found, phrase, scale,
               [](const QRegularExpressionMatch& m) { return QStringLiteral("Number: ") + tidy(m.captured(0)); });

    static const QRegularExpression percent(QStringLiteral("\\b\\d+(?:\\.\\d+)?\\s?(?:%|percent\\b)"), caseless);
    addMatches(found, phrase, percent,
               [](const QRegularExpressionMatch& m) { return QStringLiteral("Figure: ") + tidy(m.captured(0)); });

    static const QRegularExpression timeline(
        QStringLiteral("\\b(?:(?:next|this|last|by|before|after|until)\\s+(?:week|month|quarter|year|monday|tuesday|"
                       "wednesday|thursday|friday|january|february|march|april|june|july|august|september|october|"
                       "november|december|q[1-4])"
                       "|end of (?:the )?(?:week|month|quarter|year)"
                       "|in\\s+%1\\s+(?:days?|weeks?|months?|years?)"
                       "|within\\s+%1\\s+(?:days?|weeks?|months?|years?)"
                       "|q[1-4](?:\\s+20\\d\\d)?"
                       "|(?:january|february|march|april|june|july|august|september|october|november|december)"
                       "(?:\\s+\\d{1,2}(?:st|nd|rd|th)?)?(?:,?\\s+20\\d\\d)?"
                       "|may\\s+\\d{1,2}(?:st|nd|rd|th)?"
                       "|\\d{4}-\\d{2}-\\d{2}"
                       "|tomorrow|today|tonight"
                       "|(?:on\\s+)?(?:monday|tuesday|wednesday|thursday|friday|saturday|sunday)"
                       "(?:\\s+(?:morning|afternoon|at\\s+\\d{1,2}(?::\\d\\d)?\\s?(?:am|pm)?))?)\\b")
            .arg(numberWords),
        caseless);
    addMatches(found, phrase, timeline,
               [](const QRegularExpressionMatch& m) { return QStringLiteral("Timeline: ") + tidy(m.captured(0)); });

    static const QRegularExpression duration(
        QStringLiteral("\\b%1\\s+(?:hours?|days?|weeks?|months?|years?)(?:\\s(?:a|per)\\s(?:day|week|month))?\\b")
            .arg(numberWords),
        caseless);
    addMatches(found, phrase, duration,
               [](const QRegularExpressionMatch& m) { return QStringLiteral("Duration: ") + tidy(m.captured(0)); });

    for (const char* tool : knownTools) {
        const QRegularExpression pattern(
            QStringLiteral("\\b%1\\b").arg(QRegularExpression::escape(QString::fromUtf8(tool))), caseless);
        addMatches(found, phrase, pattern, [tool](const QRegularExpressionMatch&) {
            return QStringLiteral("Tool: ") + QString::fromUtf8(tool);
        });
    }
    static const QRegularExpression namedVendor(QStringLiteral(
        "\\b(?:use|using|used|switched from|moved from|currently on|signed with|work with|working with|compared to|"
        "looking at|trialing|testing)\\s+([A-Z][\\w.&-]*(?:\\s+[A-Z][\\w.&-]*){0,2})"));
    addMatches(found, phrase, namedVendor, [](const QRegularExpressionMatch& m) {
        const QString name = m.captured(1);
        if (isCommonWord(name.section(QLatin1Char(' '), 0, 0)))
            return QString();
        return QStringLiteral("Tool: ") + name;
    });

    // In the order spoken; where two patterns cover the same words, the earlier and longer wins.
    std::stable_sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
        return a.position != b.position ? a.position < b.position : a.end > b.end;
    });
    QStringList facts;
    qsizetype coveredUntil = -1;
    for (const Found& item : found) {
        const bool isTool = item.fact.startsWith(QLatin1String("Tool: "));
        if (!isTool && item.position < coveredUntil)
            continue;
        if (!isTool)
            coveredUntil = item.end;
        if (!facts.contains(item.fact, Qt::CaseInsensitive))
            facts.append(item.fact);
    }
    return facts;
}

} // namespace quiro::service::FactExtractor
