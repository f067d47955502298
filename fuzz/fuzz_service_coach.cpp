// What the coach endpoints read from a local client (the request bodies of "/hint", "/extract",
// "/assist" and "/analyze", answered by the rules) and from a language model (its answer text).
// The first byte picks the endpoint. Every reply is an HTTP status the service can send, and a
// model's hint that passes the checks is never longer than a hint may be.
#include "FuzzInput.h"
#include "service/coach/CoachService.h"
#include "service/llm/ModelAnswer.h"

#include <QJsonDocument>
#include <QRegularExpression>

namespace {

using quiro::service::ApiReply;
using Endpoint = quiro::service::Coach::Endpoint;

ApiReply rulesAnswer(Endpoint endpoint, const QByteArray& body)
{
    namespace CoachService = quiro::service::CoachService;
    switch (endpoint) {
    case Endpoint::hint:
        return CoachService::hint(body);
    case Endpoint::extract:
        return CoachService::extract(body);
    case Endpoint::assist:
        return CoachService::assist(body);
    case Endpoint::analyze:
        return CoachService::analyze(body);
    }
    return ApiReply::error(500, {});
}

qsizetype words(const QString& text)
{
    static const QRegularExpression space(QStringLiteral("\\s+"));
    return text.split(space, Qt::SkipEmptyParts).size();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const auto endpoint = Endpoint(data[0] % 4);
    const QByteArray body = quiro::fuzz::bytes(data + 1, size - 1);

    const ApiReply reply = rulesAnswer(endpoint, body);
    quiro::fuzz::require(reply.status == 200 || (reply.status >= 400 && reply.status < 500));

    QString problem;
    const auto answer = quiro::service::ModelAnswer::reply(endpoint, QString::fromUtf8(body), &problem);
    quiro::fuzz::require(answer.has_value() == problem.isEmpty());
    if (answer && endpoint == Endpoint::assist)
        quiro::fuzz::require(words(answer->value(QStringLiteral("hint")).toString()) <=
                             quiro::service::ModelAnswer::maxHintWords);
    if (answer && endpoint == Endpoint::hint) {
        const QJsonObject raw =
            QJsonDocument::fromJson(answer->value(QStringLiteral("raw")).toString().toUtf8()).object();
        quiro::fuzz::require(words(raw.value(QStringLiteral("response")).toString()) <=
                             quiro::service::ModelAnswer::maxHintWords);
    }
    return 0;
}
