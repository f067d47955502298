#include "support/PrivateSoundServer.h"

#include <QProcessEnvironment>
#include <QTest>

#include <csignal>
#include <sys/prctl.h>

namespace quiro::test {

PrivateSoundServer::PrivateSoundServer(const QString& folder, const QStringList& modules)
    : m_oldServer(qgetenv("PULSE_SERVER"))
{
    const QString socket = folder + QStringLiteral("/native");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), folder);
    env.insert(QStringLiteral("PULSE_RUNTIME_PATH"), folder);
    env.insert(QStringLiteral("PULSE_STATE_PATH"), folder);
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("disabled:"));
    m_server.setProcessEnvironment(env);
    m_server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // A test that crashes runs no destructor: the server must not outlive it (it would also keep
    // the test's output open, and whoever reads it waiting).
    m_server.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    // -n: no default.pa, so the modules given are the whole configuration. A socket left behind by
    // a killed server is found stale and replaced.
    m_arguments = QStringList{QStringLiteral("-n"),
                              QStringLiteral("--daemonize=no"),
                              QStringLiteral("--system=no"),
                              QStringLiteral("--exit-idle-time=-1"),
                              QStringLiteral("--use-pid-file=no"),
                              QStringLiteral("--realtime=no"),
                              QStringLiteral("--log-level=error"),
                              QStringLiteral("-L"),
                              QStringLiteral("module-native-protocol-unix auth-anonymous=1 socket=") + socket};
    for (const QString& module : modules)
        m_arguments << QStringLiteral("-L") << module;
    qputenv("PULSE_SERVER", "unix:" + socket.toUtf8());
    start();
}

PrivateSoundServer::~PrivateSoundServer()
{
    qputenv("PULSE_SERVER", m_oldServer);
    m_server.terminate();
    m_server.waitForFinished(5000);
}

bool PrivateSoundServer::start()
{
    m_server.start(QStringLiteral("pulseaudio"), m_arguments);
    for (int tries = 0; tries < 100; ++tries) {
        if (answers())
            return true;
        QTest::qWait(100);
    }
    return false;
}

void PrivateSoundServer::kill()
{
    m_server.kill();
    m_server.waitForFinished(5000);
}

bool PrivateSoundServer::answers()
{
    return pactl({QStringLiteral("info")}).has_value();
}

std::optional<QString> PrivateSoundServer::pactl(const QStringList& arguments)
{
    QProcess process;
    process.start(QStringLiteral("pactl"), arguments);
    if (!process.waitForFinished(5000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return std::nullopt;
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

} // namespace quiro::test
