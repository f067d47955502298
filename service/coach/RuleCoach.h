#pragma once

#include "service/coach/Coach.h"

namespace quiro::service {

class WorkerPool;

// The rule-based coach on its own: a hint at once on the event loop (the app waits for it while
// the client speaks), everything slower on the worker pool.
class RuleCoach final : public Coach {
public:
    // "/hint" bodies up to this size are answered on the event loop; a body far beyond any real
    // utterance and its context would hold the loop, so it waits its turn on the pool instead.
    static constexpr qsizetype maxInlineHintBytes = 64 * 1024;

    explicit RuleCoach(WorkerPool& workers);

    QFuture<ApiReply> answer(Endpoint endpoint, const QByteArray& body) override;
    QJsonObject status() const override;

    // Whether the rules answer this request on the event loop rather than on the pool.
    static bool answersInline(Endpoint endpoint, const QByteArray& body);

private:
    WorkerPool& m_workers;
};

} // namespace quiro::service
