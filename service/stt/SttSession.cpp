#include "service/stt/SttSession.h"

#include "core/Log.h"
#include "service/ApiReply.h"
#include "service/stt/SpeechBackend.h"
#include "service/stt/SpeechModel.h"
#include "service/stt/SpeechService.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>
#include <QUuid>

#include <utility>

namespace quiro::service {

namespace {

// A close reason is limited to 123 bytes by the protocol.
QString closeReason(const QString& message)
{
    QByteArray utf8 = message.toUtf8();
    if (utf8.size() <= 123)
        return message;
    utf8.truncate(120);
    return QString::fromUtf8(utf8) + QStringLiteral("...");
}

QString errorText(const QString& message)
{
    return QString::fromUtf8(QJsonDocument(QJsonObject{{QStringLiteral("type"), QStringLiteral("Error")},
                                                       {QStringLiteral("message"), message}})
                                 .toJson(QJsonDocument::Compact));
}

bool isCloseStream(const QByteArray& bytes)
{
    const QJsonObject object = QJsonDocument::fromJson(bytes).object();
    return object.value(QStringLiteral("type")).toString() == QLatin1String("CloseStream");
}

} // namespace

std::optional<SttSession::Parameters> SttSession::parameters(const QUrlQuery& query, const SpeechService& speech,
                                                             QString* error)
{
    Parameters parameters;
    parameters.language = query.hasQueryItem(QStringLiteral("lang")) ? query.queryItemValue(QStringLiteral("lang"))
                                                                     : QStringLiteral("en");
    if (query.hasQueryItem(QStringLiteral("rate"))) {
        bool ok = false;
        parameters.sampleRate = query.queryItemValue(QStringLiteral("rate")).toInt(&ok);
        if (!ok)
            parameters.sampleRate = -1;
    }
    if (parameters.sampleRate != SpeechModel::sampleRate) {
        *error = QStringLiteral("Unsupported sample rate '%1': this service decodes 16-bit mono PCM at 16000 Hz only")
                     .arg(query.queryItemValue(QStringLiteral("rate")));
        return std::nullopt;
    }
    if (!speech.serves(parameters.language)) {
        const QStringList available = speech.languages();
        *error = QStringLiteral("No speech model for language '%1'; available: %2")
                     .arg(parameters.language.left(32),
                          available.isEmpty() ? QStringLiteral("none") : available.join(QStringLiteral(", ")));
        return std::nullopt;
    }
    return parameters;
}

void SttSession::reject(std::unique_ptr<QWebSocket> socket, QObject* owner, const QString& message, quint16 closeCode)
{
    QWebSocket* raw = socket.release();
    raw->setParent(owner);
    QObject::connect(raw, &QWebSocket::disconnected, raw, &QObject::deleteLater);
    // A peer that never answers the close handshake is dropped after a while.
    QTimer::singleShot(5000, raw, [raw] {
        raw->abort();
        raw->deleteLater();
    });
    raw->sendTextMessage(errorText(message));
    raw->close(QWebSocketProtocol::CloseCode(closeCode), closeReason(message));
}

SttSession::SttSession(std::unique_ptr<QWebSocket> socket, SpeechService& speech, Parameters parameters,
                       int silenceTimeoutMs, QObject* parent, qint64 maxQueuedBytes)
    : QObject(parent)
    , m_socket(socket.release())
    , m_speech(speech)
    , m_parameters(std::move(parameters))
    , m_maxQueuedBytes(maxQueuedBytes)
    , m_silence(new QTimer(this))
{
    m_socket->setParent(this);
    m_socket->setMaxAllowedIncomingFrameSize(quint64(maxBodyBytes));
    m_socket->setMaxAllowedIncomingMessageSize(quint64(maxBodyBytes));
    m_age.start();
    m_silence->setSingleShot(true);
    m_silence->setInterval(silenceTimeoutMs);
    connect(m_silence, &QTimer::timeout, this, [this] {
        closeWithError(QStringLiteral("No audio received for %1 s; the stream is closed")
                           .arg(double(m_silence->interval()) / 1000.0),
                       closeSilent);
    });
}

void SttSession::begin()
{
    connect(m_socket, &QWebSocket::binaryMessageReceived, this, &SttSession::onBinary);
    connect(m_socket, &QWebSocket::textMessageReceived, this, &SttSession::onText);
    connect(m_socket, &QWebSocket::disconnected, this, &SttSession::end);
    m_silence->start();
    // The language was checked with the stream's parameters, so some recognizer takes it.
    use(m_speech.open(m_parameters.language, m_maxQueuedBytes, this));
}

void SttSession::use(SpeechBackend* backend)
{
    if (m_backend)
        m_backend->deleteLater();
    m_backend = backend;
    connect(m_backend, &SpeechBackend::ready, this, &SttSession::onReady);
    connect(m_backend, &SpeechBackend::results, this, &SttSession::sendJson);
    connect(m_backend, &SpeechBackend::failed, this, &SttSession::onFailed);
    connect(m_backend, &SpeechBackend::finished, this, [this] {
        if (m_socket->state() == QAbstractSocket::ConnectedState)
            m_socket->close(QWebSocketProtocol::CloseCodeNormal);
    });
    m_backend->start();
}

void SttSession::onReady()
{
    m_ready = true;
    sendJson({
        {QStringLiteral("type"), QStringLiteral("Metadata")},
        {QStringLiteral("request_id"), QUuid::createUuid().toString(QUuid::WithoutBraces)},
        {QStringLiteral("sample_rate"), m_parameters.sampleRate},
        {QStringLiteral("channels"), 1},
        {QStringLiteral("model_info"), QJsonObject{{QStringLiteral("name"), m_backend->name()}}},
    });
    const QList<QByteArray> waiting = std::exchange(m_waiting, {});
    m_waitingBytes = 0;
    for (const QByteArray& audio : waiting)
        feed(audio);
    if (m_closing && !m_ended)
        m_backend->finish();
}

void SttSession::onFailed(const QString& message)
{
    // Only a recognizer that never got going is replaced: the client has heard nothing from it.
    // One that fails mid-stream ends the stream, and the client's reconnect gets a new one.
    if (!m_ready && !m_fellBack) {
        m_fellBack = true;
        if (SpeechBackend* fallback = m_speech.fallback(m_parameters.language, m_maxQueuedBytes, message, this)) {
            use(fallback);
            return;
        }
    }
    if (m_ready)
        Log::line(QStringLiteral("Speech"), message);
    closeWithError(message, closeRecognizerFailed);
}

void SttSession::sendJson(const QJsonObject& object)
{
    if (m_socket->state() == QAbstractSocket::ConnectedState)
        m_socket->sendTextMessage(QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)));
}

