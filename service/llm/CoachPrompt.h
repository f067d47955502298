#pragma once

#include "service/coach/CoachRequest.h"

#include <QHash>
#include <QJsonArray>
#include <QString>

namespace quiro::service {

// The chat messages that ask a language model for one coach endpoint's answer. Each endpoint's
// prompt is a file among the service's resources (service/prompts/hint.txt, …): the system
// message, a line "=== user ===", then the user message; its {{name}} places are filled with
// everything the request carries.
namespace CoachPrompt {

// A filled value keeps at most this many characters (the beginning and the end of a long call,
// with a note of what was left out between them), so that no request outgrows a model's context.
inline constexpr qsizetype maxValueChars = 60'000;

QJsonArray hint(const CoachRequest::Hint& request);
QJsonArray extract(const CoachRequest::Extract& request);
QJsonArray assist(const CoachRequest::Assist& request);
QJsonArray analyze(const CoachRequest::Analyze& request);

// Fills the {{name}} places of a prompt in one pass: what a value says is never read for places
// of its own. Places without a value stay as they are; an empty value reads "(none)".
QString fill(const QString& prompt, const QHash<QString, QString>& values);

} // namespace CoachPrompt

} // namespace quiro::service
