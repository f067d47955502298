#include "app/desktop/LocalService.h"

#include "core/ExternalService.h"
#include "core/Log.h"
#include "core/Paths.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QTcpSocket>
#include <QTimer>

#include <qcoro/qcoroabstractsocket.h>
#include <qcoro/qcorotimer.h>

#ifndef QUIRO_SERVICE_BUILD_BINARY
#error "QUIRO_SERVICE_BUILD_BINARY must name quiro-service in the build tree"
#endif

namespace quiro {

namespace {
const QString tag = QStringLiteral("Service");
} // namespace

LocalService::LocalService(Config config, QObject* parent)
    : QObject(parent)
    , m_config(std::move(config))
{
}

LocalService::~LocalService()
{
    if (m_child.state() == QProcess::NotRunning)
        return;
    m_child.terminate(); // the service closes its database and streams on SIGTERM
    if (!m_child.waitForFinished(5000)) {
        m_child.kill();
        m_child.waitForFinished(2000);
    }
    Log::line(tag, QStringLiteral("Stopped the local service"));
}

std::optional<QString> LocalService::binary()
{
    const QString beside = QCoreApplication::applicationDirPath() + QStringLiteral("/quiro-service");
    for (const QString& candidate : {beside, QStringLiteral(QUIRO_SERVICE_BUILD_BINARY)}) {
        if (QFileInfo(candidate).isExecutable())
            return candidate;
    }
    return std::nullopt;
}

QCoro::Task<bool> LocalService::answers(quint16 port) const
{
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    co_return co_await qCoro(socket).waitForConnected(std::chrono::milliseconds(300));
}

QCoro::Task<LocalService::Outcome> LocalService::ensureRunning()
{
    const std::optional<QUrl> url = m_config.apiURL();
    if (!url || !ExternalService::isLoopbackHost(url->host()))
        co_return Outcome::notLocal;
    const bool tls = url->scheme() == QLatin1String("https");
    const quint16 port = quint16(url->port(tls ? 443 : 80));
    if (co_await answers(port))
        co_return Outcome::alreadyRunning;

    const std::optional<QString> program = binary();
    if (!program) {
        m_problem = QStringLiteral("nothing answers at %1 and quiro-service is not installed beside Quiro")
                        .arg(m_config.apiBase);
        co_return Outcome::failed;
    }
    const QString logFolder = Paths::serviceDir();
    Paths::ensurePrivateDir(logFolder);
    QFile log(logFolder + QStringLiteral("/service.log"));
    if (log.open(QIODevice::Append))
        log.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    m_child.setStandardOutputFile(log.fileName(), QIODevice::Append);
    m_child.setStandardErrorFile(log.fileName(), QIODevice::Append);
    QStringList arguments{QStringLiteral("--port"), QString::number(port)};
    if (!tls)
        arguments.append(QStringLiteral("--no-tls"));
    Log::line(tag, QStringLiteral("Starting the local service on port %1 (log: %2)").arg(port).arg(log.fileName()));
    m_child.start(*program, arguments);

    const QDeadlineTimer deadline(startTimeoutMs);
    while (!deadline.hasExpired()) {
        if (m_child.state() == QProcess::NotRunning) {
            m_problem = QStringLiteral("quiro-service exited at once (code %1); its log is %2")
                            .arg(m_child.exitCode())
                            .arg(log.fileName());
            co_return Outcome::failed;
        }
        if (co_await answers(port))
            co_return Outcome::started;
        co_await QCoro::sleepFor(std::chrono::milliseconds(100));
    }
    m_problem = QStringLiteral("quiro-service did not answer within %1 s; its log is %2")
                    .arg(startTimeoutMs / 1000)
                    .arg(log.fileName());
    co_return Outcome::failed;
}

} // namespace quiro
