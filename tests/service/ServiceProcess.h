#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

// The real quiro-service binary on a free loopback port, for end-to-end tests and benchmarks.
// Started with --port 0; the port is read from its "listening on" line. Stopped by its own PID.
class ServiceProcess {
public:
    enum class Tls { off, on };

    // `extraArguments` follow the port, data folder and TLS choice (limits, say).
    ServiceProcess(QString binary, QString dataDir, Tls tls, QStringList extraArguments = {});
    ~ServiceProcess();
    ServiceProcess(const ServiceProcess&) = delete;
    ServiceProcess& operator=(const ServiceProcess&) = delete;

    // Starts and waits (at most `timeoutMs`) until it listens; false with `error` otherwise.
    bool start(QString* error, int timeoutMs = 20'000);
    void stop();
    // Runs the next start with at most `descriptors` open files.
    void limitDescriptors(int descriptors) { m_descriptorLimit = descriptors; }
    // Runs the next start in this environment instead of the test's own.
    void setEnvironment(const QProcessEnvironment& environment) { m_process.setProcessEnvironment(environment); }

    quint16 port() const { return m_port; }
    qint64 processId() const { return m_process.processId(); }
    // "http://127.0.0.1:PORT", or "https://localhost:PORT" with TLS (the name in the certificate
    // that the app uses by default).
    QString apiBase() const;
    // The same with "ws" for "http": "ws://…" or "wss://…".
    QString wsBase() const { return apiBase().replace(0, 4, QStringLiteral("ws")); }
    // Everything it printed so far on stdout and stderr.
    QString output();

private:
    QString m_binary;
    QString m_dataDir;
    Tls m_tls;
    QStringList m_extraArguments;
    int m_descriptorLimit = 0;
    QProcess m_process;
    QByteArray m_output;
    quint16 m_port = 0;
};

// PCM (16 kHz, mono, s16le, no header) of a sentence spoken by flite's kal16 voice; empty with
// `error` set when flite is not installed.
QByteArray synthesizeSpeech(const QString& text, QString* error);

// The byte offset of the last audible sample (above -40 dBFS) of s16le speech: flite ends its
// words with a fading tail, and the speaker has stopped once the tail is inaudible.
qsizetype lastAudibleByte(const QByteArray& speech);
