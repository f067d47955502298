#include "support/PrivateSoundServer.h"

#include <QProcessEnvironment>
#include <QTest>

namespace quiro::test {

PrivateSoundServer::PrivateSoundServer(const QString& folder, QStringList modules)
    : m_folder(folder)
    , m_modules(std::move(modules))
    , m_oldServer(qgetenv("PULSE_SERVER"))
{
    // HOME and the state folder keep the server from reading or writing the user's settings;
    // without D-Bus it cannot start a session bus that nobody would stop.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), m_folder);
    env.insert(QStringLiteral("PULSE_RUNTIME_PATH"), m_folder);
    env.insert(QStringLiteral("PULSE_STATE_PATH"), m_folder);
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("disabled:"));
    m_server.setProcessEnvironment(env);
    m_server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    qputenv("PULSE_SERVER", "unix:" + m_folder.toUtf8() + "/native");
}

PrivateSoundServer::~PrivateSoundServer()
{
    qputenv("PULSE_SERVER", m_oldServer);
    m_server.terminate();
    m_server.waitForFinished(5000);
}

bool PrivateSoundServer::start()
{
    // -n: no default.pa, so the modules given are the whole configuration. A socket left behind by
    // a killed server is found stale and replaced.
    QStringList arguments{
        QStringLiteral("-n"),
        QStringLiteral("--daemonize=no"),
        QStringLiteral("--system=no"),
        QStringLiteral("--exit-idle-time=-1"),
        QStringLiteral("--use-pid-file=no"),
        QStringLiteral("--realtime=no"),
        QStringLiteral("--log-level=error"),
        QStringLiteral("-L"),
        QStringLiteral("module-native-protocol-unix auth-anonymous=1 socket=%1/native").arg(m_folder)};
    for (const QString& module : m_modules)
        arguments << QStringLiteral("-L") << module;
    m_server.start(QStringLiteral("pulseaudio"), arguments);
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
    QProcess pactl;
    pactl.start(QStringLiteral("pactl"), {QStringLiteral("info")});
    return pactl.waitForFinished(2000) && pactl.exitStatus() == QProcess::NormalExit && pactl.exitCode() == 0;
}

} // namespace quiro::test
