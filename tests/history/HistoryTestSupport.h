#pragma once

#include "core/Preferences.h"
#include "support/TestSupport.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QThread>

namespace quiro::test {

// A temporary home whose preferences hold no account.
struct HistoryHome {
    TempHome home;
    HistoryHome() { Preferences::clearAccount(); }
};

// Session order follows the files' birth times, which no call can set: (re)writes `path` until
// its birth time is later than `after`, and returns it (invalid when the filesystem reports none).
inline QDateTime writeBornAfter(const QString& path, const QByteArray& bytes, const QDateTime& after = {})
{
    for (int attempt = 0; attempt < 1000; ++attempt) {
        QFile::remove(path);
        writeFile(path, bytes);
        const QDateTime born = QFileInfo(path).birthTime();
        if (!born.isValid() || !after.isValid() || born > after)
            return born;
        QThread::msleep(1);
    }
    qFatal("the filesystem's clock does not advance");
}

// Returns once a file created in the folder of `path` gets a later birth time than it has.
inline void waitPastBirthOf(const QString& path)
{
    const QString probe = QFileInfo(path).absolutePath() + "/.probe";
    writeBornAfter(probe, "x", QFileInfo(path).birthTime());
    QFile::remove(probe);
}

} // namespace quiro::test
