#include "service/llm/ModelCoach.h"

#include "core/Log.h"
#include "service/Address.h"
#include "service/WorkerPool.h"
#include "service/coach/CoachService.h"
#include "service/coach/RuleCoach.h"
#include "service/llm/CoachPrompt.h"
#include "service/llm/ModelAnswer.h"

#include <QPromise>

#include <qcoro/qcorofuture.h>

#include <functional>

namespace quiro::service {

namespace {

// A request read once for both coaches: the model's messages, and the rules' answer to the same
// request should the model fail.
struct Prepared {
    ApiReply refusal; // the body cannot be read: 400 or 422, from neither coach
    std::optional<QJsonArray> messages;
    std::function<ApiReply()> rules;
};

template <typename Request>
Prepared prepared(const CoachRequest::Parsed<Request>& parsed, QJsonArray (*prompt)(const Request&),
                  ApiReply (*rules)(const Request&))
{
    if (!parsed.request)
        return {parsed.error, std::nullopt, {}};
    return {{}, prompt(*parsed.request), [request = *parsed.request, rules] { return rules(request); }};
}

Prepared prepare(Coach::Endpoint endpoint, const QByteArray& body)
{
    switch (endpoint) {
    case Coach::Endpoint::hint:
        return prepared(CoachRequest::hint(body), &CoachPrompt::hint, &CoachService::hint);
    case Coach::Endpoint::extract:
        return prepared(CoachRequest::extract(body), &CoachPrompt::extract, &CoachService::extract);
    case Coach::Endpoint::assist:
        return prepared(CoachRequest::assist(body), &CoachPrompt::assist, &CoachService::assist);
    case Coach::Endpoint::analyze:
        return prepared(CoachRequest::analyze(body), &CoachPrompt::analyze, &CoachService::analyze);
    }
    return {};
}

QString path(Coach::Endpoint endpoint)
{
    switch (endpoint) {
    case Coach::Endpoint::hint:
        return QStringLiteral("/hint");
    case Coach::Endpoint::extract:
        return QStringLiteral("/extract");
    case Coach::Endpoint::assist:
        return QStringLiteral("/assist");
    case Coach::Endpoint::analyze:
        return QStringLiteral("/analyze");
    }
    return {};
}

// The app reads a cost on "/hint" and "/assist" only.
bool carriesCost(Coach::Endpoint endpoint)
{
    return endpoint == Coach::Endpoint::hint || endpoint == Coach::Endpoint::assist;
}

} // namespace

int ModelCoach::timeLimitMs(Endpoint endpoint)
{
    switch (endpoint) {
    case Endpoint::hint:
        return 8'000;
    case Endpoint::extract:
        return 4'500;
    case Endpoint::assist:
        return 6'000;
    case Endpoint::analyze:
        return 50'000;
    }
    return 0;
}

ModelCoach::ModelCoach(Settings settings, WorkerPool& workers, QObject* parent)
    : QObject(parent)
    , m_settings(std::move(settings))
    , m_workers(workers)
    , m_chat(new ChatClient(m_settings.chat, this))
{
}

int ModelCoach::timeoutMs(Endpoint endpoint) const
{
    return m_settings.timeoutMs > 0 ? std::min(m_settings.timeoutMs, timeLimitMs(endpoint)) : timeLimitMs(endpoint);
}

double ModelCoach::cost(const ChatClient::Usage& usage) const
{
    return (double(usage.promptTokens) * m_settings.priceInPerThousand +
            double(usage.completionTokens) * m_settings.priceOutPerThousand) /
           1000.0;
}

QFuture<ApiReply> ModelCoach::answer(Endpoint endpoint, const QByteArray& body)
{
    auto promise = std::make_shared<QPromise<ApiReply>>();
    promise->start();
    QFuture<ApiReply> future = promise->future();
    QCoro::connect(respond(endpoint, body), this, [promise](ApiReply reply) {
        promise->addResult(std::move(reply));
        promise->finish();
    });
    return future;
}

QCoro::Task<ApiReply> ModelCoach::respond(Endpoint endpoint, QByteArray body)
{
    const bool inlineWork = RuleCoach::answersInline(endpoint, body);
    Prepared request;
    if (inlineWork)
        request = prepare(endpoint, body);
    else
        request = co_await m_workers.run(&prepare, endpoint, body);
    if (!request.messages)
        co_return request.refusal;

    const ChatClient::Answer answer = co_await m_chat->complete(*request.messages, timeoutMs(endpoint));
    QString problem = answer.problem;
    if (answer.content) {
        if (auto reply = ModelAnswer::reply(endpoint, *answer.content, &problem)) {
            if (carriesCost(endpoint))
                reply->insert(QStringLiteral("cost"), cost(answer.usage));
            ++m_answered;
            co_return ApiReply::ok(*reply);
        }
        problem = QStringLiteral("the model's answer does not fit: ") + problem;
    }
    countFallback(endpoint, problem);
    ApiReply fallback;
    if (inlineWork)
        fallback = request.rules();
    else
        fallback = co_await m_workers.run(request.rules);
    // Tokens spent on an answer that did not fit are paid for all the same.
    if (carriesCost(endpoint) && fallback.status == 200)
        fallback.body.insert(QStringLiteral("cost"), cost(answer.usage));
    co_return fallback;
}

void ModelCoach::countFallback(Endpoint endpoint, const QString& problem)
{
    ++m_fallbacks;
    m_lastFallback = problem;
    Log::line(QStringLiteral("Coach"), QStringLiteral("%1 answered by the rules: %2").arg(path(endpoint), problem));
}

QJsonObject ModelCoach::status() const
{
    return {
        {QStringLiteral("kind"), QStringLiteral("model")},
        {QStringLiteral("model"), m_settings.chat.model},
        {QStringLiteral("base_url"), Address::shown(m_settings.chat.baseUrl)},
        {QStringLiteral("answers"), m_answered},
        {QStringLiteral("fallbacks"), m_fallbacks},
        {QStringLiteral("last_fallback"), m_lastFallback},
    };
}

} // namespace quiro::service
