#pragma once

#include "core/AtomicFile.h"

#include <QObject>
#include <QString>

#include <qcoro/qcorotask.h>

#include <optional>

namespace quiro {

// Keeps the bearer token between runs: in the desktop's secret service (through qtkeychain)
// when one answers, otherwise in ~/.quiroai/token with mode 0600.
//
// Every operation is asynchronous (the secret service is a D-Bus round trip) and they run strictly
// one after another in the order they were started, so a delete that follows a write can never be
// overtaken by it. Lives on the GUI thread.
class TokenStore : public QObject {
    Q_OBJECT
public:
    enum class Backend {
        keychainThenFile, // the secret service first, the private file when it is unavailable
        fileOnly,         // never touch the secret service (no D-Bus at all)
    };

    static inline const QString keychainService = QStringLiteral("quiro.app.jwt");
    // A secret service that does not answer within this time counts as unavailable.
    static constexpr int keychainTimeoutMs = 20'000;

    explicit TokenStore(Backend backend = Backend::keychainThenFile, QObject* parent = nullptr);
    // Keeps the fallback copy at `filePath` instead of ~/.quiroai/token.
    TokenStore(Backend backend, QString filePath, QObject* parent = nullptr);

    // The secret service's item, else the file's content; absent when neither holds a token.
    QCoro::Task<std::optional<QString>> read();
    // Into the secret service; when that fails, into the file (with one log line). A successful
    // keychain write removes an older file copy so the token lives in one place only. Fails only
    // when neither place took the token (said in one log line too).
    QCoro::Task<WriteResult> write(QString token);
    // Removes the token from both places.
    QCoro::Task<> remove();

    QString filePath() const { return m_filePath; }

signals:
    void turnFinished();

private:
    struct KeychainResult {
        bool ok = false;
        QString errorText;
        QString password;
    };
    enum class Operation { read, write, remove };

    QCoro::Task<KeychainResult> runKeychainJob(Operation operation, QString token);
    QCoro::Task<> waitForTurn(quint64 ticket);
    void finishTurn();

    std::optional<QString> readFile() const;
    WriteResult writeFile(const QString& token) const;
    void removeFile() const;

    const Backend m_backend;
    const QString m_filePath;
    quint64 m_nextTicket = 0;
    quint64 m_serving = 0;
};

} // namespace quiro
