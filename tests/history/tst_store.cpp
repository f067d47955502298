#include "core/Paths.h"
#include "core/Preferences.h"
#include "history/ConversationStore.h"
#include "support/TestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <unistd.h>

using namespace quiro;

namespace {

constexpr double referenceDate = 978'307'200.0;
constexpr auto privateFile = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
constexpr auto privateDir = privateFile | QFileDevice::ExeOwner;
constexpr auto everyoneMayRun =
    privateDir | QFileDevice::ReadGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::ExeOther;

QFileDevice::Permissions modeBits(const QString& path)
{
    // Qt reports the owner's bits twice (ReadUser and ReadOwner); compare the real mode bits only.
    return QFileInfo(path).permissions() & ~(QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser);
}

SessionRecord record(double startedAt, qint64 hintCount = 1)
{
    SessionRecord r;
    r.startedAt = startedAt;
    r.endedAt = startedAt + 90.0;
    r.turns = {{TurnRecord::managerTag, QStringLiteral("hello"), startedAt + 1.5}};
    r.hintCount = hintCount;
    r.score = 70;
    return r;
}

QByteArray fileFor(const SessionRecord& r)
{
    return r.encode().value();
}

QStringList jsonFiles(const QString& dir)
{
    return QDir(dir).entryList({QStringLiteral("*.json")}, QDir::Files | QDir::Hidden, QDir::Name);
}

// Session order follows the files' creation (birth) times, which no call can set: create the
// files one after another and wait for the filesystem's clock to move on between two of them,
// recreating a file until its birth time is strictly later than the previous one's.
void createInOrder(const QList<QPair<QString, QByteArray>>& files)
{
    QDateTime previous;
    for (const auto& [path, bytes] : files) {
        for (int attempt = 0;; ++attempt) {
            QFile::remove(path);
            test::writeFile(path, bytes);
            const QDateTime born = QFileInfo(path).birthTime();
            QVERIFY2(born.isValid(), "the filesystem reports no birth times");
            if (!previous.isValid() || born > previous) {
                previous = born;
                break;
            }
            QVERIFY2(attempt < 1000, "the filesystem's clock does not advance");
            QThread::msleep(1);
        }
    }
}

// Returns once a file created now gets a later birth time than `after`.
void waitForBirthTimeAfter(const QString& dir, const QDateTime& after)
{
    const QString probe = dir + QStringLiteral("/.probe");
    for (int attempt = 0;; ++attempt) {
        test::writeFile(probe, "x");
        const QDateTime born = QFileInfo(probe).birthTime();
        QFile::remove(probe);
        if (born > after)
            return;
        QVERIFY2(attempt < 1000, "the filesystem's clock does not advance");
        QThread::msleep(1);
    }
}

bool birthTimesAvailable(const QString& dir)
{
    const QString probe = dir + QStringLiteral("/.probe");
    test::writeFile(probe, "x");
    const bool available = QFileInfo(probe).birthTime().isValid();
    QFile::remove(probe);
    return available;
}

} // namespace

class TestStore : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void accountFolder_data();
    void accountFolder();
    void fileName_data();
    void fileName();
    void saveWritesPrivateFileAndReplacesIt();
    void saveKeepsStoredFileWhenRecordCannotBeEncoded();
    void handWrittenFileReadsBack();
    void missingFolderGivesEmptyList();
    void orderIsCreationTimeNotStartOrModification();
    void limitIsAppliedBeforeDecoding();
    void strayEntriesAreIgnored_data();
    void strayEntriesAreIgnored();

    void checkpointStaleness_data();
    void checkpointStaleness();
    void checkpointWithoutSavedAtIsKept();
    void noCheckpointCreatesOnlyAppFolder();
    void checkpointPerAccountAndClear();

    void unwritableFoldersLoseNothing();

private:
    std::unique_ptr<test::TempHome> m_home;
};

void TestStore::init()
{
    m_home = std::make_unique<test::TempHome>();
    // QSettings remembers the configuration folder of the first use in a process; point it at
    // this test's home so the account preference lands where the store (and quiro) read it.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_home->file(QStringLiteral(".config")));
    Preferences::clearAccount();
}

void TestStore::cleanup()
{
    m_home.reset();
}

