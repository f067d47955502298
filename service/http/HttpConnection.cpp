#include "service/http/HttpConnection.h"

#include "core/Log.h"
#include "service/http/LogText.h"

#include <QJsonDocument>
#include <QSslSocket>
#include <QTcpSocket>

namespace quiro::service {

namespace {

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 408:
        return "Request Timeout";
    case 409:
        return "Conflict";
    case 411:
        return "Length Required";
    case 413:
        return "Payload Too Large";
    case 422:
        return "Unprocessable Entity";
    case 426:
        return "Upgrade Required";
    case 429:
        return "Too Many Requests";
    case 431:
        return "Request Header Fields Too Large";
    case 503:
        return "Service Unavailable";
    default:
        return status < 500 ? "Client Error" : "Server Error";
    }
}

QByteArray responseBytes(const ApiReply& reply, bool close)
{
    const QByteArray body = QJsonDocument(reply.body).toJson(QJsonDocument::Compact);
    QByteArray bytes = "HTTP/1.1 " + QByteArray::number(reply.status) + ' ' + reasonPhrase(reply.status) +
                       "\r\nContent-Type: application/json\r\nContent-Length: " + QByteArray::number(body.size()) +
                       "\r\n";
    for (const auto& [name, value] : reply.headers)
        bytes += name + ": " + value + "\r\n";
    if (close)
        bytes += "Connection: close\r\n";
    return bytes + "\r\n" + body;
}

// Where the header block ends (just past its blank line), or -1 while it has not arrived.
qsizetype headEnd(const QByteArray& head)
{
    const qsizetype crlf = head.indexOf("\r\n\r\n");
    const qsizetype lf = head.indexOf("\n\n");
    if (crlf >= 0 && (lf < 0 || crlf < lf))
        return crlf + 4;
    return lf >= 0 ? lf + 2 : -1;
}

QTcpSocket* wireOf(QTcpSocket* socket)
{
    // QSslSocket closes its plain socket (a child of it) before it announces its own closing.
    if (qobject_cast<QSslSocket*>(socket)) {
        if (auto* plain = socket->findChild<QTcpSocket*>(QString(), Qt::FindDirectChildrenOnly))
            return plain;
    }
    return socket;
}

bool allDigits(QByteArrayView text)
{
    return !text.isEmpty() && text.size() <= 18 &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

} // namespace

HttpConnection::HttpConnection(QTcpSocket* socket, ConnectionLimiter& limiter)
    : QObject(socket)
    , m_socket(socket)
    , m_wire(wireOf(socket))
    , m_settings(limiter.settings())
    , m_limiter(&limiter)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &HttpConnection::onTimeout);
    // Connected before the HTTP server's own slot, so this one sees every byte first.
    connect(socket, &QTcpSocket::readyRead, this, &HttpConnection::onReadyRead);
    connect(m_wire, &QIODevice::aboutToClose, this, &HttpConnection::onWireClosing);
    updateTimer();
}

HttpConnection* HttpConnection::of(const QTcpSocket* socket)
{
    return socket ? socket->findChild<HttpConnection*>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
}

bool HttpConnection::isIdle() const
{
    return m_phase == Phase::http && !receiving() && m_nextToWrite == m_nextTicket;
}

void HttpConnection::closeIdle()
{
    m_phase = Phase::closing;
    m_timer.stop();
    m_socket->close();
}

void HttpConnection::refuseConnection(int status, const QString& detail, const ApiReply::Headers& headers)
{
    m_requestName = QStringLiteral("connection");
    refuseRequest(status, detail, headers);
}

void HttpConnection::onReadyRead()
{
    if (m_phase != Phase::http)
        return;
    // The HTTP server reads everything available on each signal, so what is available now
    // arrived since the last one.
    const QByteArray bytes = m_socket->peek(m_socket->bytesAvailable());
    consume(bytes);
    updateTimer();
}

void HttpConnection::consume(QByteArrayView bytes)
{
    while (!bytes.isEmpty() && m_phase == Phase::http) {
        if (m_inBody) {
            const qint64 taken = std::min<qint64>(m_bodyRemaining, bytes.size());
            m_bodyRemaining -= taken;
            bytes = bytes.sliced(taken);
            if (m_bodyRemaining == 0)
                requestComplete();
            continue;
        }
        // Blank lines before a request line are allowed and ignored.
        while (m_head.isEmpty() && !bytes.isEmpty() && (bytes.front() == '\r' || bytes.front() == '\n'))
            bytes = bytes.sliced(1);
        if (bytes.isEmpty())
            return;
        const qsizetype searchFrom = std::max<qsizetype>(0, m_head.size() - 3);
        const qsizetype before = m_head.size();
        m_head.append(bytes.data(), std::min<qsizetype>(bytes.size(), maxHeadBytes + 1 - before));
        const qsizetype end = headEnd(m_head.sliced(searchFrom));
        if (end < 0) {
            if (m_head.size() > maxHeadBytes)
                refuseRequest(431, QStringLiteral("The request headers are larger than 64 KiB"));
            return;
        }
        const qsizetype headLength = searchFrom + end;
        // What followed the header block is body or the next request.
        bytes = bytes.sliced(headLength - before);
        if (!readHead(headLength))
            return;
    }
}

