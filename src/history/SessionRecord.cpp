#include "history/SessionRecord.h"

#include "core/Json.h"
#include "history/RecordCodec.h"

#include <cmath>

namespace quiro {

namespace {
const QString idKey = QStringLiteral("id");
const QString startedAtKey = QStringLiteral("startedAt");
const QString endedAtKey = QStringLiteral("endedAt");
const QString turnsKey = QStringLiteral("turns");
const QString hintCountKey = QStringLiteral("hintCount");
const QString deepgramCostKey = QStringLiteral("deepgramCostUSD");
const QString llmCostKey = QStringLiteral("llmCostUSD");
const QString llmCallsKey = QStringLiteral("llmCalls");
const QString scoreKey = QStringLiteral("score");
const QString talkRatioKey = QStringLiteral("talkRatio");
const QString analysisKey = QStringLiteral("analysisJSON");

bool finite(const std::optional<double>& value)
{
    return !value || std::isfinite(*value);
}
} // namespace

double SessionRecord::durationSeconds() const
{
    return endedAt ? *endedAt - startedAt : 0.0;
}

std::optional<QJsonObject> SessionRecord::analysis() const
{
    if (!analysisJSON)
        return std::nullopt;
    return Json::parseObject(analysisJSON->toUtf8());
}

QJsonObject SessionRecord::toJson() const
{
    QJsonObject object{
        {idKey, RecordCodec::uuid(id)},
        {startedAtKey, RecordCodec::date(startedAt)},
        {turnsKey, RecordCodec::turns(turns)},
        {hintCountKey, hintCount},
        {deepgramCostKey, deepgramCostUSD},
        {llmCostKey, llmCostUSD},
        {llmCallsKey, llmCalls},
    };
    if (endedAt)
        object.insert(endedAtKey, RecordCodec::date(*endedAt));
    if (score)
        object.insert(scoreKey, *score);
    if (talkRatio)
        object.insert(talkRatioKey, *talkRatio);
    if (analysisJSON)
        object.insert(analysisKey, *analysisJSON);
    return object;
}

std::optional<SessionRecord> SessionRecord::fromJson(const QJsonObject& object)
{
    const auto id = RecordCodec::uuid(object, idKey);
    const auto startedAt = RecordCodec::date(object, startedAtKey);
    const auto endedAt = RecordCodec::date(object, endedAtKey);
    auto turns = RecordCodec::turns(object, turnsKey);
    const auto hintCount = RecordCodec::integer(object, hintCountKey);
    const auto deepgramCost = RecordCodec::number(object, deepgramCostKey);
    const auto llmCost = RecordCodec::number(object, llmCostKey);
    const auto llmCalls = RecordCodec::integer(object, llmCallsKey);
    const auto score = RecordCodec::integer(object, scoreKey);
    const auto talkRatio = RecordCodec::number(object, talkRatioKey);
    auto analysis = RecordCodec::string(object, analysisKey);

    const bool requiredPresent = id.value && startedAt.value && turns.value && hintCount.value && deepgramCost.value &&
                                 llmCost.value && llmCalls.value;
    const bool optionalsTyped = endedAt.valid && score.valid && talkRatio.valid && analysis.valid;
    if (!requiredPresent || !optionalsTyped)
        return std::nullopt;

    SessionRecord record;
    record.id = *id.value;
    record.startedAt = *startedAt.value;
    record.endedAt = endedAt.value;
    record.turns = std::move(*turns.value);
    record.hintCount = *hintCount.value;
    record.deepgramCostUSD = *deepgramCost.value;
    record.llmCostUSD = *llmCost.value;
    record.llmCalls = *llmCalls.value;
    record.score = score.value;
    record.talkRatio = talkRatio.value;
    record.analysisJSON = std::move(analysis.value);
    return record;
}

std::optional<QByteArray> SessionRecord::encode() const
{
    const bool representable = std::isfinite(startedAt) && finite(endedAt) && std::isfinite(deepgramCostUSD) &&
                               std::isfinite(llmCostUSD) && finite(talkRatio) && RecordCodec::turnsEncodable(turns);
    if (!representable)
        return std::nullopt;
    return Json::compact(toJson());
}

std::optional<SessionRecord> SessionRecord::decode(const QByteArray& bytes)
{
    const auto object = Json::parseObject(bytes);
    if (!object)
        return std::nullopt;
    return fromJson(*object);
}

} // namespace quiro
