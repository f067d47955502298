#pragma once

#include "service/coach/Coach.h"
#include "service/llm/ChatClient.h"

#include <QObject>
#include <QString>

namespace quiro::service {

class WorkerPool;

// The coach endpoints answered by a language model, with the rules behind it: a request the model
// does not answer in time, answers with an HTTP error, or answers with something that does not
// validate, is answered by the rules instead, with one log line (why, never what was said) and a
// count on "/health". Lives on the event loop, which only waits for the model; reading large
// requests and the rules' slower answers run on the worker pool, as without a model.
class ModelCoach final : public QObject, public Coach {
    Q_OBJECT

public:
    struct Settings {
        ChatClient::Settings chat;
        // US dollars per 1,000 tokens sent and received; "cost" on "/hint" and "/assist".
        double priceInPerThousand = 0;
        double priceOutPerThousand = 0;
        // At most this long per request when set (> 0); never beyond an endpoint's own limit.
        int timeoutMs = 0;
    };

    // The longest an endpoint waits for the model: below the app's own wait (10, 6, 8 and 60 s),
    // with room left for the rules to answer instead.
    static int timeLimitMs(Endpoint endpoint);

    ModelCoach(Settings settings, WorkerPool& workers, QObject* parent = nullptr);

    QFuture<ApiReply> answer(Endpoint endpoint, const QByteArray& body) override;
    QJsonObject status() const override;

private:
    QCoro::Task<ApiReply> respond(Endpoint endpoint, QByteArray body);
    int timeoutMs(Endpoint endpoint) const;
    double cost(const ChatClient::Usage& usage) const;
    void countFallback(Endpoint endpoint, const QString& problem);

    const Settings m_settings;
    WorkerPool& m_workers;
    ChatClient* m_chat; // child
    int m_answered = 0;
    int m_fallbacks = 0;
    QString m_lastFallback;
};

} // namespace quiro::service
