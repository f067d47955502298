#include "FakeChat.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace FakeChat {

quiro::test::ScriptedReply completion(const QString& content, int promptTokens, int completionTokens)
{
    const QJsonObject message{{"role", "assistant"}, {"content", content}};
    return quiro::test::ScriptedReply::json({
        {"id", "chatcmpl-fake"},
        {"object", "chat.completion"},
        {"choices", QJsonArray{QJsonObject{{"index", 0}, {"message", message}, {"finish_reason", "stop"}}}},
        {"usage", QJsonObject{{"prompt_tokens", promptTokens},
                              {"completion_tokens", completionTokens},
                              {"total_tokens", promptTokens + completionTokens}}},
    });
}

QString everyEndpoint(const QString& hint)
{
    const QJsonObject answer{
        {"confidence", 0.9},
        {"should_interrupt", true},
        {"intent", "OBJECTION"},
        {"sub_type", "price"},
        {"response", hint},
        {"facts", QJsonArray{"Budget: from the fake model"}},
        {"hint", hint},
        {"score", 77},
        {"summary", "The fake model read this call."},
        {"strengths", QJsonArray{"Asked about the budget"}},
        {"improvements", QJsonArray{"Quantify the value sooner"}},
        {"missed_opportunities", QJsonArray{}},
        {"objections", QJsonArray{}},
        {"next_steps", QJsonArray{"Send the proposal"}},
        {"talk_listen_note", "Balanced talking and listening."},
    };
    return QString::fromUtf8(QJsonDocument(answer).toJson(QJsonDocument::Compact));
}

} // namespace FakeChat