bool HttpConnection::readHead(qsizetype headLength)
{
    const QList<QByteArray> lines = m_head.left(headLength).trimmed().split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    m_requestName = LogText::printable(QString::fromLatin1(requestLine.value(0).left(16) + ' ' + requestLine.value(1)));
    QList<QByteArray> contentLengths;
    bool transferEncoding = false;
    bool upgrade = false;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray& line = lines.at(i);
        if (line.startsWith(' ') || line.startsWith('\t')) {
            refuseRequest(400, QStringLiteral("Folded header lines are not accepted"));
            return false;
        }
        const qsizetype colon = line.indexOf(':');
        const QByteArray name = line.left(colon).trimmed().toLower();
        const QByteArray value = line.mid(colon + 1).trimmed();
        if (name == "content-length")
            contentLengths.append(value);
        else if (name == "transfer-encoding")
            transferEncoding = true;
        else if (name == "upgrade")
            upgrade = value.compare("websocket", Qt::CaseInsensitive) == 0;
    }
    if (contentLengths.size() > 1) {
        refuseRequest(
            400, QStringLiteral("A request may carry one Content-Length header, not %1").arg(contentLengths.size()));
        return false;
    }
    if (transferEncoding) {
        if (!contentLengths.isEmpty())
            refuseRequest(400, QStringLiteral("A request may not carry both Content-Length and Transfer-Encoding"));
        else
            refuseRequest(411, QStringLiteral("Send the body with a Content-Length header; chunked uploads are "
                                              "not accepted"));
        return false;
    }
    if (!contentLengths.isEmpty() && !allDigits(contentLengths.first())) {
        refuseRequest(400, QStringLiteral("The Content-Length header is not a number"));
        return false;
    }
    const qint64 length = contentLengths.isEmpty() ? 0 : contentLengths.first().toLongLong();
    if (length > maxBodyBytes) {
        refuseRequest(413, QStringLiteral("The request body is larger than 1 MiB"));
        return false;
    }
    m_head.clear();
    if (upgrade) {
        // From here on the bytes are WebSocket frames, and the stream keeps its own time.
        m_phase = Phase::upgraded;
        m_lingerOnClose = true; // a WebSocket closes at once, whatever the peer is still sending
        m_timer.stop();
        return false;
    }
    m_inBody = length > 0;
    m_bodyRemaining = length;
    if (!m_inBody)
        requestComplete();
    return true;
}

void HttpConnection::requestComplete()
{
    m_inBody = false;
    m_timing = Timing::nothing;
}

quint64 HttpConnection::expectAnswer()
{
    const quint64 ticket = m_nextTicket++;
    updateTimer();
    return ticket;
}

void HttpConnection::answer(quint64 ticket, const ApiReply& reply)
{
    if (m_phase == Phase::closing || ticket < m_nextToWrite)
        return;
    m_ready[ticket] = {responseBytes(reply, false), false};
    writeReady();
}

void HttpConnection::refuseRequest(int status, const QString& detail, const ApiReply::Headers& headers)
{
    Log::line(QStringLiteral("Service"), QStringLiteral("%1 %2 0 ms; %3")
                                             .arg(m_requestName.isEmpty() ? QStringLiteral("request") : m_requestName)
                                             .arg(status)
                                             .arg(detail));
    ApiReply reply = ApiReply::error(status, detail);
    reply.headers = headers;
    const quint64 ticket = m_nextTicket++;
    m_ready[ticket] = {responseBytes(reply, true), true};
    m_head.clear();
    m_inBody = false;
    // Nothing more is read as HTTP; what the client still sends is drained on close. The HTTP
    // server's slot comes after this one and a disconnected slot is skipped even in the current
    // emission, so it never parses the refused request.
    QObject::disconnect(m_socket, &QTcpSocket::readyRead, nullptr, nullptr);
    m_phase = Phase::closing;
    m_lingerOnClose = true;
    m_timer.stop();
    writeReady();
}

void HttpConnection::writeReady()
{
    for (auto next = m_ready.find(m_nextToWrite); next != m_ready.end(); next = m_ready.find(m_nextToWrite)) {
        const Ready ready = std::move(next->second);
        m_ready.erase(next);
        ++m_nextToWrite;
        m_socket->write(ready.bytes);
        if (ready.close) {
            m_socket->close();
            return;
        }
    }
    updateTimer();
}

void HttpConnection::onWireClosing()
{
    if (m_lingerOnClose && m_limiter)
        m_limiter->linger(m_wire);
    m_lingerOnClose = false;
    m_phase = Phase::closing;
    m_timer.stop();
}

void HttpConnection::onTimeout()
{
    if (m_phase != Phase::http)
        return;
    if (m_timing == Timing::request)
        refuseRequest(408, QStringLiteral("The request did not arrive in full within %1 s")
                               .arg(double(m_settings.requestTimeoutMs) / 1000.0));
    else
        closeIdle();
}

void HttpConnection::updateTimer()
{
    if (m_phase != Phase::http) {
        m_timing = Timing::nothing;
        m_timer.stop();
        return;
    }
    if (receiving()) {
        // The deadline runs from the request's first byte, however slowly the rest arrives.
        if (m_timing != Timing::request) {
            m_timing = Timing::request;
            m_timer.start(m_settings.requestTimeoutMs);
        }
    } else if (m_nextToWrite != m_nextTicket) {
        // The service owes an answer, and its own work is bounded.
        m_timing = Timing::nothing;
        m_timer.stop();
    } else if (m_timing != Timing::idle) {
        m_timing = Timing::idle;
        m_idleSince.start();
        m_timer.start(m_settings.idleTimeoutMs);
    }
}

} // namespace quiro::service
