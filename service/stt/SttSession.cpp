#include "service/stt/SttSession.h"

#include "core/Log.h"
#include "service/ApiReply.h"
#include "service/stt/SpeechDecoder.h"
#include "service/stt/SpeechModel.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>
#include <QTimer>
#include <QUuid>

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

std::optional<SttSession::Parameters> SttSession::parameters(const QUrlQuery& query, const SpeechModel& model,
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
    if (model.modelFolderFor(parameters.language).isEmpty()) {
        const QStringList available = model.languages();
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

SttSession::SttSession(std::unique_ptr<QWebSocket> socket, SpeechModel& model, Parameters parameters,
                       int silenceTimeoutMs, QObject* parent, qint64 maxQueuedBytes)
    : QObject(parent)
    , m_socket(socket.release())
    , m_model(model)
    , m_parameters(std::move(parameters))
    , m_queuedBytes(std::make_shared<std::atomic<qint64>>(0))
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

SttSession::~SttSession()
{
    if (m_thread) {
        // Stops a decoder in the middle of a large chunk; the wait is then at most one block.
        m_thread->requestInterruption();
        m_thread->quit();
        m_thread->wait();
    }
}

void SttSession::begin()
{
    connect(m_socket, &QWebSocket::binaryMessageReceived, this, &SttSession::onBinary);
    connect(m_socket, &QWebSocket::textMessageReceived, this, &SttSession::onText);
    connect(m_socket, &QWebSocket::disconnected, this, &SttSession::end);

    m_thread = new QThread(this);
    m_thread->setObjectName(QStringLiteral("stt-decoder"));
    // The decoder has no parent: it lives on the worker thread and is deleted there when the
    // thread's loop ends.
    auto* decoder = new SpeechDecoder(m_model, m_parameters.language, m_queuedBytes);
    decoder->moveToThread(m_thread);
    m_decoder = decoder;
    connect(m_thread, &QThread::finished, decoder, &QObject::deleteLater);
    connect(decoder, &SpeechDecoder::utterance, this, &SttSession::onUtterance);
    connect(decoder, &SpeechDecoder::finished, this, &SttSession::onDecoderFinished);
    connect(decoder, &SpeechDecoder::failed, this, &SttSession::onDecoderFailed);
    m_thread->start();
    QMetaObject::invokeMethod(decoder, &SpeechDecoder::start, Qt::QueuedConnection);
    m_silence->start();

    sendJson({
        {QStringLiteral("type"), QStringLiteral("Metadata")},
        {QStringLiteral("request_id"), QUuid::createUuid().toString(QUuid::WithoutBraces)},
        {QStringLiteral("sample_rate"), m_parameters.sampleRate},
        {QStringLiteral("channels"), 1},
        {QStringLiteral("model_info"),
         QJsonObject{
             {QStringLiteral("name"),
              QStringLiteral("pocketsphinx ") + QFileInfo(m_model.modelFolderFor(m_parameters.language)).fileName()}}},
    });
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
    if (m_queuedBytes->fetch_add(frame.size()) + frame.size() > m_maxQueuedBytes) {
        closeWithError(QStringLiteral("Audio is arriving faster than it can be decoded"),
                       QWebSocketProtocol::CloseCodePolicyViolated);
        return;
    }
    m_silence->start();
    SpeechDecoder* decoder = m_decoder;
    QMetaObject::invokeMethod(
        decoder, [decoder, frame] { decoder->feed(frame); }, Qt::QueuedConnection);
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
    // Queued behind all audio already handed over, so the last utterance is complete.
    QMetaObject::invokeMethod(m_decoder, &SpeechDecoder::finish, Qt::QueuedConnection);
}

void SttSession::onUtterance(const QString& transcript)
{
    const QJsonObject alternative{{QStringLiteral("transcript"), transcript}};
    sendJson({
        {QStringLiteral("type"), QStringLiteral("Results")},
        {QStringLiteral("is_final"), true},
        {QStringLiteral("speech_final"), true},
        {QStringLiteral("channel"), QJsonObject{{QStringLiteral("alternatives"), QJsonArray{alternative}}}},
    });
}

void SttSession::onDecoderFinished()
{
    if (m_socket->state() == QAbstractSocket::ConnectedState)
        m_socket->close(QWebSocketProtocol::CloseCodeNormal);
}

void SttSession::onDecoderFailed(const QString& message)
{
    // 1011: the server met a condition that keeps it from serving the stream.
    closeWithError(message, 1011);
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
