#include "HistoryTestSupport.h"
#include "core/Paths.h"
#include "core/Preferences.h"
#include "history/CheckpointWriter.h"
#include "history/ConversationStore.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

using namespace quiro;

namespace {

constexpr auto everyoneMayRun =
    test::privateDir | QFileDevice::ReadGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::ExeOther;

SessionRecord record(double startedAt, qint64 hintCount = 1)
{
    SessionRecord r;
    r.startedAt = startedAt;
    r.endedAt = startedAt + 90.0;
    r.turns = {{TurnRecord::managerTag, "hello", startedAt + 1.5}};
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
    return QDir(dir).entryList({"*.json"}, QDir::Files | QDir::Hidden, QDir::Name);
}

// Creates the files in this order, each with a later birth time than the one before.
void createInOrder(const QList<QPair<QString, QByteArray>>& files)
{
    QDateTime previous;
    for (const auto& [path, bytes] : files) {
        previous = test::writeBornAfter(path, bytes, previous);
        QVERIFY2(previous.isValid(), "the filesystem reports no birth times");
    }
}

bool birthTimesAvailable(const QString& dir)
{
    const QString probe = dir + "/.probe";
    const bool available = test::writeBornAfter(probe, "x").isValid();
    QFile::remove(probe);
    return available;
}

} // namespace

