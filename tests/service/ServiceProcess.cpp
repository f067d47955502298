#include "ServiceProcess.h"
#include "support/TestSupport.h"

#include <QDeadlineTimer>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtEndian>

#include <sys/resource.h>

#include <cstdlib>

ServiceProcess::ServiceProcess(QString binary, QString dataDir, Tls tls, QStringList extraArguments)
    : m_binary(std::move(binary))
    , m_dataDir(std::move(dataDir))
    , m_tls(tls)
    , m_extraArguments(std::move(extraArguments))
{
    m_process.setProcessChannelMode(QProcess::MergedChannels);
}

ServiceProcess::~ServiceProcess()
{
    stop();
}

bool ServiceProcess::start(QString* error, int timeoutMs)
{
    QStringList arguments{QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--data-dir"), m_dataDir};
    if (m_tls == Tls::off)
        arguments << QStringLiteral("--no-tls");
    arguments << m_extraArguments;
    const rlim_t descriptors = rlim_t(m_descriptorLimit);
    m_process.setChildProcessModifier([descriptors] {
        const rlimit limit{descriptors, descriptors};
        if (descriptors > 0)
            ::setrlimit(RLIMIT_NOFILE, &limit);
    });
    m_process.start(m_binary, arguments);
    if (!m_process.waitForStarted(10'000)) {
        *error = QStringLiteral("cannot start %1: %2").arg(m_binary, m_process.errorString());
        return false;
    }
    static const QRegularExpression listening(QStringLiteral("listening on \\w+://[^:]+:(\\d+)"));
    const QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        m_process.waitForReadyRead(100);
        m_output += m_process.readAll();
        const auto match = listening.match(QString::fromUtf8(m_output));
        if (match.hasMatch()) {
            m_port = quint16(match.captured(1).toUInt());
            return true;
        }
        if (m_process.state() == QProcess::NotRunning) {
            *error = QStringLiteral("quiro-service exited: ") + QString::fromUtf8(m_output);
            return false;
        }
    }
    *error = QStringLiteral("quiro-service did not start listening: ") + QString::fromUtf8(m_output);
    return false;
}

void ServiceProcess::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate(); // SIGTERM to this process only
    if (!m_process.waitForFinished(10'000)) {
        m_process.kill();
        m_process.waitForFinished(5'000);
    }
    m_output += m_process.readAll();
}

QString ServiceProcess::apiBase() const
{
    return (m_tls == Tls::on ? QStringLiteral("https://localhost:%1") : QStringLiteral("http://127.0.0.1:%1"))
        .arg(m_port);
}

QString ServiceProcess::output()
{
    m_output += m_process.readAll();
    return QString::fromUtf8(m_output);
}

QByteArray synthesizeSpeech(const QString& text, QString* error)
{
    QTemporaryDir dir;
    const QString wav = dir.filePath(QStringLiteral("speech.wav"));
    QProcess flite;
    flite.start(QStringLiteral("flite"), {QStringLiteral("-voice"), QStringLiteral("kal16"), QStringLiteral("-t"), text,
                                          QStringLiteral("-o"), wav});
    flite.waitForFinished(30'000);
    // kal16 speaks 16 kHz mono s16le: the samples follow the 8-byte head of the "data" chunk.
    const QByteArray bytes = quiro::test::readFile(wav);
    const qsizetype data = bytes.indexOf("data", 12);
    if (data < 0) {
        *error = QStringLiteral("flite made no speech (scripts/bootstrap installs it): ") +
                 QString::fromUtf8(flite.readAllStandardError());
        return {};
    }
    return bytes.mid(data + 8, qFromLittleEndian<quint32>(bytes.constData() + data + 4));
}

qsizetype lastAudibleByte(const QByteArray& speech)
{
    qsizetype last = 0;
    for (qsizetype at = 0; at + 1 < speech.size(); at += 2) {
        if (std::abs(qFromLittleEndian<qint16>(speech.constData() + at)) >= 328)
            last = at;
    }
    return last;
}
