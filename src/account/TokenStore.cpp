#include "account/TokenStore.h"

#include "core/AtomicFile.h"
#include "core/Log.h"
#include "core/Paths.h"

#include <QFile>
#include <QFileInfo>
#include <QPointer>

#include <qcoro/qcorosignal.h>
#include <qt6keychain/keychain.h>

#include <chrono>

namespace quiro {

TokenStore::TokenStore(Backend backend, QObject* parent)
    : TokenStore(backend, Paths::tokenFile(), parent)
{
}

TokenStore::TokenStore(Backend backend, QString filePath, QObject* parent)
    : QObject(parent)
    , m_backend(backend)
    , m_filePath(std::move(filePath))
{
}

QCoro::Task<> TokenStore::waitForTurn(quint64 ticket)
{
    QPointer<TokenStore> self(this);
    while (self && m_serving != ticket)
        co_await qCoro(this, &TokenStore::turnFinished);
}

void TokenStore::finishTurn()
{
    ++m_serving;
    emit turnFinished();
}

QCoro::Task<std::optional<QString>> TokenStore::read()
{
    QPointer<TokenStore> self(this);
    const quint64 ticket = m_nextTicket++;
    co_await waitForTurn(ticket);
    if (!self)
        co_return std::nullopt;
    std::optional<QString> token;
    if (m_backend == Backend::keychainThenFile) {
        const KeychainResult result = co_await runKeychainJob(Operation::read, {});
        if (!self)
            co_return std::nullopt;
        if (result.ok)
            token = result.password;
    }
    if (!token)
        token = readFile();
    finishTurn();
    co_return token;
}

QCoro::Task<WriteResult> TokenStore::write(QString token)
{
    QPointer<TokenStore> self(this);
    const quint64 ticket = m_nextTicket++;
    co_await waitForTurn(ticket);
    if (!self)
        co_return WriteResult::failure(QStringLiteral("the token store was closed"));
    bool inKeychain = false;
    QString keychainError = QStringLiteral("secret service not used");
    if (m_backend == Backend::keychainThenFile) {
        const KeychainResult result = co_await runKeychainJob(Operation::write, token);
        if (!self)
            co_return WriteResult::failure(QStringLiteral("the token store was closed"));
        inKeychain = result.ok;
        keychainError = result.errorText;
    }
    WriteResult written = WriteResult::success();
    if (inKeychain) {
        removeFile();
    } else if ((written = writeFile(token))) {
        if (m_backend == Backend::keychainThenFile)
            Log::line(QStringLiteral("Auth"),
                      QStringLiteral("Secret service unavailable (%1) — token kept in %2 (0600)")
                          .arg(keychainError, m_filePath));
    } else {
        Log::line(QStringLiteral("Auth"),
                  QStringLiteral("Cannot store the token in %1: %2").arg(m_filePath, written.reason()));
    }
    finishTurn();
    co_return written;
}

QCoro::Task<> TokenStore::remove()
{
    QPointer<TokenStore> self(this);
    const quint64 ticket = m_nextTicket++;
    co_await waitForTurn(ticket);
    if (!self)
        co_return;
    if (m_backend == Backend::keychainThenFile) {
        co_await runKeychainJob(Operation::remove, {});
        if (!self)
            co_return;
    }
    removeFile();
    finishTurn();
}

QCoro::Task<TokenStore::KeychainResult> TokenStore::runKeychainJob(Operation operation, QString token)
{
    QPointer<TokenStore> self(this);
    QKeychain::Job* job = nullptr;
    switch (operation) {
    case Operation::read:
        job = new QKeychain::ReadPasswordJob(keychainService, this);
        break;
    case Operation::write: {
        auto* writeJob = new QKeychain::WritePasswordJob(keychainService, this);
        writeJob->setTextData(token);
        job = writeJob;
        break;
    }
    case Operation::remove:
        job = new QKeychain::DeletePasswordJob(keychainService, this);
        break;
    }
    // The item is known by its service alone; qtkeychain wants a key, so it is the service again.
    job->setKey(keychainService);
    job->setAutoDelete(false);
    job->setInsecureFallback(false);
    // Listen before starting: a job without a backend may finish inside start().
    auto finished = qCoro(job, &QKeychain::Job::finished, std::chrono::milliseconds(keychainTimeoutMs));
    job->start();
    const auto outcome = co_await finished;
    if (!self)
        co_return KeychainResult{false, QStringLiteral("store gone"), {}};
    if (!outcome) {
        // Still running: let it finish on its own, then go.
        connect(job, &QKeychain::Job::finished, job, &QObject::deleteLater);
        co_return KeychainResult{false, QStringLiteral("no answer from the secret service"), {}};
    }
    KeychainResult result;
    result.ok = job->error() == QKeychain::NoError;
    result.errorText = QStringLiteral("%1, error %2").arg(job->errorString()).arg(int(job->error()));
    if (result.ok && operation == Operation::read)
        result.password = static_cast<QKeychain::ReadPasswordJob*>(job)->textData();
    job->deleteLater();
    co_return result;
}

std::optional<QString> TokenStore::readFile() const
{
    QFile file(m_filePath);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.readAll();
    if (bytes.isEmpty())
        return std::nullopt;
    return QString::fromUtf8(bytes);
}

WriteResult TokenStore::writeFile(const QString& token) const
{
    const QString dir = QFileInfo(m_filePath).absolutePath();
    if (!Paths::ensurePrivateDir(dir))
        return WriteResult::failure(QStringLiteral("cannot create the folder %1").arg(dir));
    return AtomicFile::write(m_filePath, token.toUtf8());
}

void TokenStore::removeFile() const
{
    if (QFile::exists(m_filePath))
        QFile::remove(m_filePath);
}

} // namespace quiro
