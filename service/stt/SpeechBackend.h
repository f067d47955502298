#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QObject>
#include <QString>

namespace quiro::service {

// A recognizer behind one "/stt" stream: the stream's audio goes in, "Results" messages for the
// client come out. Lives on the server's thread, a child of its stream; the stream decides what
// the client is told and when.
class SpeechBackend : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    // Starts recognizing: ready() once audio may be fed, or failed().
    virtual void start() = 0;
    // One chunk of 16-bit mono PCM; false when more audio waits than the backend lets queue (the
    // stream is then stopped rather than allowed to fill memory).
    virtual bool feed(const QByteArray& pcm) = 0;
    // No more audio: the last results follow, then finished().
    virtual void finish() = 0;
    // What recognizes, for the "Metadata" message ("pocketsphinx en-us").
    virtual QString name() const = 0;

signals:
    void ready();
    // A "Results" message as the client reads it (interim or final).
    void results(const QJsonObject& message);
    void finished();
    // The recognizer cannot go on; `message` is for the client and the log (never what was said).
    void failed(const QString& message);
};

} // namespace quiro::service
