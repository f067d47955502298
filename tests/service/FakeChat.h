#pragma once

#include "support/ScriptedHttpServer.h"

#include <QString>

// What an OpenAI-compatible chat-completions server answers, for a scripted HTTP server standing
// in for one.
namespace FakeChat {

// Where the service posts when its base URL is the server's base with "/v1".
inline const QString path = QStringLiteral("/v1/chat/completions");

// A completion whose message content is `content`, with the tokens it took in "usage".
quiro::test::ScriptedReply completion(const QString& content, int promptTokens, int completionTokens);

// A model's JSON answer that fits every coach endpoint at once: a price hint saying `hint`, facts,
// an on-demand hint and a whole analysis whose summary names the fake.
QString everyEndpoint(const QString& hint);

} // namespace FakeChat
