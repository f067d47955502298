#include "core/AtomicFile.h"
#include "service/http/ServiceOptions.h"
#include "service/http/TlsCertificate.h"
#include "support/TestSupport.h"

#include <QDateTime>
#include <QFileInfo>
#include <QSslCertificateExtension>
#include <QTemporaryDir>
#include <QTest>

using namespace quiro;
using namespace quiro::service;

class TestHttp : public QObject {
    Q_OBJECT

private slots:
    void options_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port");
        QTest::addColumn<bool>("tls");
        const int run = int(ServiceOptions::Outcome::Run);
        const int help = int(ServiceOptions::Outcome::Help);
        const int wrong = int(ServiceOptions::Outcome::WrongUsage);
        QTest::newRow("defaults") << QStringList{} << run << "127.0.0.1" << 8443 << true;
        QTest::newRow("all options") << QStringList{"--host", "::1", "--port", "9000", "--no-tls", "--data-dir", "/x"}
                                     << run << "::1" << 9000 << false;
        QTest::newRow("equals form") << QStringList{"--port=0"} << run << "127.0.0.1" << 0 << true;
        QTest::newRow("help") << QStringList{"--help"} << help << "" << 0 << true;
        QTest::newRow("port too large") << QStringList{"--port", "65536"} << wrong << "" << 0 << true;
        QTest::newRow("missing value") << QStringList{"--port"} << wrong << "" << 0 << true;
    }
    void options()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, outcome);
        QFETCH(QString, host);
        QFETCH(int, port);
        QFETCH(bool, tls);
        ServiceOptions options;
        const auto parsed = options.parse(QStringList{"quiro-service"} + arguments, {"en"});
        QCOMPARE(int(parsed.outcome), outcome);
        if (outcome == int(ServiceOptions::Outcome::Run)) {
            QCOMPARE(options.host, host);
            QCOMPARE(int(options.port), port);
            QCOMPARE(options.tls, tls);
            QVERIFY(!options.dataDir.isEmpty());
        } else {
            QVERIFY(!parsed.message.isEmpty());
        }
    }

    void limitOptions_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("requestTimeoutMs"); // -1: refused as wrong usage
        QTest::addColumn<int>("maxStreams");
        QTest::newRow("defaults") << QStringList{} << 10'000 << 0;
        QTest::newRow("seconds with decimals")
            << QStringList{"--request-timeout", "0.25", "--max-streams", "3"} << 250 << 3;
        QTest::newRow("no deadline at all") << QStringList{"--idle-timeout", "0"} << -1 << 0;
        QTest::newRow("a day") << QStringList{"--stt-silence-timeout", "86400"} << -1 << 0;
        QTest::newRow("a fraction of a stream") << QStringList{"--max-streams", "1.5"} << -1 << 0;
    }
    void limitOptions()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, requestTimeoutMs);
        QFETCH(int, maxStreams);
        ServiceOptions options;
        const auto parsed = options.parse(QStringList{"quiro-service"} + arguments, {"en"});
        if (requestTimeoutMs < 0) {
            QCOMPARE(int(parsed.outcome), int(ServiceOptions::Outcome::WrongUsage));
            QVERIFY2(parsed.message.startsWith(arguments.first()), qPrintable(parsed.message));
            return;
        }
        QCOMPARE(int(parsed.outcome), int(ServiceOptions::Outcome::Run));
        QCOMPARE(options.limits.requestTimeoutMs, requestTimeoutMs);
        QCOMPARE(options.limits.maxStreams, maxStreams);
        QVERIFY(options.limits.streams() >= 1);
    }

    void helpNamesLanguagesAndFormat()
    {
        const QString help = ServiceOptions::helpText({"en"});
        QVERIFY(help.contains("Languages with a model on this machine: en."));
        QVERIFY(ServiceOptions::helpText({}).contains("none (install pocketsphinx-en-us)"));
    }

    void defaultDataFolder()
    {
        test::TempHome home;
        ServiceOptions options;
        options.parse({"quiro-service"}, {});
        QCOMPARE(options.dataDir, home.path() + "/.quiroai/service");
    }

    void certificateForLoopback()
    {
        QString error;
        const auto pem = TlsCertificate::generate(30, &error);
        QVERIFY2(pem, qPrintable(error));
        const auto certificate = QSslCertificate::fromData(pem->certificate, QSsl::Pem).value(0);
        QVERIFY(!certificate.isNull());
        // Signed by its own key (Qt's isSelfSigned() also asks for the right to sign certificates,
        // which a CA:FALSE certificate rightly lacks).
        QCOMPARE(certificate.issuerDisplayName(), certificate.subjectDisplayName());
        const auto names = certificate.subjectAlternativeNames();
        QCOMPARE(names.values(QSsl::DnsEntry), QStringList{"localhost"});
        QVERIFY(names.values(QSsl::IpAddressEntry).contains("127.0.0.1"));
        QVERIFY(certificate.effectiveDate() <= QDateTime::currentDateTimeUtc());
        QVERIFY(certificate.expiryDate() > QDateTime::currentDateTimeUtc().addDays(29));
        QVERIFY(certificate.expiryDate() < QDateTime::currentDateTimeUtc().addDays(31));
        bool sawBasicConstraints = false;
        for (const QSslCertificateExtension& extension : certificate.extensions()) {
            if (extension.name() == QLatin1String("basicConstraints")) {
                sawBasicConstraints = true;
                QVERIFY(extension.isCritical());
                QCOMPARE(extension.value().toMap().value("ca").toBool(), false);
            }
        }
        QVERIFY(sawBasicConstraints);
        QVERIFY(!QSslKey(pem->privateKey, QSsl::Ec, QSsl::Pem, QSsl::PrivateKey).isNull());
    }

    void identityIsKeptAndRepaired()
    {
        QTemporaryDir dir;
        QString error;
        const auto first = TlsCertificate::loadOrCreate(dir.path(), &error);
        QVERIFY2(first, qPrintable(error));
        for (const char* name : {"/cert.pem", "/key.pem"})
            QCOMPARE(QFileInfo(dir.path() + QLatin1String(name)).permissions() & 0x0077, QFileDevice::Permissions());

        const auto again = TlsCertificate::loadOrCreate(dir.path(), &error);
        QVERIFY(again);
        QCOMPARE(again->certificate, first->certificate);

        // A key that does not belong to the certificate (a half-finished copy, say) is replaced
        // together with the certificate.
        const auto stranger = TlsCertificate::generate(30, &error);
        QVERIFY(AtomicFile::write(dir.path() + "/key.pem", stranger->privateKey));
        const auto repaired = TlsCertificate::loadOrCreate(dir.path(), &error);
        QVERIFY(repaired);
        QVERIFY(repaired->certificate != first->certificate);
        // The new pair matches: loading it once more keeps it.
        QCOMPARE(TlsCertificate::loadOrCreate(dir.path(), &error)->certificate, repaired->certificate);

        // An expired certificate is replaced too.
        const auto expired = TlsCertificate::generate(-2, &error);
        QVERIFY(expired);
        QVERIFY(AtomicFile::write(dir.path() + "/key.pem", expired->privateKey));
        QVERIFY(AtomicFile::write(dir.path() + "/cert.pem", expired->certificate));
        const auto renewed = TlsCertificate::loadOrCreate(dir.path(), &error);
        QVERIFY(renewed);
        QVERIFY(renewed->certificate.expiryDate() > QDateTime::currentDateTimeUtc().addDays(800));
    }
};

QTEST_GUILESS_MAIN(TestHttp)
#include "tst_http.moc"
