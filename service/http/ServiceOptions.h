#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

namespace quiro::service {

// How much the service lets any client hold, and for how long. The defaults suit one person's
// machine; tests shorten the deadlines.
struct ServiceLimits {
    // To receive one whole request (headers and a body of up to 1 MiB), and to finish a TLS
    // handshake. A closing connection is drained for at most as long.
    int requestTimeoutMs = 10'000;
    // A connection without a request in progress is closed after this long.
    int idleTimeoutMs = 30'000;
    // A "/stt" stream that sends no audio for this long is closed (4408).
    int sttSilenceTimeoutMs = 30'000;
    // Open connections; lowered at start to what the descriptor limit allows.
    int maxConnections = 64;
    // Concurrent "/stt" streams of all accounts together; 0 means 2 per processor core.
    int maxStreams = 0;
    // Decoders loaded and waiting for the next streams (at most maxStreams): a stream that finds
    // one starts at once, the others wait most of a second for a load; each takes about 90 MB.
    int warmDecoders = 2;
    int registrationsPerMinute = 10;

    // maxStreams with the default applied.
    int streams() const;
};

// The command line of quiro-service.
struct ServiceOptions {
    QString host = QStringLiteral("127.0.0.1");
    quint16 port = 8443;
    QString dataDir; // default: ~/.quiroai/service
    bool tls = true;
    ServiceLimits limits;
    // Provider settings given on the command line, by the name of the environment variable they
    // stand for (QUIRO_LLM_MODEL, ...); keys are never among them.
    QHash<QString, QString> providerOverrides;

    enum class Outcome { Run, Help, WrongUsage };
    struct Parsed {
        Outcome outcome = Outcome::WrongUsage;
        QString message; // the help text, or what is wrong
    };

    // `arguments` includes the program name first. `languages` are the speech languages this
    // machine has models for, for the help text.
    Parsed parse(const QStringList& arguments, const QStringList& languages);

    static QString helpText(const QStringList& languages);
};

} // namespace quiro::service
