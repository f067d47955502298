#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QMutex>
#include <QProcess>
#include <QSettings>
#include <QTest>

namespace quiro::test {

TempHome::TempHome()
    : m_oldHome(qgetenv("HOME"))
    , m_oldConfig(qgetenv("XDG_CONFIG_HOME"))
{
    QVERIFY2(m_dir.isValid(), "cannot create a temporary home folder");
    qputenv("HOME", m_dir.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", (m_dir.path() + QStringLiteral("/.config")).toUtf8());
    // QSettings keeps the configuration folder it saw first in the process; point it here too.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir.path() + QStringLiteral("/.config"));
}

TempHome::~TempHome()
{
    qputenv("HOME", m_oldHome);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       m_oldConfig.isEmpty() ? QString::fromUtf8(m_oldHome) + QStringLiteral("/.config")
                                             : QString::fromUtf8(m_oldConfig));
    if (m_oldConfig.isEmpty())
        qunsetenv("XDG_CONFIG_HOME");
    else
        qputenv("XDG_CONFIG_HOME", m_oldConfig);
}

struct LogCapture::State {
    mutable QMutex mutex;
    QStringList lines;
};

LogCapture::LogCapture()
    : m_state(new State)
{
    Log::setSink([state = m_state](const QString& line) {
        const QMutexLocker lock(&state->mutex);
        state->lines.append(line);
    });
}

LogCapture::~LogCapture()
{
    Log::setSink({});
    delete m_state;
}

QStringList LogCapture::lines() const
{
    const QMutexLocker lock(&m_state->mutex);
    return m_state->lines;
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        QFAIL(qPrintable(QStringLiteral("cannot write ") + path));
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

QByteArray json(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QFileDevice::Permissions modeBits(const QString& path)
{
    return QFileInfo(path).permissions() & ~(QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser);
}

bool makeCertificate(const QString& folder)
{
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  QStringLiteral("req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=localhost -addext "
                                 "subjectAltName=DNS:localhost,IP:127.0.0.1 -addext basicConstraints=critical,CA:FALSE")
                          .split(QLatin1Char(' ')) +
                      QStringList{QStringLiteral("-keyout"), folder + QStringLiteral("/key.pem"),
                                  QStringLiteral("-out"), folder + QStringLiteral("/cert.pem")});
    return openssl.waitForFinished(30'000) && openssl.exitCode() == 0;
}

ProgramRun runProgram(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment,
                      const QByteArray& input, int timeoutMs)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    ProgramRun run;
    if (!process.waitForStarted(10'000))
        return run;
    process.write(input);
    process.closeWriteChannel();
    const bool finished = QTest::qWaitFor([&process] { return process.state() == QProcess::NotRunning; }, timeoutMs);
    if (!finished || process.exitStatus() != QProcess::NormalExit) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.exitCode = process.exitCode();
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

} // namespace quiro::test
