#pragma once

#include "service/coach/Coach.h"

#include <QJsonObject>
#include <QString>

#include <optional>

namespace quiro::service {

// A language model's answer, checked before it reaches the app: the JSON object in the text (bare,
// in a markdown fence, or with prose around it) must hold every member the endpoint's reply needs,
// with the right types and within what the app shows (hints of at most eight words, a score from
// 0 to 100, lists of text). The reply carries exactly those members, and nothing else the model
// added. What is wrong is said by member names only: the text itself may quote the call.
namespace ModelAnswer {

inline constexpr int maxHintWords = 8;
inline constexpr qsizetype maxListEntries = 8;
inline constexpr qsizetype maxObjections = 10;
inline constexpr qsizetype maxFacts = 20;

// The first JSON object the text holds.
std::optional<QJsonObject> objectIn(const QString& text);

// The reply body for the endpoint ("raw"; "facts"; "hint"; "analysis"), without any "cost"; or
// nothing, with `problem` set.
std::optional<QJsonObject> reply(Coach::Endpoint endpoint, const QString& text, QString* problem);

} // namespace ModelAnswer

} // namespace quiro::service
