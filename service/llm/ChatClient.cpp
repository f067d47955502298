#include "service/llm/ChatClient.h"

#include "core/Log.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>

#include <qcoro/qcoronetworkreply.h>

namespace quiro::service {

namespace {

// Coaching wants the same reading of the same words, not variety.
constexpr double temperature = 0.2;

QUrl completionsEndpoint(QUrl base)
{
    QString path = base.path();
    while (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    base.setPath(path + QStringLiteral("/chat/completions"));
    return base;
}

qint64 tokens(const QJsonObject& usage, const char* key)
{
    const QJsonValue value = usage.value(QLatin1String(key));
    return value.isDouble() && value.toDouble() >= 0 ? qint64(value.toDouble()) : 0;
}

QString noAnswerWithin(int timeoutMs)
{
    return QStringLiteral("the model server did not answer within %1 s").arg(double(timeoutMs) / 1000.0);
}

} // namespace

ChatClient::ChatClient(Settings settings, QObject* parent)
    : QObject(parent)
    , m_settings(std::move(settings))
    , m_endpoint(completionsEndpoint(m_settings.baseUrl))
    , m_network(new QNetworkAccessManager(this))
{
}

QNetworkRequest ChatClient::request() const
{
    QNetworkRequest request(m_endpoint);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    request.setRawHeader("Accept", "application/json");
    if (!m_settings.apiKey.isEmpty())
        request.setRawHeader("Authorization", "Bearer " + m_settings.apiKey);
    // A redirect would carry the key to wherever it points: it counts as an error instead.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    return request;
}

QByteArray ChatClient::body(const QJsonArray& messages) const
{
    QJsonObject body{
        {QStringLiteral("model"), m_settings.model},
        {QStringLiteral("messages"), messages},
        {QStringLiteral("temperature"), temperature},
    };
    if (m_askForJsonObject)
        body.insert(QStringLiteral("response_format"),
                    QJsonObject{{QStringLiteral("type"), QStringLiteral("json_object")}});
    return QJsonDocument(body).toJson(QJsonDocument::Compact);
}

ChatClient::Answer ChatClient::failure(const QString& problem)
{
    return Answer{std::nullopt, problem, {}};
}

ChatClient::Answer ChatClient::answerFrom(const QByteArray& bytes)
{
    const QJsonObject reply = QJsonDocument::fromJson(bytes).object();
    Answer answer;
    answer.usage = {tokens(reply.value(QStringLiteral("usage")).toObject(), "prompt_tokens"),
                    tokens(reply.value(QStringLiteral("usage")).toObject(), "completion_tokens")};
    const QJsonValue content = reply.value(QStringLiteral("choices"))
                                   .toArray()
                                   .first()
                                   .toObject()
                                   .value(QStringLiteral("message"))
                                   .toObject()
                                   .value(QStringLiteral("content"));
    if (content.isString())
        answer.content = content.toString();
    else
        answer.problem = QStringLiteral("the model server's reply has no choices[0].message.content");
    return answer;
}

QCoro::Task<ChatClient::Answer> ChatClient::complete(QJsonArray messages, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        const qint64 leftMs = timeoutMs - clock.elapsed();
        if (leftMs <= 0)
            co_return failure(noAnswerWithin(timeoutMs));
        QNetworkReply* reply = m_network->post(request(), body(messages));
        // A whole deadline, not the transfer time-out's pause between two bytes: a server that
        // trickles its answer is given up as surely as a silent one.
        auto* deadline = new QTimer(reply);
        deadline->setSingleShot(true);
        connect(deadline, &QTimer::timeout, reply, &QNetworkReply::abort);
        deadline->start(int(leftMs));
        co_await reply;
        deadline->stop();
        reply->deleteLater();

        const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        if (reply->error() == QNetworkReply::OperationCanceledError)
            co_return failure(noAnswerWithin(timeoutMs));
        if (!status.isValid())
            co_return failure(QStringLiteral("cannot reach the model server: ") + reply->errorString());
        const QByteArray bytes = reply->readAll();
        if (status.toInt() == 400 && m_askForJsonObject && bytes.contains("response_format")) {
            m_askForJsonObject = false;
            Log::line(QStringLiteral("Coach"), QStringLiteral("the model server does not take \"response_format\"; "
                                                              "from now on the prompts alone ask for JSON"));
            continue;
        }
        if (status.toInt() != 200)
            co_return failure(QStringLiteral("HTTP %1 from the model server").arg(status.toInt()));
        if (reply->error() != QNetworkReply::NoError)
            co_return failure(QStringLiteral("the model server's answer was cut short"));
        co_return answerFrom(bytes);
    }
}

} // namespace quiro::service
