#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
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

} // namespace quiro::test