void TestStore::accountFolder_data()
{
    QTest::addColumn<QString>("email"); // empty: no stored address
    QTest::addColumn<QString>("folder");
    QTest::newRow("no account") << QString() << QStringLiteral("local");
    QTest::newRow("one dot before, two after the at sign")
        << QStringLiteral("jane.doe@mail.example.com") << QStringLiteral("jane_doe_mail_example_com");
    QTest::newRow("slashes cannot nest folders") << QStringLiteral("a/b@c.d") << QStringLiteral("a_b_c_d");
    QTest::newRow("dots cannot name a parent") << QStringLiteral("..") << QStringLiteral("__");
    QTest::newRow("hyphen and plus stay") << QStringLiteral("j-d+x@e.io") << QStringLiteral("j-d+x_e_io");
}

void TestStore::accountFolder()
{
    QFETCH(QString, email);
    QFETCH(QString, folder);
    if (!email.isEmpty())
        Preferences::setAccount(email, QStringLiteral("Jane"));
    const ConversationStore store;
    QCOMPARE(ConversationStore::accountName(), folder);
    QCOMPARE(store.sessionsDir(), Paths::home() + QStringLiteral("/.quiroai/sessions/") + folder);
    QCOMPARE(store.checkpointPath(), Paths::home() + QStringLiteral("/.quiroai/checkpoint_") + folder + ".json");
    QVERIFY(QFileInfo(store.sessionsDir()).isDir());
    QCOMPARE(modeBits(store.sessionsDir()), privateDir);
    QCOMPARE(modeBits(Paths::sessionsRoot()), privateDir);

    store.save(record(1'800'000'000.0));
    QCOMPARE(jsonFiles(store.sessionsDir()).size(), 1);
}

void TestStore::fileName_data()
{
    QTest::addColumn<double>("startedAt");
    QTest::addColumn<QString>("name"); // empty: no name
    const double start = QDateTime::fromString(QStringLiteral("2026-12-05T03:48:56Z"), Qt::ISODate).toSecsSinceEpoch();
    QTest::newRow("whole second") << start << QStringLiteral("session-2026-12-05T03-48-56Z.json");
    QTest::newRow("fraction is dropped") << start + 0.999 << QStringLiteral("session-2026-12-05T03-48-56Z.json");
    QTest::newRow("reference date") << referenceDate << QStringLiteral("session-2001-01-01T00-00-00Z.json");
    QTest::newRow("before 1970 rounds down") << -0.5 << QStringLiteral("session-1969-12-31T23-59-59Z.json");
    QTest::newRow("year 10000") << 253'402'300'800.0 << QString();
    QTest::newRow("not a number") << std::numeric_limits<double>::quiet_NaN() << QString();
    QTest::newRow("infinite") << std::numeric_limits<double>::infinity() << QString();
}

void TestStore::fileName()
{
    QFETCH(double, startedAt);
    QFETCH(QString, name);
    QCOMPARE(ConversationStore::fileName(startedAt).value_or(QString()), name);
}

void TestStore::saveWritesPrivateFileAndReplacesIt()
{
    const ConversationStore store;
    SessionRecord first = record(1'800'000'000.25, 1);
    store.save(first);
    SessionRecord second = first;
    second.hintCount = 5;
    second.analysisJSON = QStringLiteral("{}");
    store.save(second);
    // Another record in the same second shares the file name: the later save wins.
    SessionRecord sameSecond = record(1'800'000'000.75, 9);
    const QStringList files = jsonFiles(store.sessionsDir());
    QCOMPARE(files, QStringList{QStringLiteral("session-2027-01-15T08-00-00Z.json")});
    const QString path = store.sessionsDir() + QLatin1Char('/') + files.first();
    QCOMPARE(modeBits(path), privateFile);
    QCOMPARE(store.loadRecent(), QList<SessionRecord>{second});

    store.save(sameSecond);
    QCOMPARE(store.loadRecent(), QList<SessionRecord>{sameSecond});
    QCOMPARE(jsonFiles(store.sessionsDir()).size(), 1);
}

void TestStore::saveKeepsStoredFileWhenRecordCannotBeEncoded()
{
    const ConversationStore store;
    const SessionRecord stored = record(1'800'000'000.0);
    store.save(stored);
    SessionRecord broken = stored;
    broken.talkRatio = std::numeric_limits<double>::quiet_NaN();
    store.save(broken);
    QCOMPARE(store.loadRecent(), QList<SessionRecord>{stored});
}

void TestStore::handWrittenFileReadsBack()
{
    const ConversationStore store;
    const QString path = store.sessionsDir() + QStringLiteral("/session-2025-12-05T03-48-56Z.json");
    test::writeFile(path, R"({"turns":[],"llmCalls":0,"startedAt":786598136.5,"hintCount":0,)"
                          R"("id":"a1b2c3d4-e5f6-4a7b-8c9d-0e1f2a3b4c5d","llmCostUSD":0,"deepgramCostUSD":0})");
    const auto records = store.loadRecent();
    QCOMPARE(records.size(), 1);
    QCOMPARE(records[0].startedAt, 786598136.5 + referenceDate);
    QVERIFY(!records[0].endedAt && !records[0].score && !records[0].talkRatio && !records[0].analysisJSON);
    QCOMPARE(records[0].id.toString(QUuid::WithoutBraces), QStringLiteral("a1b2c3d4-e5f6-4a7b-8c9d-0e1f2a3b4c5d"));
}

void TestStore::missingFolderGivesEmptyList()
{
    const ConversationStore store;
    const QString dir = Paths::home() + QStringLiteral("/.quiroai/sessions/local");
    QVERIFY(!QFileInfo::exists(dir));
    const auto listing = store.loadRecentListing(20);
    QVERIFY(listing.records.isEmpty());
    QCOMPARE(listing.skippedFiles, 0);
    QVERIFY(QFileInfo(dir).isDir());
}

void TestStore::orderIsCreationTimeNotStartOrModification()
{
    const ConversationStore store;
    const QString dir = store.sessionsDir();
    if (!birthTimesAvailable(dir))
        QSKIP("this filesystem reports no birth times; the modification-time order applies instead");
    // Created oldest-first: c, a, b. Their start times and modification times say otherwise.
    const SessionRecord a = record(1'800'000'000.0);
    const SessionRecord b = record(1'700'000'000.0);
    const SessionRecord c = record(1'900'000'000.0);
    const auto path = [&](const SessionRecord& r) {
        return dir + QLatin1Char('/') + *ConversationStore::fileName(r.startedAt);
    };
    createInOrder({{path(c), fileFor(c)}, {path(a), fileFor(a)}, {path(b), fileFor(b)}});
    QFile file(path(c));
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.setFileTime(QDateTime::currentDateTimeUtc().addDays(1), QFileDevice::FileModificationTime));
    file.close();

    QCOMPARE(store.loadRecent(), (QList<SessionRecord>{b, a, c}));

    // Saving again replaces the file, which then counts as the newest.
    waitForBirthTimeAfter(dir, QFileInfo(path(b)).birthTime());
    store.save(a);
    QCOMPARE(store.loadRecent(2), (QList<SessionRecord>{a, b}));
}

void TestStore::limitIsAppliedBeforeDecoding()
{
    const ConversationStore store;
    const QString dir = store.sessionsDir();
    if (!birthTimesAvailable(dir))
        QSKIP("this filesystem reports no birth times; creation order cannot be produced");
    QList<SessionRecord> records;
    QList<QPair<QString, QByteArray>> files;
    for (int i = 0; i < 25; ++i) {
        records.append(record(1'800'000'000.0 + i * 3600.0, i));
        QByteArray bytes = fileFor(records.last());
        if (i == 20 || i == 23) // two of the 20 newest files are broken
            bytes = i == 20 ? QByteArray("{") : QByteArray(R"({"id":"x"})");
        files.append({dir + QLatin1Char('/') + *ConversationStore::fileName(records.last().startedAt), bytes});
    }
    createInOrder(files);

    const auto listing = store.loadRecentListing(20);
    QCOMPARE(listing.skippedFiles, 2);
    QList<SessionRecord> expected;
    for (int i = 24; i >= 5; --i) {
        if (i != 20 && i != 23)
            expected.append(records[i]);
    }
    QCOMPARE(listing.records.size(), 18);
    QCOMPARE(listing.records, expected);
    QCOMPARE(store.loadRecent(3), (QList<SessionRecord>{records[24], records[22]}));
    QCOMPARE(store.loadRecent(0), QList<SessionRecord>{});
    QCOMPARE(store.loadRecentListing(ConversationStore::allFiles).records.size(), 23);
}

void TestStore::strayEntriesAreIgnored_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes"); // empty name of a folder: create a folder
    QTest::addColumn<int>("skipped");
    const QByteArray valid = fileFor(record(1'700'000'000.0));
    QTest::newRow("another extension") << QStringLiteral("session-x.json.txt") << valid << 0;
    QTest::newRow("upper-case extension") << QStringLiteral("session-x.JSON") << valid << 0;
    QTest::newRow("no extension") << QStringLiteral("json") << valid << 0;
    QTest::newRow("hidden file") << QStringLiteral(".session-x.json") << valid << 0;
    QTest::newRow("folder named like a session") << QStringLiteral("session-x.json/") << QByteArray() << 0;
    QTest::newRow("empty file") << QStringLiteral("session-e.json") << QByteArray() << 1;
    QTest::newRow("truncated file") << QStringLiteral("session-t.json") << valid.left(40) << 1;
    QTest::newRow("non-object") << QStringLiteral("session-n.json") << QByteArray("[1]") << 1;
    QTest::newRow("foreign JSON") << QStringLiteral("package.json") << QByteArray(R"({"name":"x"})") << 1;
    QTest::newRow("wrong-typed") << QStringLiteral("session-w.json")
                                 << QByteArray(valid).replace("\"hintCount\":1", "\"hintCount\":\"1\"") << 1;
}

void TestStore::strayEntriesAreIgnored()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    QFETCH(int, skipped);
    const ConversationStore store;
    const SessionRecord kept = record(1'800'000'000.0);
    store.save(kept);
    const QString path = store.sessionsDir() + QLatin1Char('/') + name;
    if (name.endsWith(QLatin1Char('/')))
        QVERIFY(QDir().mkpath(path));
    else
        test::writeFile(path, bytes);

    const auto listing = store.loadRecentListing(20);
    QCOMPARE(listing.records, QList<SessionRecord>{kept});
    QCOMPARE(listing.skippedFiles, skipped);
    // Nothing the listing could not read is touched.
    if (!name.endsWith(QLatin1Char('/')))
        QCOMPARE(test::readFile(path), bytes);
}

void TestStore::checkpointStaleness_data()
{
    QTest::addColumn<double>("ageSeconds");
    QTest::addColumn<bool>("fresh");
    QTest::newRow("just written") << 0.0 << true;
    QTest::newRow("exactly four hours") << 14'400.0 << true;
    QTest::newRow("four hours and a fraction") << 14'400.25 << false;
    QTest::newRow("four hours and one second") << 14'401.0 << false;
    QTest::newRow("saved in the future") << -3'600.0 << true;
}

void TestStore::checkpointStaleness()
{
    QFETCH(double, ageSeconds);
    QFETCH(bool, fresh);
    ManualClock clock(1'800'000'000.5);
    const ConversationStore store(clock);
    const SessionCheckpoint checkpoint = SessionCheckpoint::make(
        1'799'999'000.0, {{TurnRecord::clientTag, QStringLiteral("budget is tight"), 1'799'999'100.0}}, clock);
    store.saveCheckpoint(checkpoint);
    QCOMPARE(modeBits(store.checkpointPath()), privateFile);
    clock.advance(ageSeconds);

    const auto loaded = store.loadCheckpoint();
    QCOMPARE(loaded.has_value(), fresh);
    QCOMPARE(QFileInfo::exists(store.checkpointPath()), fresh);
    if (fresh)
        QCOMPARE(*loaded, checkpoint);
}

void TestStore::checkpointWithoutSavedAtIsKept()
{
    ManualClock clock;
    const ConversationStore store(clock);
    const QByteArray bytes = R"({"startedAt":10,"turns":[]})";
    test::writeFile(store.checkpointPath(), bytes);
    QVERIFY(!store.loadCheckpoint());
    QCOMPARE(test::readFile(store.checkpointPath()), bytes);
    test::writeFile(store.checkpointPath(), "not json");
    QVERIFY(!store.loadCheckpoint());
    QCOMPARE(test::readFile(store.checkpointPath()), QByteArray("not json"));
}

void TestStore::noCheckpointCreatesOnlyAppFolder()
{
    const ConversationStore store;
    QVERIFY(!store.loadCheckpoint());
    const QString app = Paths::home() + QStringLiteral("/.quiroai");
    QVERIFY(QFileInfo(app).isDir());
    QCOMPARE(QDir(app).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList{});
}

void TestStore::checkpointPerAccountAndClear()
{
    ManualClock clock;
    const ConversationStore store(clock);
    Preferences::setAccount(QStringLiteral("a@x.io"), QStringLiteral("A"));
    const auto mine = SessionCheckpoint::make(1.0, {{TurnRecord::managerTag, QStringLiteral("a"), 2.0}}, clock);
    store.saveCheckpoint(mine);
    Preferences::setAccount(QStringLiteral("b@x.io"), QStringLiteral("B"));
    QVERIFY(!store.loadCheckpoint());
    const auto theirs = SessionCheckpoint::make(3.0, {}, clock);
    store.saveCheckpoint(theirs);
    QCOMPARE(store.loadCheckpoint(), theirs);

    Preferences::setAccount(QStringLiteral("a@x.io"), QStringLiteral("A"));
    QCOMPARE(store.loadCheckpoint(), mine);
    store.clearCheckpoint();
    QVERIFY(!store.loadCheckpoint());
    store.clearCheckpoint(); // clearing twice is harmless
    Preferences::setAccount(QStringLiteral("b@x.io"), QStringLiteral("B"));
    QCOMPARE(store.loadCheckpoint(), theirs);
    QVERIFY(
        !QDir(Paths::appDir()).entryList({QStringLiteral("*.json")}, QDir::Files).contains("checkpoint_a_x_io.json"));
}

// Root may write anywhere, so this test drops to "nobody" by running its own executable again
// under setpriv; as any other user it runs directly.
void TestStore::unwritableFoldersLoseNothing()
{
    if (::geteuid() == 0) {
        const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
        if (setpriv.isEmpty())
            QSKIP("running as root and setpriv is not installed: cannot drop to an ordinary user");
        // nobody cannot read the build tree, so run a copy from a folder it can enter.
        QTemporaryDir bin(QDir::tempPath() + QStringLiteral("/quiro-history-XXXXXX"));
        QVERIFY(bin.isValid());
        const QString copy = bin.filePath(QStringLiteral("test_history_store"));
        QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), copy));
        QVERIFY(QFile::setPermissions(bin.path(), everyoneMayRun));
        QVERIFY(QFile::setPermissions(copy, everyoneMayRun));
        QProcess child;
        child.setProcessChannelMode(QProcess::MergedChannels);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), QDir::tempPath());
        env.insert(QStringLiteral("TMPDIR"), QDir::tempPath());
        child.setProcessEnvironment(env);
        child.start(setpriv, {QStringLiteral("--reuid=nobody"), QStringLiteral("--regid=nogroup"),
                              QStringLiteral("--clear-groups"), copy, QStringLiteral("unwritableFoldersLoseNothing")});
        QVERIFY(child.waitForFinished(60'000));
        const QString output = QString::fromLocal8Bit(child.readAll());
        QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0, qPrintable(output));
        QVERIFY2(output.contains(QLatin1String("PASS   : TestStore::unwritableFoldersLoseNothing")),
                 qPrintable(output));
        return;
    }

    ManualClock clock;
    const ConversationStore store(clock);
    const QString dir = store.sessionsDir();
    const SessionRecord stored = record(1'800'000'000.0);
    store.save(stored);
    const QString storedPath = dir + QLatin1Char('/') + *ConversationStore::fileName(stored.startedAt);
    const QByteArray storedBytes = test::readFile(storedPath);
    test::writeFile(dir + QStringLiteral("/session-locked.json"), fileFor(record(1'700'000'000.0)));
    QVERIFY(QFile::setPermissions(dir + QStringLiteral("/session-locked.json"), {}));

    QVERIFY(QFile::setPermissions(dir, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    SessionRecord changed = stored;
    changed.hintCount = 99;
    store.save(changed);                 // same file name: the stored file must stay as it is
    store.save(record(1'900'000'000.0)); // a new file cannot appear
    QCOMPARE(test::readFile(storedPath), storedBytes);
    const auto listing = store.loadRecentListing(20);
    QCOMPARE(listing.records, QList<SessionRecord>{stored});
    QCOMPARE(listing.skippedFiles, 1); // the unreadable file
    QCOMPARE(QDir(dir).entryList(QDir::Files | QDir::Hidden).size(), 2);

    // A folder that cannot be listed gives an empty list, not a failure.
    QVERIFY(QFile::setPermissions(dir, QFileDevice::WriteOwner | QFileDevice::ExeOwner));
    QCOMPARE(store.loadRecent(), QList<SessionRecord>{});
    QVERIFY(QFile::setPermissions(dir, privateDir));

    // A read-only ~/.quiroai: no checkpoint can be written, and an existing one stays readable.
    const auto checkpoint = SessionCheckpoint::make(1.0, {{TurnRecord::managerTag, QStringLiteral("x"), 2.0}}, clock);
    store.saveCheckpoint(checkpoint);
    QVERIFY(QFile::setPermissions(Paths::appDir(), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    store.saveCheckpoint(SessionCheckpoint::make(5.0, {}, clock));
    QCOMPARE(store.loadCheckpoint(), checkpoint);
    QVERIFY(QFile::setPermissions(Paths::appDir(), privateDir));
}

QTEST_GUILESS_MAIN(TestStore)
#include "tst_store.moc"
