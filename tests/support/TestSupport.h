#pragma once

#include "core/Log.h"

#include <QByteArray>
#include <QStringList>
#include <QTemporaryDir>

namespace quiro::test {

// Points HOME and XDG_CONFIG_HOME at a fresh temporary folder for the lifetime of the object,
// so ~/.quiroai and the preferences of a test never touch the real ones.
class TempHome {
public:
    TempHome();
    ~TempHome();
    TempHome(const TempHome&) = delete;
    TempHome& operator=(const TempHome&) = delete;

    QString path() const { return m_dir.path(); }
    QString file(const QString& relative) const { return m_dir.filePath(relative); }

private:
    QTemporaryDir m_dir;
    QByteArray m_oldHome;
    QByteArray m_oldConfig;
};

// Collects the log lines printed while it lives.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    QStringList lines() const;

private:
    struct State;
    State* m_state;
};

// Writes bytes to a file, creating parent folders; fails the test on error.
void writeFile(const QString& path, const QByteArray& bytes);
QByteArray readFile(const QString& path);

} // namespace quiro::test
