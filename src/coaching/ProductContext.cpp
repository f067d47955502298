#include "coaching/ProductContext.h"

#include "core/Json.h"
#include "core/Paths.h"
#include "core/Text.h"

#include <QFile>
#include <QJsonArray>
#include <QStringList>

namespace quiro {

namespace {

const QString s_dash = QStringLiteral(" \u2014 ");
const QString s_listSeparator = QStringLiteral("; ");

QJsonObject readObject(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return Json::parseObject(file.readAll()).value_or(QJsonObject());
}

// The list when it is a non-empty array of strings, nothing otherwise.
std::optional<QStringList> nonEmptyStrings(const QJsonObject& object, const QString& key)
{
    const auto list = Json::stringList(object.value(key));
    if (!list || list->isEmpty())
        return std::nullopt;
    return list;
}

std::optional<QString> nonEmptyString(const QJsonObject& object, const QString& key)
{
    const auto text = Json::string(object, key);
    if (!text || text->isEmpty())
        return std::nullopt;
    return text;
}

// The entries when it is a non-empty array whose every entry is an object, nothing otherwise.
std::optional<QList<QJsonObject>> nonEmptyObjects(const QJsonObject& object, const QString& key)
{
    const QJsonValue value = object.value(key);
    if (!value.isArray() || value.toArray().isEmpty())
        return std::nullopt;
    QList<QJsonObject> entries;
    for (const QJsonValue& entry : value.toArray()) {
        if (!entry.isObject())
            return std::nullopt;
        entries.append(entry.toObject());
    }
    return entries;
}

QString field(const QJsonObject& object, const QString& key)
{
    return Json::string(object, key).value_or(QString());
}

QString priceTier(const QJsonObject& tier)
{
    // A tier with only a name would end in " — " plus a blank; the trim leaves "Pro —".
    return Text::trimmedBlanksAndTabs(field(tier, QStringLiteral("tier")) + s_dash +
                                      field(tier, QStringLiteral("price")) + QLatin1Char(' ') +
                                      field(tier, QStringLiteral("per")));
}

QString competitor(const QJsonObject& entry)
{
    return field(entry, QStringLiteral("name")) + QStringLiteral(" (weakness: ") +
           field(entry, QStringLiteral("their_weakness")) + QStringLiteral("; our edge: ") +
           field(entry, QStringLiteral("our_advantage")) + QLatin1Char(')');
}

// An object every member of which is a string; anything else is not a usable objection response.
std::optional<QJsonObject> objectOfStrings(const QJsonValue& value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
        if (!it.value().isString())
            return std::nullopt;
    }
    return object;
}

} // namespace

ProductContext::ProductContext(const std::optional<QString>& productFilePath)
{
    if (productFilePath)
        m_data = readObject(*productFilePath);
    m_profile = readObject(Paths::profileFile());
    m_compiled = compile();
}

QString ProductContext::callGoal() const
{
    return Json::string(m_data, QStringLiteral("call_goal_human"))
        .value_or(QStringLiteral("Move the deal to the next step"));
}

QString ProductContext::compile() const
{
    QStringList lines;

    // The seller's own words come first: they describe this seller's pitch better than the
    // shipped product file.
    if (const auto name = nonEmptyString(m_profile, QStringLiteral("product_name"))) {
        QString line = QStringLiteral("PRODUCT: ") + *name;
        if (const auto valueProp = nonEmptyString(m_profile, QStringLiteral("value_prop")))
            line += s_dash + *valueProp;
        lines.append(line);
    }
    if (const auto target = nonEmptyString(m_profile, QStringLiteral("target_customer")))
        lines.append(QStringLiteral("TARGET: ") + *target);
    if (const auto callType = nonEmptyString(m_profile, QStringLiteral("call_type")))
        lines.append(QStringLiteral("CALL TYPE: ") + *callType);
    if (const auto objections = nonEmptyStrings(m_profile, QStringLiteral("objections")))
        lines.append(QStringLiteral("KEY OBJECTIONS TO WATCH: ") + objections->join(s_listSeparator));

    const auto product = Json::object(m_data, QStringLiteral("product"));
    // A profile that names its product at all, even as an empty string, owns the product line.
    if (!m_profile.contains(QStringLiteral("product_name")) && product && !product->isEmpty()) {
        if (const auto name = nonEmptyString(*product, QStringLiteral("name")))
            lines.append(QStringLiteral("PRODUCT: ") + *name + s_dash + field(*product, QStringLiteral("one_liner")));
    }
    if (const auto company = Json::object(m_data, QStringLiteral("company"))) {
        if (const auto description = Json::string(*company, QStringLiteral("description")))
            lines.append(QStringLiteral("COMPANY: ") + *description);
    }
    if (product) {
        if (const auto pricing = nonEmptyObjects(*product, QStringLiteral("pricing"))) {
            QStringList tiers;
            for (const QJsonObject& tier : *pricing)
                tiers.append(priceTier(tier));
            lines.append(QStringLiteral("PRICING: ") + tiers.join(s_listSeparator));
        }
        if (const auto differentiators = nonEmptyStrings(*product, QStringLiteral("differentiators")))
            lines.append(QStringLiteral("DIFFERENTIATORS: ") + differentiators->join(s_listSeparator));
        if (const auto proof = Json::object(*product, QStringLiteral("proof"))) {
            if (const auto caseStudies = nonEmptyStrings(*proof, QStringLiteral("case_studies")))
                lines.append(QStringLiteral("CASE STUDIES: ") + caseStudies->join(s_listSeparator));
            if (const auto guarantee = Json::string(*proof, QStringLiteral("guarantee")))
                lines.append(QStringLiteral("GUARANTEE: ") + *guarantee);
            if (const auto metrics = nonEmptyStrings(*proof, QStringLiteral("metrics")))
                lines.append(QStringLiteral("METRICS: ") + metrics->join(s_listSeparator));
        }
    }
    if (const auto competitors = nonEmptyObjects(m_data, QStringLiteral("competitors"))) {
        QStringList entries;
        for (const QJsonObject& entry : *competitors)
            entries.append(competitor(entry));
        lines.append(QStringLiteral("COMPETITORS: ") + entries.join(s_listSeparator));
    }
    if (const auto icp = Json::object(m_data, QStringLiteral("icp"))) {
        if (const auto pains = nonEmptyStrings(*icp, QStringLiteral("pains")))
            lines.append(QStringLiteral("CUSTOMER PAINS: ") + pains->join(s_listSeparator));
    }
    lines.append(QStringLiteral("CALL GOAL: ") + callGoal());
    return lines.join(QLatin1Char('\n'));
}

std::optional<QString> ProductContext::objectionResponses() const
{
    const auto responses = Json::object(m_data, QStringLiteral("objection_responses"));
    if (!responses || responses->isEmpty())
        return std::nullopt;
    QStringList lines{QStringLiteral("OBJECTION RESPONSES (use these exact phrases and proofs):")};
    // Members in key order (QJsonObject keeps its keys sorted), so the same file always gives
    // the same prompt.
    const QStringList keys = responses->keys();
    for (const QString& key : keys) {
        const auto response = objectOfStrings(responses->value(key));
        if (!response)
            continue;
        lines.append(QStringLiteral("  ") + key.toUpper() + QStringLiteral(": phrase='") +
                     field(*response, QStringLiteral("phrase")) + QStringLiteral("' | proof='") +
                     field(*response, QStringLiteral("proof")) + QStringLiteral("' | question='") +
                     field(*response, QStringLiteral("question")) + QLatin1Char('\''));
    }
    return lines.join(QLatin1Char('\n'));
}

} // namespace quiro
