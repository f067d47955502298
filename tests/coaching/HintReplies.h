#pragma once

#include "support/AwaitTask.h"
#include "support/ScriptedHttpServer.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <optional>

namespace quiro::test {

// The model's answer that the service's "/hint" passes on as text in "raw".
inline QJsonObject hintAnswer(const QString& response, const QString& subType = QStringLiteral("price"),
                              const QString& intent = QStringLiteral("OBJECTION"))
{
    return {{"confidence", 0.9},
            {"should_interrupt", true},
            {"intent", intent},
            {"sub_type", subType},
            {"response", response}};
}

inline QString compactText(const QJsonObject& object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

inline ScriptedReply hintReply(const QJsonObject& answer, std::optional<double> cost = std::nullopt)
{
    QJsonObject body{{"raw", compactText(answer)}};
    if (cost)
        body.insert("cost", *cost);
    return ScriptedReply::json(body);
}

// The reply waits for releaseHeld(), so a test can order overlapping replies.
inline ScriptedReply held(ScriptedReply reply)
{
    reply.held = true;
    return reply;
}

// The task's result; a task that does not finish in time fails the test and gives an empty result.
template <typename T> T finished(QCoro::Task<T>&& task, int timeoutMs = 5000)
{
    std::optional<T> result = awaitTask(std::move(task), timeoutMs);
    if (!result)
        QTest::qFail("the task did not finish in time", __FILE__, __LINE__);
    return result.value_or(T());
}

} // namespace quiro::test
