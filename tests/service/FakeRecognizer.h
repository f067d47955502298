#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <memory>

class QWebSocket;
class QWebSocketServer;

// A hosted live recognizer on 127.0.0.1, speaking the public streaming protocol: binary linear16
// audio in; for every `bytesPerLine` of audio the next line of its script, first half of it as an
// interim result, then the whole as a final one; "CloseStream" is answered with a final result
// for audio heard since the last line, then "Metadata" and a normal close. Lines are handed out
// in script order across all streams, round and round. Each stream's opening request and the
// texts it received are kept.
class FakeRecognizer : public QObject {
    Q_OBJECT

public:
    struct Stream {
        QUrl url;
        QByteArray authorization;
        QStringList texts; // text messages received ("CloseStream", "KeepAlive", …)
        qint64 audioBytes = 0;
    };

    FakeRecognizer(QStringList script, qint64 bytesPerLine, QObject* parent = nullptr);
    ~FakeRecognizer() override;

    // Listens on 127.0.0.1 at `port` (0: a free one); false when it cannot.
    bool start(quint16 port = 0);
    quint16 port() const;
    // ws://127.0.0.1:PORT/v1/listen
    QString url() const;
    // Every stream dropped without a close frame and no more listening: a recognizer gone away.
    void stop();

    const QList<std::shared_ptr<Stream>>& streams() const { return m_streams; }

private:
    void onConnection();
    void onAudio(QWebSocket* socket, Stream& stream, qint64 bytes);
    void sendResult(QWebSocket* socket, const QString& text, bool isFinal);
    QString nextLine();

    const QStringList m_script;
    const qint64 m_bytesPerLine;
    QWebSocketServer* m_server; // child
    QList<std::shared_ptr<Stream>> m_streams;
    QList<QPointer<QWebSocket>> m_sockets;
    qsizetype m_nextLine = 0;
};
