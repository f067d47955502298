#pragma once

#include "service/ApiReply.h"
#include "service/http/ConnectionLimiter.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <map>

class QTcpSocket;

namespace quiro::service {

// One client connection, watched from the moment it is admitted. It sees every byte before Qt's
// HTTP server does, so it frames the requests itself and refuses what the server would mishandle
// or hold forever:
// - a request not complete within the request deadline: 408;
// - more than one Content-Length, or Content-Length with Transfer-Encoding (a request two
//   readers could frame differently): 400; Transfer-Encoding alone: 411;
// - a body over 1 MiB (413) or headers over 64 KiB (431), refused as soon as they are announced
//   or have arrived, never held in full.
// A connection without a request in progress is closed after the idle timeout. Answers are
// written in the order the requests came, whenever the work behind each one finishes. Once the
// connection becomes a WebSocket the stream watches itself.
class HttpConnection final : public QObject {
    Q_OBJECT

public:
    static constexpr qint64 maxHeadBytes = 64 * 1024;

    // A child of `socket`; its timers start at once.
    HttpConnection(QTcpSocket* socket, ConnectionLimiter& limiter);

    static HttpConnection* of(const QTcpSocket* socket);

    // No request arriving and no answer owed: the connection may be closed to make room.
    bool isIdle() const;
    // Milliseconds of the monotonic clock since the connection became idle.
    qint64 idleForMs() const { return m_idleSince.elapsed(); }
    bool isClosing() const { return m_phase == Phase::closing; }
    void closeIdle();
    // Answers `status` with `detail` before any request and closes (the service is full).
    void refuseConnection(int status, const QString& detail, const ApiReply::Headers& headers = {});

    // The HTTP server has the next complete request: the ticket its answer is written with.
    quint64 expectAnswer();
    void answer(quint64 ticket, const ApiReply& reply);

private:
    enum class Phase { http, upgraded, closing };
    enum class Timing { nothing, request, idle };

    void onReadyRead();
    void onWireClosing();
    void onTimeout();
    void consume(QByteArrayView bytes);
    // Reads the complete header block of the request in m_head; false when it was refused.
    bool readHead(qsizetype headLength);
    void requestComplete();
    bool receiving() const { return !m_head.isEmpty() || m_inBody; }
    void refuseRequest(int status, const QString& detail, const ApiReply::Headers& headers = {});
    void writeReady();
    void updateTimer();

    QTcpSocket* m_socket; // parent
    // What carries the bytes: the socket itself, or under TLS the plain socket inside it, which
    // closes first.
    QTcpSocket* m_wire;
    const ConnectionLimiter::Settings m_settings;
    // Gone before the sockets when the service shuts down.
    QPointer<ConnectionLimiter> m_limiter;
    // The peer may still be sending when the connection closes: drain instead of resetting.
    bool m_lingerOnClose = false;
    QTimer m_timer;
    QElapsedTimer m_idleSince;
    Phase m_phase = Phase::http;
    Timing m_timing = Timing::nothing;
    QByteArray m_head; // the header block of the request arriving, so far
    bool m_inBody = false;
    qint64 m_bodyRemaining = 0;
    QString m_requestName; // "POST /hint", for the log
    quint64 m_nextTicket = 0;
    quint64 m_nextToWrite = 0;
    struct Ready {
        QByteArray bytes;
        bool close = false;
    };
    std::map<quint64, Ready> m_ready; // answers waiting for earlier ones
};

} // namespace quiro::service
