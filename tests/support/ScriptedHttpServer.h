#pragma once

#include <QAbstractHttpServer>
#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <deque>
#include <memory>
#include <optional>
#include <utility>

class QHttpServerResponder;
class QTcpSocket;

namespace quiro::test {

// What the server answers to one request. The status must be one the HTTP server knows
// (200, 201, 400, 401, 404, 500, ...).
struct ScriptedReply {
    int status = 200;
    QByteArray body;
    QByteArray contentType = "application/json";
    // The answer waits this long on the server's event loop (a real delay, for time-out tests).
    int delayMs = 0;
    // The answer waits until the test calls releaseHeld(): lets a test order overlapping replies.
    bool held = false;

    static ScriptedReply json(const QJsonObject& object, int status = 200);
    static ScriptedReply text(const QByteArray& body, int status = 200);
};

// One request as the server received it.
struct RecordedRequest {
    QByteArray method;
    QString path;
    QHash<QByteArray, QByteArray> headers; // names lower-cased
    QByteArray body;

    QByteArray header(const QByteArray& name) const { return headers.value(name.toLower()); }
    // The body as a JSON object; empty when it is not one.
    QJsonObject json() const;
};

// A real HTTP server on 127.0.0.1 and a free port, answering per path from a script and
// recording every request with its headers and body. Paths without a script get 404.
// Lives on the thread that created it; tests spin that thread's event loop (QTRY_*, awaits).
class ScriptedHttpServer : public QAbstractHttpServer {
    Q_OBJECT

public:
    explicit ScriptedHttpServer(QObject* parent = nullptr);
    ~ScriptedHttpServer() override;

    // Listens on 127.0.0.1 port 0; false when no port could be bound.
    bool start();
    quint16 port() const { return m_port; }
    // "http://127.0.0.1:<port>", no trailing slash.
    QString baseUrl() const;

    // The answer to every request on `path` from now on (after any queued one-shot answers).
    void setReply(const QString& path, ScriptedReply reply);
    // A one-shot answer for the next request on `path`; several queue in order.
    void enqueueReply(const QString& path, ScriptedReply reply);

    QList<RecordedRequest> requests() const { return m_requests; }
    QList<RecordedRequest> requests(const QString& path) const;
    int requestCount(const QString& path) const { return int(requests(path).size()); }

    // Sends the oldest held answers (all when count < 0); returns how many went out. Answers whose
    // client already hung up are dropped and not counted.
    int releaseHeld(int count = -1);
    int heldCount() const { return int(m_held.size()); }

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    struct Pending {
        QPointer<QTcpSocket> socket;
        std::unique_ptr<QHttpServerResponder> responder;
        ScriptedReply reply;
    };
    std::optional<ScriptedReply> nextReply(const QString& path);
    static bool send(Pending& pending);

    quint16 m_port = 0;
    QHash<QString, ScriptedReply> m_replies;
    QHash<QString, std::deque<ScriptedReply>> m_queued;
    QList<RecordedRequest> m_requests;
    std::deque<std::shared_ptr<Pending>> m_held;
};

} // namespace quiro::test
