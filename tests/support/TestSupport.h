#pragma once

#include "core/Log.h"

#include <QByteArray>
#include <QFileDevice>
#include <QJsonObject>
#include <QProcessEnvironment>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

namespace quiro::test {

// Whether this runs on scripts/test-desktop, with its display and sound server.
inline bool onTestDesktop()
{
    return qEnvironmentVariableIsSet("QUIRO_TEST_DESKTOP") && qEnvironmentVariableIsSet("DISPLAY") &&
           qEnvironmentVariableIsSet("PULSE_SERVER");
}
// Skips the test away from it.
#define QUIRO_REQUIRE_TEST_DESKTOP()                                                                                   \
    if (!quiro::test::onTestDesktop())                                                                                 \
    QSKIP("needs scripts/test-desktop (run: scripts/test-desktop ctest -L 'audio|desktop')")

// main() of a widget test drawn off screen (QT_QPA_PLATFORM=offscreen), where no display or window
// manager changes what it shows; on scripts/test-desktop's display instead while `onTheDesktop`.
#define QUIRO_OFFSCREEN_TEST_MAIN(TestClass, onTheDesktop)                                                             \
    int main(int argc, char** argv)                                                                                    \
    {                                                                                                                  \
        if (!(onTheDesktop))                                                                                           \
            qputenv("QT_QPA_PLATFORM", "offscreen");                                                                   \
        QApplication app(argc, argv);                                                                                  \
        TestClass test;                                                                                                \
        return QTest::qExec(&test, argc, argv);                                                                        \
    }

// One row of a data-driven test, its values in column order.
template <typename... Values> void row(const char* name, const Values&... values)
{
    (QTest::newRow(name) << ... << values);
}

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

// The compact JSON text of an object, as the app sends it.
QByteArray json(const QJsonObject& object);

// The owner, group and other bits of a file's mode (Qt also reports the owner's bits as "user" bits).
QFileDevice::Permissions modeBits(const QString& path);
inline constexpr QFileDevice::Permissions privateFile = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
inline constexpr QFileDevice::Permissions privateDir = privateFile | QFileDevice::ExeOwner;

// A self-signed certificate for localhost and 127.0.0.1 that is no CA, like the one the local
// service makes: cert.pem and key.pem in `folder`, by the openssl tool. False when that fails.
bool makeCertificate(const QString& folder);

// What a program printed and how it ended; exitCode is -1 when it crashed or did not finish.
struct ProgramRun {
    int exitCode = -1;
    QString out;
    QString err;
};

// Runs a program with `input` on its standard input, while this thread's event loop keeps running
// (the test's loopback servers answer from it).
ProgramRun runProgram(const QString& program, const QStringList& arguments,
                      const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment(),
                      const QByteArray& input = {}, int timeoutMs = 30'000);

} // namespace quiro::test
