#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QNetworkRequest>
#include <QObject>
#include <QString>
#include <QUrl>

#include <qcoro/qcorotask.h>

#include <optional>

class QNetworkAccessManager;

namespace quiro::service {

// One server that speaks the OpenAI-compatible chat-completions API: "POST {base}/chat/completions"
// with the model, the messages, a low temperature and a request for a JSON object; the answer is
// choices[0].message.content, with the tokens it took in "usage". Hosted providers and the
// servers people run on their own machines (llama.cpp's server, Ollama, vLLM) speak it alike.
class ChatClient : public QObject {
    Q_OBJECT

public:
    struct Settings {
        QUrl baseUrl; // e.g. http://127.0.0.1:8080/v1
        QString model;
        QByteArray apiKey; // sent as a bearer token; none when empty (a local server)
    };
    struct Usage {
        qint64 promptTokens = 0;
        qint64 completionTokens = 0;
    };
    struct Answer {
        std::optional<QString> content;
        // Why there is no content, for the log. Never the server's own words: an error may quote
        // the prompt, and with it the call.
        QString problem;
        Usage usage; // paid for even when the content turns out useless
    };

    explicit ChatClient(Settings settings, QObject* parent = nullptr);

    // The whole exchange, including a retry without "response_format" for a server that refuses
    // it, takes at most `timeoutMs`.
    QCoro::Task<Answer> complete(QJsonArray messages, int timeoutMs);

private:
    QNetworkRequest request() const;
    QByteArray body(const QJsonArray& messages) const;
    static Answer answerFrom(const QByteArray& bytes);
    static Answer failure(const QString& problem);

    Settings m_settings;
    QUrl m_endpoint;
    QNetworkAccessManager* m_network; // child
    // Cleared for good once the server refuses "response_format": the prompts ask for JSON anyway.
    bool m_askForJsonObject = true;
};

} // namespace quiro::service
