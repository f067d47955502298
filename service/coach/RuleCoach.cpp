#include "service/coach/RuleCoach.h"

#include "service/WorkerPool.h"
#include "service/coach/CoachService.h"

namespace quiro::service {

RuleCoach::RuleCoach(WorkerPool& workers)
    : m_workers(workers)
{
}

bool RuleCoach::answersInline(Endpoint endpoint, const QByteArray& body)
{
    return endpoint == Endpoint::hint && body.size() <= maxInlineHintBytes;
}

QFuture<ApiReply> RuleCoach::answer(Endpoint endpoint, const QByteArray& body)
{
    ApiReply (*respond)(const QByteArray&) = nullptr;
    switch (endpoint) {
    case Endpoint::hint:
        respond = &CoachService::hint;
        break;
    case Endpoint::extract:
        respond = &CoachService::extract;
        break;
    case Endpoint::assist:
        respond = &CoachService::assist;
        break;
    case Endpoint::analyze:
        respond = &CoachService::analyze;
        break;
    }
    if (answersInline(endpoint, body))
        return QtFuture::makeReadyFuture(respond(body));
    return m_workers.run(respond, body);
}

QJsonObject RuleCoach::status() const
{
    return {{QStringLiteral("kind"), QStringLiteral("rules")}};
}

} // namespace quiro::service