void SttSession::onBinary(const QByteArray& frame)
{
    if (m_closing)
        return;
    // The close request arrives as a binary frame holding its JSON text.
    if (frame.size() <= 64 && frame.startsWith('{') && isCloseStream(frame)) {
        closeStream();
        return;
    }
    m_silence->start();
    feed(frame);
}

void SttSession::feed(const QByteArray& audio)
{
    bool taken = true;
    if (m_ready) {
        taken = m_backend->feed(audio);
    } else {
        m_waiting.append(audio);
        m_waitingBytes += audio.size();
        taken = m_waitingBytes <= m_maxQueuedBytes;
    }
    if (!taken)
        closeWithError(QStringLiteral("Audio is arriving faster than it can be decoded"),
                       QWebSocketProtocol::CloseCodePolicyViolated);
}

void SttSession::onText(const QString& text)
{
    if (m_closing)
        return;
    const QJsonObject object = QJsonDocument::fromJson(text.toUtf8()).object();
    const QString type = object.value(QStringLiteral("type")).toString();
    if (type == QLatin1String("CloseStream"))
        closeStream();
    else if (type != QLatin1String("KeepAlive"))
        sendJson(
            {{QStringLiteral("type"), QStringLiteral("Error")},
             {QStringLiteral("message"), QStringLiteral("Unknown message; send binary audio, "
                                                        "{\"type\":\"KeepAlive\"} or {\"type\":\"CloseStream\"}")}});
}

void SttSession::closeStream()
{
    m_closing = true;
    m_silence->stop();
    // A recognizer still connecting finishes once it is ready and has the audio that waited.
    if (m_ready)
        m_backend->finish();
}

void SttSession::closeWithError(const QString& message, quint16 closeCode)
{
    sendJson({{QStringLiteral("type"), QStringLiteral("Error")}, {QStringLiteral("message"), message}});
    m_closing = true;
    m_silence->stop();
    m_socket->close(QWebSocketProtocol::CloseCode(closeCode), closeReason(message));
}

void SttSession::end()
{
    if (m_ended)
        return;
    m_ended = true;
    Log::line(QStringLiteral("Service"), QStringLiteral("/stt stream closed %1 after %2 s")
                                             .arg(int(m_socket->closeCode()))
                                             .arg(double(m_age.elapsed()) / 1000.0, 0, 'f', 1));
    emit ended();
    deleteLater();
}

} // namespace quiro::service