class TestStore : public QObject {
    Q_OBJECT

private slots:
    void checkpointWriterNeverLetsALateWriteUndoAClear()
    {
        const ConversationStore store;
        const QString path = store.checkpointPath();
        auto writer = std::make_unique<CheckpointWriter>();
        const auto checkpoint = [](int turns) {
            QList<TurnRecord> list;
            for (int i = 0; i < turns; ++i)
                list.append({TurnRecord::clientTag, QStringLiteral("line %1").arg(i), 1.0e9 + i});
            return SessionCheckpoint::make(1.0e9, list);
        };
        // The newest checkpoint is the one on disk once the worker is done.
        for (int turns = 1; turns <= 20; ++turns)
            writer->writeLater(checkpoint(turns * 500), path);
        QTRY_COMPARE(store.loadCheckpoint() ? store.loadCheckpoint()->turns.size() : 0, 10'000);
        // A clear right after a write that may still be waiting or running wins, for good.
        writer->writeLater(checkpoint(10'000), path);
        writer->clearNow(path);
        writer.reset(); // waits for anything still on the worker
        QVERIFY(!QFileInfo::exists(path));
    }

    void init() { m_home = std::make_unique<test::HistoryHome>(); }
    void cleanup() { m_home.reset(); }

    void accountFolder_data()
    {
        QTest::addColumn<QString>("email"); // empty: no stored address
        QTest::addColumn<QString>("folder");
        QTest::newRow("no account") << QString() << "local";
        QTest::newRow("one dot before, two after the at sign")
            << QString("jane.doe@mail.example.com") << "jane_doe_mail_example_com";
        QTest::newRow("slashes cannot nest folders") << QString("a/b@c.d") << "a_b_c_d";
        QTest::newRow("dots cannot name a parent") << QString("..") << "__";
        QTest::newRow("hyphen and plus stay") << QString("j-d+x@e.io") << "j-d+x_e_io";
    }

    void accountFolder()
    {
        QFETCH(QString, email);
        QFETCH(QString, folder);
        if (!email.isEmpty())
            Preferences::setAccount(email, "Jane");
        const ConversationStore store;
        QCOMPARE(ConversationStore::accountName(), folder);
        QCOMPARE(store.sessionsDir(), Paths::home() + "/.quiroai/sessions/" + folder);
        QCOMPARE(store.checkpointPath(), Paths::home() + "/.quiroai/checkpoint_" + folder + ".json");
        QCOMPARE(test::modeBits(store.sessionsDir()), test::privateDir);
        QCOMPARE(test::modeBits(Paths::sessionsRoot()), test::privateDir);

        store.save(record(1'800'000'000.0));
        QCOMPARE(jsonFiles(store.sessionsDir()).size(), 1);
    }

    void fileName_data()
    {
        QTest::addColumn<double>("startedAt");
        QTest::addColumn<QString>("name"); // empty: no name
        const double start = QDateTime::fromString("2026-12-05T03:48:56Z", Qt::ISODate).toSecsSinceEpoch();
        QTest::newRow("whole second") << start << "session-2026-12-05T03-48-56Z.json";
        QTest::newRow("fraction is dropped") << start + 0.999 << "session-2026-12-05T03-48-56Z.json";
        QTest::newRow("before 1970 rounds down") << -0.5 << "session-1969-12-31T23-59-59Z.json";
        QTest::newRow("year 10000") << 253'402'300'800.0 << QString();
        QTest::newRow("not a number") << std::numeric_limits<double>::quiet_NaN() << QString();
    }

    void fileName()
    {
        QFETCH(double, startedAt);
        QFETCH(QString, name);
        QCOMPARE(ConversationStore::fileName(startedAt).value_or(QString()), name);
    }

    void saveWritesPrivateFileReplacesItAndKeepsItOnFailure()
    {
        const ConversationStore store;
        SessionRecord first = record(1'800'000'000.25, 1);
        store.save(first);
        SessionRecord second = first;
        second.hintCount = 5;
        second.analysisJSON = "{}";
        store.save(second);
        SessionRecord sameSecond = record(1'800'000'000.75, 9);
        const QStringList files = jsonFiles(store.sessionsDir());
        QCOMPARE(files, QStringList{"session-2027-01-15T08-00-00Z.json"});
        const QString path = store.sessionsDir() + '/' + files.first();
        QCOMPARE(test::modeBits(path), test::privateFile);
        QCOMPARE(store.loadRecent(), QList<SessionRecord>{second});

        // Another call started in the same second gets a file of its own, and keeps it when saved again.
        QVERIFY(store.save(sameSecond));
        sameSecond.hintCount = 2;
        QVERIFY(store.save(sameSecond));
        QCOMPARE(jsonFiles(store.sessionsDir()),
                 (QStringList{"session-2027-01-15T08-00-00Z-2.json", "session-2027-01-15T08-00-00Z.json"}));
        QVERIFY(store.loadRecent().contains(second) && store.loadRecent().contains(sameSecond));

        // A record that cannot be encoded fails and leaves the stored file as it is.
        SessionRecord broken = sameSecond;
        broken.talkRatio = std::numeric_limits<double>::quiet_NaN();
        QVERIFY(!store.save(broken));
        QVERIFY(store.loadRecent().contains(sameSecond));
    }

    void missingFolderGivesEmptyList()
    {
        const ConversationStore store;
        const QString dir = Paths::home() + "/.quiroai/sessions/local";
        QVERIFY(!QFileInfo::exists(dir));
        const auto listing = store.loadRecentListing(20);
        QVERIFY(listing.records.isEmpty());
        QCOMPARE(listing.skippedFiles, 0);
        QVERIFY(QFileInfo(dir).isDir());
    }

    void orderIsCreationTimeNotStartOrModification()
    {
        const ConversationStore store;
        const QString dir = store.sessionsDir();
        if (!birthTimesAvailable(dir))
            QSKIP("this filesystem reports no birth times; the modification-time order applies instead");
        // Created oldest-first: c, a, b. Their start times and modification times say otherwise.
        const SessionRecord a = record(1'800'000'000.0);
        const SessionRecord b = record(1'700'000'000.0);
        const SessionRecord c = record(1'900'000'000.0);
        const auto path = [&](const SessionRecord& r) { return dir + '/' + *ConversationStore::fileName(r.startedAt); };
        createInOrder({{path(c), fileFor(c)}, {path(a), fileFor(a)}, {path(b), fileFor(b)}});
        QFile file(path(c));
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(QDateTime::currentDateTimeUtc().addDays(1), QFileDevice::FileModificationTime));
        file.close();

        QCOMPARE(store.loadRecent(), (QList<SessionRecord>{b, a, c}));

        // Saving again replaces the file, which then counts as the newest.
        test::waitPastBirthOf(path(b));
        store.save(a);
        QCOMPARE(store.loadRecent(2), (QList<SessionRecord>{a, b}));
    }

    void limitIsAppliedBeforeDecoding()
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
            files.append({dir + '/' + *ConversationStore::fileName(records.last().startedAt), bytes});
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

    void strayEntriesAreIgnored_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes"); // empty name of a folder: create a folder
        QTest::addColumn<int>("skipped");
        const QByteArray valid = fileFor(record(1'700'000'000.0));
        QTest::newRow("another extension") << "session-x.json.txt" << valid << 0;
        QTest::newRow("hidden file") << ".session-x.json" << valid << 0;
        QTest::newRow("folder named like a session") << "session-x.json/" << QByteArray() << 0;
        QTest::newRow("truncated file") << "session-t.json" << valid.left(40) << 1;
        QTest::newRow("foreign JSON") << "package.json" << QByteArray(R"({"name":"x"})") << 1;
    }

    void strayEntriesAreIgnored()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(int, skipped);
        const ConversationStore store;
        const SessionRecord kept = record(1'800'000'000.0);
        store.save(kept);
        const QString path = store.sessionsDir() + '/' + name;
        if (name.endsWith('/'))
            QVERIFY(QDir().mkpath(path));
        else
            test::writeFile(path, bytes);

        const auto listing = store.loadRecentListing(20);
        QCOMPARE(listing.records, QList<SessionRecord>{kept});
        QCOMPARE(listing.skippedFiles, skipped);
        // Nothing the listing could not read is touched.
        if (!name.endsWith('/'))
            QCOMPARE(test::readFile(path), bytes);
    }

    void checkpointStaleness_data()
    {
        QTest::addColumn<double>("ageSeconds");
        QTest::addColumn<bool>("fresh");
        QTest::newRow("exactly four hours") << 14'400.0 << true;
        QTest::newRow("four hours and a fraction") << 14'400.25 << false;
        QTest::newRow("saved in the future") << -3'600.0 << true;
    }

    void checkpointStaleness()
    {
        QFETCH(double, ageSeconds);
        QFETCH(bool, fresh);
        ManualClock clock(1'800'000'000.5);
        const ConversationStore store(clock);
        const SessionCheckpoint checkpoint = SessionCheckpoint::make(
            1'799'999'000.0, {{TurnRecord::clientTag, "budget is tight", 1'799'999'100.0}}, clock);
        store.saveCheckpoint(checkpoint);
        QCOMPARE(test::modeBits(store.checkpointPath()), test::privateFile);
        clock.advance(ageSeconds);

        const auto loaded = store.loadCheckpoint();
        QCOMPARE(loaded.has_value(), fresh);
        QCOMPARE(QFileInfo::exists(store.checkpointPath()), fresh);
        if (fresh)
            QCOMPARE(*loaded, checkpoint);
    }

    void missingOrUnreadableCheckpointIsLeftAlone()
    {
        ManualClock clock;
        const ConversationStore store(clock);
        // None yet: looking for one creates only the (empty) app folder.
        QVERIFY(!store.loadCheckpoint());
        const QString app = Paths::home() + "/.quiroai";
        QVERIFY(QFileInfo(app).isDir());
        QCOMPARE(QDir(app).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList{});
        for (const QByteArray& bytes : {QByteArray(R"({"startedAt":10,"turns":[]})"), QByteArray("not json")}) {
            test::writeFile(store.checkpointPath(), bytes);
            QVERIFY(!store.loadCheckpoint());
            QCOMPARE(test::readFile(store.checkpointPath()), bytes);
        }
    }

    void checkpointPerAccountAndClear()
    {
        ManualClock clock;
        const ConversationStore store(clock);
        Preferences::setAccount("a@x.io", "A");
        const auto mine = SessionCheckpoint::make(1.0, {{TurnRecord::managerTag, "a", 2.0}}, clock);
        store.saveCheckpoint(mine);
        Preferences::setAccount("b@x.io", "B");
        QVERIFY(!store.loadCheckpoint());
        const auto theirs = SessionCheckpoint::make(3.0, {}, clock);
        store.saveCheckpoint(theirs);
        QCOMPARE(store.loadCheckpoint(), theirs);

        Preferences::setAccount("a@x.io", "A");
        QCOMPARE(store.loadCheckpoint(), mine);
        store.clearCheckpoint();
        QVERIFY(!store.loadCheckpoint());
        store.clearCheckpoint(); // clearing twice is harmless
        Preferences::setAccount("b@x.io", "B");
        QCOMPARE(store.loadCheckpoint(), theirs);
        QVERIFY(!QDir(Paths::appDir()).entryList({"*.json"}, QDir::Files).contains("checkpoint_a_x_io.json"));
    }

    // Root may write anywhere, so this test drops to "nobody" by running its own executable again
    // under setpriv; as any other user it runs directly.
    void unwritableFoldersLoseNothing()
    {
        if (::geteuid() == 0) {
            const QString setpriv = QStandardPaths::findExecutable("setpriv");
            if (setpriv.isEmpty())
                QSKIP("running as root and setpriv is not installed: cannot drop to an ordinary user");
            // nobody cannot read the build tree, so run a copy from a folder it can enter.
            QTemporaryDir bin(QDir::tempPath() + "/quiro-history-XXXXXX");
            QVERIFY(bin.isValid());
            const QString copy = bin.filePath("test_history_store");
            QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), copy));
            QVERIFY(QFile::setPermissions(bin.path(), everyoneMayRun));
            QVERIFY(QFile::setPermissions(copy, everyoneMayRun));
            QProcess child;
            child.setProcessChannelMode(QProcess::MergedChannels);
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("HOME", QDir::tempPath());
            env.insert("TMPDIR", QDir::tempPath());
            child.setProcessEnvironment(env);
            child.start(setpriv,
                        {"--reuid=nobody", "--regid=nogroup", "--clear-groups", copy, "unwritableFoldersLoseNothing"});
            QVERIFY(child.waitForFinished(60'000));
            const QString output = QString::fromLocal8Bit(child.readAll());
            QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0, qPrintable(output));
            QVERIFY2(output.contains("PASS   : TestStore::unwritableFoldersLoseNothing"), qPrintable(output));
            return;
        }

        ManualClock clock;
        const ConversationStore store(clock);
        const QString dir = store.sessionsDir();
        const SessionRecord stored = record(1'800'000'000.0);
        store.save(stored);
        const QString storedPath = dir + '/' + *ConversationStore::fileName(stored.startedAt);
        const QByteArray storedBytes = test::readFile(storedPath);
        test::writeFile(dir + "/session-locked.json", fileFor(record(1'700'000'000.0)));
        QVERIFY(QFile::setPermissions(dir + "/session-locked.json", {}));

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
        QVERIFY(QFile::setPermissions(dir, test::privateDir));

        // A read-only ~/.quiroai: no checkpoint can be written, and an existing one stays readable.
        const auto checkpoint = SessionCheckpoint::make(1.0, {{TurnRecord::managerTag, "x", 2.0}}, clock);
        store.saveCheckpoint(checkpoint);
        QVERIFY(QFile::setPermissions(Paths::appDir(), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        store.saveCheckpoint(SessionCheckpoint::make(5.0, {}, clock));
        QCOMPARE(store.loadCheckpoint(), checkpoint);
        QVERIFY(QFile::setPermissions(Paths::appDir(), test::privateDir));
    }

private:
    std::unique_ptr<test::HistoryHome> m_home;
};

QTEST_GUILESS_MAIN(TestStore)
#include "tst_store.moc"
