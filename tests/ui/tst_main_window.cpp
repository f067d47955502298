// The main window's screens, drawn off screen with calls recorded on the test desktop: the rules
// of Home and the debrief, what the screens do with the history, the recovery file, the profile and
// the settings file, and a screenshot of each screen.

#include "MainWindowRig.h"
#include "coaching/ProductProfile.h"
#include "core/NotificationCenter.h"
#include "history/DebriefText.h"
#include "support/AnimationClock.h"
#include "support/Pixels.h"
#include "ui/kit/DS.h"
#include "ui/kit/EditField.h"
#include "ui/kit/SaveButton.h"
#include "ui/kit/ValleyButton.h"
#include "ui/main/AnalysisPlaceholder.h"
#include "ui/main/Banner.h"
#include "ui/main/Greeting.h"
#include "ui/main/HearingRow.h"
#include "ui/main/HomeView.h"
#include "ui/main/Insights.h"
#include "ui/main/MainView.h"
#include "ui/main/MainWindow.h"
#include "ui/main/PlaybookView.h"
#include "ui/main/PostCallView.h"
#include "ui/main/RecoveryPrompt.h"
#include "ui/main/ScoreRing.h"
#include "ui/main/ScoreTrend.h"
#include "ui/main/SessionCard.h"
#include "ui/main/SettingsHubView.h"
#include "ui/main/TabBar.h"
#include "ui/main/TabPill.h"
#include "ui/main/TalkTimeline.h"
#include "ui/main/ValleyAnalysisContent.h"
#include "ui/main/ValleyEmptyState.h"
#include "ui/main/ValleyInsightsStrip.h"
#include "ui/main/ValleyMiniStat.h"
#include "ui/main/ValleySessionRow.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDateTime>
#include <QFileInfo>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

using namespace quiro;

namespace {

double localTime(int hour, int minute)
{
    return double(QDateTime(QDate(2026, 3, 10), QTime(hour, minute), Qt::LocalTime).toSecsSinceEpoch());
}

SessionRecord callOf(double seconds, std::optional<qint64> score, std::optional<double> talkRatio)
{
    SessionRecord record;
    record.startedAt = 1.8e9;
    record.endedAt = record.startedAt + seconds;
    record.turns = {TurnRecord{TurnRecord::managerTag, QStringLiteral("hello there"), record.startedAt + 3}};
    record.score = score;
    record.talkRatio = talkRatio;
    return record;
}

QStringList labelTexts(const QWidget* widget)
{
    QStringList texts;
    for (const QLabel* label : widget->findChildren<QLabel*>())
        texts.append(label->text());
    return texts;
}

// Lets the entrance and the count-up finish, then saves what the window shows.
QImage settleAndGrab(QWidget& window, test::AnimationClock& clock, const QString& name)
{
    clock.advanceBy(2500);
    const QImage image = window.grab().toImage();
    test::saveScreenshot(image, name);
    return image;
}

QColor pixelAt(const QImage& image, const QWidget* window, const QWidget* widget, QPoint at)
{
    return image.pixelColor(widget->mapTo(window, at));
}

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

private slots:
    void greetingFollowsTheHourAndTheFirstName_data()
    {
        QTest::addColumn<double>("now");
        QTest::addColumn<std::optional<QString>>("name");
        QTest::addColumn<QString>("greeting");

        const std::optional<QString> dana = QStringLiteral("Dana Whitfield");
        QTest::newRow("04:59") << localTime(4, 59) << dana << "Late night, Dana";
        QTest::newRow("05:00") << localTime(5, 0) << dana << "Good morning, Dana";
        QTest::newRow("11:59") << localTime(11, 59) << dana << "Good morning, Dana";
        QTest::newRow("12:00") << localTime(12, 0) << dana << "Good afternoon, Dana";
        QTest::newRow("16:59") << localTime(16, 59) << dana << "Good afternoon, Dana";
        QTest::newRow("17:00") << localTime(17, 0) << dana << "Good evening, Dana";
        QTest::newRow("21:59") << localTime(21, 59) << dana << "Good evening, Dana";
        QTest::newRow("22:00") << localTime(22, 0) << dana << "Late night, Dana";
        QTest::newRow("no name") << localTime(9, 0) << std::optional<QString>() << "Good morning";
        QTest::newRow("blank name") << localTime(9, 0) << std::optional<QString>(QStringLiteral("   "))
                                    << "Good morning";
    }

    void greetingFollowsTheHourAndTheFirstName()
    {
        QFETCH(double, now);
        QFETCH(std::optional<QString>, name);
        QFETCH(QString, greeting);
        ManualClock clock(now);
        QCOMPARE(Greeting::line(clock, name), greeting);
    }

    void insights_data()
    {
        QTest::addColumn<QList<SessionRecord>>("records");
        QTest::addColumn<QList<Insight>>("expected");

        const Insight none{};
        QTest::newRow("no calls") << QList<SessionRecord>{}
                                  << QList<Insight>{{"0", "calls", DS::ink}, {"0m", "total", DS::ink}};
        // 90 s + 100 s are 3 minutes and 10 seconds: whole minutes only.
        QTest::newRow("no scores hide the average but count")
            << QList<SessionRecord>{callOf(90, {}, {}), callOf(100, {}, {})}
            << QList<Insight>{{"2", "calls", DS::ink}, {"3m", "total", DS::ink}};
        // (80 + 61) / 2 = 70 in integer division; (0.5 + 0.62) / 2 = 56 %, which is not below 56.
        QTest::newRow("70 is green, 56 % is grey") << QList<SessionRecord>{callOf(60, 80, 0.5), callOf(60, 61, 0.62)}
                                                   << QList<Insight>{{"2", "calls", DS::ink},
                                                                     {"2m", "total", DS::ink},
                                                                     {"70", "avg score", DS::green},
                                                                     {"56%", "you talk", DS::inkSoft}};
        QTest::newRow("69 is grey, 55 % is green, unscored calls left out of the mean")
            << QList<SessionRecord>{callOf(30, 69, 0.55), callOf(30, {}, {})}
            << QList<Insight>{{"2", "calls", DS::ink},
                              {"1m", "total", DS::ink},
                              {"69", "avg score", DS::inkSoft},
                              {"55%", "you talk", DS::green}};
        QTest::newRow("below 50 is red") << QList<SessionRecord>{callOf(30, 49, {})}
                                         << QList<Insight>{{"1", "calls", DS::ink},
                                                           {"0m", "total", DS::ink},
                                                           {"49", "avg score", DS::red}};
    }

    void insights()
    {
        QFETCH(QList<SessionRecord>, records);
        QFETCH(QList<Insight>, expected);
        QCOMPARE(quiro::insights(records), expected);
    }

    void trendAndTimelineOfRecordedCalls()
    {
        // The store lists the newest first; the trend reads left to right in time and leaves out a call
        // in which nothing was heard.
        QList<SessionRecord> newestFirst;
        for (const QString& name : test::Recording::finished)
            newestFirst.prepend(test::recordedCall(name));
        SessionRecord silent = callOf(40, 73, {});
        silent.turns.clear();
        newestFirst.prepend(silent);
        QList<qint64> expected;
        for (const QString& name : test::Recording::finished)
            expected.append(*test::recordedCall(name).score);
        QCOMPARE(ScoreTrend::scores(newestFirst), expected);
        QList<SessionRecord> many(30, callOf(60, 50, 0.5));
        many.first().score = 99;
        QCOMPARE(ScoreTrend::scores(many).size(), ScoreTrend::maxCalls);
        QCOMPARE(ScoreTrend::scores(many).last(), 99);

        for (const QString& name : test::Recording::finished) {
            const SessionRecord call = test::recordedCall(name);
            const TalkTimeline::Layout layout = TalkTimeline::layout(call);
            QCOMPARE(layout.spans.size(), call.turns.size());
            QVERIFY(layout.length >= call.durationSeconds());
            double previousEnd = 0;
            for (qsizetype i = 0; i < layout.spans.size(); ++i) {
                const TalkTimeline::Span& span = layout.spans[i];
                QCOMPARE(span.seller, call.turns[i].speaker == TurnRecord::managerTag);
                // Each turn ends where its transcript arrived and never overlaps the turn before.
                QCOMPARE(span.end, call.turns[i].timestamp - call.startedAt);
                QVERIFY2(span.start >= previousEnd && span.start < span.end, qPrintable(name));
                previousEnd = span.end;
            }
        }

        // In the monologue the seller holds the floor far longer than the client.
        double seller = 0;
        double client = 0;
        for (const TalkTimeline::Span& span :
             TalkTimeline::layout(test::recordedCall(test::Recording::monologue)).spans)
            (span.seller ? seller : client) += span.end - span.start;
        QVERIFY2(seller > 3 * client, qPrintable(QStringLiteral("%1 s against %2 s").arg(seller).arg(client)));
    }

    void debriefRules_data()
    {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<double>("talkRatio");
        QTest::addColumn<QByteArray>("analysis"); // JSON, or empty for none
        QTest::addColumn<bool>("failed");
        QTest::addColumn<bool>("warn");
        QTest::addColumn<int>("state"); // 0 loading, 1 unavailable, 2 present
        QTest::addColumn<QStringList>("sections");

        QTest::newRow("59 s, 0.6, neither: loading")
            << 59.0 << 0.6 << QByteArray() << false << false << 0 << QStringList();
        QTest::newRow("61 s, 0.61, failed: unavailable")
            << 61.0 << 0.61 << QByteArray() << true << true << 1 << QStringList();
        QTest::newRow("an analysis beats the failure flag")
            << 61.0 << 0.3 << QByteArray(R"({"summary":"Fine.","strengths":["Listened"]})") << true << false << 2
            << QStringList{"What worked"};
        QTest::newRow("one number hides the whole section")
            << 61.0 << 0.3 << QByteArray(R"({"strengths":["Listened",3],"improvements":["Ask more"]})") << false
            << false << 2 << QStringList{"What to improve"};
        QTest::newRow("missing and empty sections")
            << 120.0 << 0.3 << QByteArray(R"({"improvements":["Ask more"],"missed_opportunities":[],
                                                        "objections":[{"quote":"too pricey"}],"next_steps":["Call Friday"]})")
            << false << false << 2 << QStringList{"What to improve", "Objections", "Next steps"};
    }

    void debriefRules()
    {
        QFETCH(double, seconds);
        QFETCH(double, talkRatio);
        QFETCH(QByteArray, analysis);
        QFETCH(bool, failed);
        QFETCH(bool, warn);
        QFETCH(int, state);
        QFETCH(QStringList, sections);

        PostCallSummary summary;
        summary.durationSec = seconds;
        summary.talkRatio = talkRatio;
        summary.turns = 6;
        summary.score = 72;
        summary.analysisFailed = failed;
        if (!analysis.isEmpty())
            summary.analysis = QJsonDocument::fromJson(analysis).object();
        PostCallView view(summary, std::nullopt);

        const QList<ValleyMiniStat*> stats = view.stats();
        QCOMPARE(stats.size(), 3);
        QCOMPARE(stats[0]->warns(), warn);
        QCOMPARE(stats[0]->value(), QString::number(PostCallSummary::talkSharePercent(talkRatio)) + QLatin1Char('%'));
        auto* placeholder = qobject_cast<AnalysisPlaceholder*>(view.analysis());
        auto* content = dynamic_cast<ValleyAnalysisContent*>(view.analysis());
        switch (state) {
        case 0:
            QVERIFY(placeholder && placeholder->kind() == AnalysisPlaceholder::Kind::loading);
            break;
        case 1:
            QVERIFY(placeholder && placeholder->kind() == AnalysisPlaceholder::Kind::unavailable);
            break;
        default:
            QVERIFY(content);
            QCOMPARE(content->sections(), sections);
        }
        if (sections.contains(QStringLiteral("Objections"))) {
            // An objection without a type shows a dash and, without "handled", counts as not handled.
            const QStringList texts = labelTexts(content);
            QVERIFY(texts.contains(QStringLiteral("\u2014")));
            QVERIFY(texts.contains(QStringLiteral("Not handled")));
            QVERIFY(texts.contains(QStringLiteral("\u201ctoo pricey\u201d")));
        }
    }

    void homeShowsTheHistoryAndReloadsOnSave()
    {
        test::MainWindowRig rig;
        HomeView home(rig.services);
        home.resize(900, 600);
        home.show();
        QCOMPARE(home.findChildren<ValleyEmptyState*>().size(), 1);
        QCOMPARE(home.greeting().section(u',', 1).trimmed(), QStringLiteral("Dana"));

        // Saved behind Home's back: nothing changes until the controller announces a saved call.
        rig.storeCalls({test::Recording::discovery, test::Recording::monologue});
        QCOMPARE(home.findChildren<ValleySessionRow*>().size(), 0);
        NotificationCenter::instance().post(Notifications::sessionSaved);
        QList<ValleySessionRow*> rows = home.findChildren<ValleySessionRow*>();
        QCOMPARE(rows.size(), 2);
        QVERIFY(home.findChildren<ValleyEmptyState*>().isEmpty());
        QCOMPARE(rows.first()->record().id, test::recordedCall(test::Recording::monologue).id); // newest first
        QCOMPARE(home.insights()->shown().first().value, QStringLiteral("2"));
        QVERIFY(!home.trend()->isHidden());

        // And again each time Home is shown.
        rig.storeCalls({test::Recording::closing});
        home.hide();
        home.show();
        QCOMPARE(home.findChildren<ValleySessionRow*>().size(), 3);

        // A file that cannot be read is left out, and said to be.
        test::writeFile(rig.store.sessionsDir() + QStringLiteral("/session-2099-01-01T00-00-00Z.json"), "{not json");
        NotificationCenter::instance().post(Notifications::sessionSaved);
        QCOMPARE(home.findChildren<ValleySessionRow*>().size(), 3);
        QVERIFY(labelTexts(&home).contains(QStringLiteral("1 saved call could not be read and is left out.")));

        // Opening a row presents that call's debrief.
        MainView view(rig.services);
        view.show();
        view.home()->findChildren<ValleySessionRow*>().last()->click();
        QVERIFY(view.debrief());
        QCOMPARE(view.debrief()->record()->id, test::recordedCall(test::Recording::discovery).id);
    }

    void recoveryPromptSavesAndDiscards()
    {
        const SessionCheckpoint crashed = test::recordedCheckpoint(test::Recording::crashed);
        const QString expected = QStringLiteral("A call from %1 ended unexpectedly \u2014 %2 turns recovered")
                                     .arg(DebriefText::localTime(crashed.startedAt, QStringLiteral("HH:mm")))
                                     .arg(crashed.turns.size());
        test::MainWindowRig rig;
        QVERIFY(rig.store.saveCheckpoint(crashed));
        rig.buildController();
        {
            HomeView home(rig.services);
            home.show();
            RecoveryPrompt* prompt = home.recovery();
            QVERIFY(prompt->isVisible());
            QCOMPARE(prompt->message(), expected);

            // A save that fails keeps the call on offer and says why on Home.
            const QString sessions = rig.store.sessionsDir();
            QVERIFY(QDir(sessions).removeRecursively());
            test::writeFile(sessions, "a file where the folder belongs");
            prompt->saveButton()->click();
            QVERIFY(prompt->isVisible());
            QVERIFY2(home.alert()->isVisible() && home.alert()->text().startsWith("Could not save the recovered call"),
                     qPrintable(home.alert()->text()));
            QVERIFY(QFile::remove(sessions));

            prompt->saveButton()->click();
            QVERIFY(!prompt->isVisible());
            QVERIFY(!home.alert()->isVisible());
            QCOMPARE(home.records().size(), 1);
            QCOMPARE(home.records().first().turns, crashed.turns);
            QVERIFY(!QFileInfo::exists(rig.store.checkpointPath()));
        }

        QVERIFY(rig.store.saveCheckpoint(crashed));
        rig.buildController();
        HomeView home(rig.services);
        home.show();
        RecoveryPrompt* prompt = home.recovery();
        prompt->discardButton()->click();
        QVERIFY(prompt->confirmDiscardButton()->isVisible());
        prompt->keepButton()->click();
        QVERIFY(prompt->isVisible() && prompt->saveButton()->isVisible());
        QVERIFY(QFileInfo::exists(rig.store.checkpointPath()));
        prompt->discardButton()->click();
        prompt->confirmDiscardButton()->click();
        QVERIFY(!prompt->isVisible());
        QVERIFY(!QFileInfo::exists(rig.store.checkpointPath()));
        QCOMPARE(home.records().size(), 1); // only the call saved above
    }

    void beginThatComesToNothingKeepsTheWindow()
    {
        // Without a sign-in the start asks for the main window; hiding it then would hide the reason.
        test::MainWindowRig rig;
        QStringList posted;
        QObject observer;
        for (const QString& name : {Notifications::showMain, Notifications::hideMain})
            NotificationCenter::instance().observe(name, &observer,
                                                   [&](const Notification& n) { posted.append(n.name); });
        HomeView home(rig.services);
        home.show();
        home.sessionCard()->button()->click();
        QTRY_COMPARE(posted, QStringList{Notifications::showMain});
        QTest::qWait(20);
        QCOMPARE(posted, QStringList{Notifications::showMain});
        QVERIFY(home.sessionCard()->clockRunning());
        home.hide();
        QVERIFY(!home.sessionCard()->clockRunning());
    }

    void controllersSummaryFollowsItsAnalysis()
    {
        test::AnimationClock clock;
        test::MainWindowRig rig;
        MainView view(rig.services);
        view.show();
        QVERIFY(!view.debrief());

        const SessionRecord call = test::recordedCall(test::Recording::discovery);
        PostCallSummary summary = PostCallSummary::atStop(call, PostCallSummary::AnalysisRequest::started);
        rig.controller->setPostCallSummary(summary);
        QVERIFY(view.debrief());
        auto* placeholder = qobject_cast<AnalysisPlaceholder*>(view.debrief()->analysis());
        QVERIFY(placeholder && placeholder->kind() == AnalysisPlaceholder::Kind::loading);
        clock.advanceBy(2500);
        QCOMPARE(view.debrief()->ring()->shown(), summary.score);

        // The analysis arrives for the same call: the open debrief takes it and its score.
        PostCallView* shown = view.debrief();
        summary.analysis = call.analysis();
        summary.score = 91;
        rig.controller->setPostCallSummary(summary);
        QCOMPARE(view.debrief(), shown);
        QVERIFY(dynamic_cast<ValleyAnalysisContent*>(view.debrief()->analysis()));
        clock.advanceBy(2500);
        QCOMPARE(view.debrief()->ring()->shown(), 91);

        // Dismissed, it is withdrawn, so that it does not come back.
        emit view.debrief()->dismissed();
        QVERIFY(!rig.controller->postCallSummary());
        QVERIFY(!view.debrief());
    }

    void markdownOfTheCallOnDisplay()
    {
        test::MainWindowRig rig;
        MainView view(rig.services);
        view.show();
        SessionRecord call = test::recordedCall(test::Recording::discovery);
        const std::optional<QString> analysis = std::exchange(call.analysisJSON, std::nullopt);
        view.presentDebrief(PostCallSummary::fromRecord(call), call);

        // The call is saved again with its analysis while its debrief is open: the Markdown follows.
        call.analysisJSON = analysis;
        NotificationCenter::instance().post(Notifications::sessionSaved, QVariant::fromValue(call));
        const QString path = rig.home.file(QStringLiteral("debrief.md"));
        QVERIFY(view.debrief()->saveMarkdown(path));
        QCOMPARE(QString::fromUtf8(test::readFile(path)), DebriefText::markdown(call));
        QVERIFY(view.debrief()->status().startsWith(QStringLiteral("Saved to ")));

        view.debrief()->copyMarkdown();
        QCOMPARE(QGuiApplication::clipboard()->text(), DebriefText::markdown(call));

        const QString blocked = rig.home.file(QStringLiteral("debrief.md/inside.md"));
        QVERIFY(!view.debrief()->saveMarkdown(blocked));
        QVERIFY2(view.debrief()->status().startsWith(QStringLiteral("Could not save ")),
                 qPrintable(view.debrief()->status()));
    }

    void playbookSavesLoadsAndShowsSavedForTwoSeconds()
    {
        test::AnimationClock clock;
        test::MainWindowRig rig;
        // A profile written by an older version (how it is read is the profile's own test).
        test::writeFile(rig.services.profileFile,
                        R"({"productName":"Quiro","callType":"Demo","objection1":"Too expensive",
            "objection3":"Timing"})");
        PlaybookView playbook(rig.services.profileFile);
        playbook.show();
        QCOMPARE(playbook.field(6)->text(), QStringLiteral("Timing"));

        // Edits survive a look at another tab.
        QTest::keyClicks(playbook.field(3)->lineEdit(), QStringLiteral(" call"));
        playbook.hide();
        playbook.show();
        QCOMPARE(playbook.field(3)->text(), QStringLiteral("Demo call"));

        playbook.saveButton()->click();
        QCOMPARE(ProductProfile::load(rig.services.profileFile).callType, QStringLiteral("Demo call"));
        QVERIFY(playbook.saveButton()->isSaved());
        // Qt's animation clock places a start within a frame, so the deadline is checked a few frames either side.
        clock.advanceBy(PlaybookView::savedMs - 100);
        QVERIFY(playbook.saveButton()->isSaved());
        clock.advanceBy(200);
        QVERIFY(!playbook.saveButton()->isSaved());

        // A write that fails keeps the edits and says why.
        PlaybookView blocked(rig.home.file(QStringLiteral(".quiroai/profile.json/inside.json")));
        blocked.show();
        blocked.field(0)->setText(QStringLiteral("Kept"));
        blocked.saveButton()->click();
        QVERIFY(!blocked.saveButton()->isSaved());
        QVERIFY2(blocked.error()->isVisible() && blocked.error()->text().startsWith("Could not save your playbook"),
                 qPrintable(blocked.error()->text()));
        QCOMPARE(blocked.field(0)->text(), QStringLiteral("Kept"));
    }

    void languageChoiceIsSavedForTheNextCall()
    {
        test::AnimationClock clock;
        test::MainWindowRig rig;
        test::writeFile(rig.services.envFile, "API_BASE=https://localhost:8443\nWIDGET_MODE=island\nSTT_LANGUAGE=fr\n");
        SettingsHubView settings(rig.services);
        settings.show();
        QComboBox* picker = settings.languagePicker();
        QCOMPARE(picker->currentData().toString(), QStringLiteral("fr"));

        for (const QString& code : {QStringLiteral("es"), QStringLiteral("de")}) {
            picker->setCurrentIndex(picker->findData(code)); // as a person's choice does, before it is announced
            emit picker->activated(picker->currentIndex());
        }
        QVERIFY(settings.languageStatus().startsWith(QStringLiteral("Saved")));
        clock.advanceBy(SettingsHubView::savedMs + 20);
        QVERIFY(settings.languageStatus().isEmpty());
        // The next call reads the last choice (how the file keeps its other lines is the file's own test).
        QCOMPARE(Config::load(QString(), rig.services.envFile).language, QStringLiteral("de"));

        // Without a sound server each side says why it cannot be heard and offers another try.
        HearingRow* voice = settings.hearing(HearingRow::Side::seller);
        QTRY_COMPARE_WITH_TIMEOUT(voice->status(), HearingRow::Status::problem, 10000);
        QVERIFY2(voice->detail().contains(QStringLiteral("PulseAudio")), qPrintable(voice->detail()));
        QTRY_COMPARE_WITH_TIMEOUT(settings.hearing(HearingRow::Side::client)->status(), HearingRow::Status::problem,
                                  10000);
        settings.resize(MainWindow::openingSize);
        test::saveScreenshot(test::wholePage(&settings), QStringLiteral("main-settings-no-sound-server"));
        settings.hide();
        QCOMPARE(voice->status(), HearingRow::Status::idle);
    }

    void screenshots()
    {
        test::AnimationClock clock;
        test::MainWindowRig rig;
        {
            MainWindow window(rig.services);
            window.show();
            const QImage image = settleAndGrab(window, clock, QStringLiteral("main-home-empty"));
            TabPill* homePill = window.view()->tabBar()->pill(AppTab::home);
            QVERIFY(test::sameColor(pixelAt(image, &window, homePill, {6, homePill->height() / 2}), DS::ink, 2));
        }

        rig.storeCalls(test::Recording::finished);
        QVERIFY(rig.store.saveCheckpoint(test::recordedCheckpoint(test::Recording::crashed)));
        rig.buildController();
        MainWindow withCalls(rig.services);
        withCalls.show();
        QImage image = settleAndGrab(withCalls, clock, QStringLiteral("main-home-calls"));
        test::saveScreenshot(test::wholePage(withCalls.view()->home()), QStringLiteral("main-home-calls-whole"));

        // The debrief in its three states, on real calls.
        const SessionRecord discovery = test::recordedCall(test::Recording::discovery);
        withCalls.view()->presentDebrief(PostCallSummary::atStop(discovery, PostCallSummary::AnalysisRequest::started),
                                         discovery);
        settleAndGrab(withCalls, clock, QStringLiteral("main-debrief-loading"));
        const SessionRecord tooShort = test::recordedCall(test::Recording::tooShort);
        withCalls.view()->presentDebrief(PostCallSummary::fromRecord(tooShort), tooShort);
        settleAndGrab(withCalls, clock, QStringLiteral("main-debrief-unavailable"));
        withCalls.view()->presentDebrief(PostCallSummary::fromRecord(discovery), discovery);
        image = settleAndGrab(withCalls, clock, QStringLiteral("main-debrief-analysis"));
        test::saveScreenshot(test::wholePage(withCalls.view()->debrief()),
                             QStringLiteral("main-debrief-analysis-whole"));
        ScoreRing* ring = withCalls.view()->debrief()->ring();
        QVERIFY(test::sameColor(pixelAt(image, &withCalls, ring, {ScoreRing::side / 2, 3}), DS::green, 24));
        QVERIFY(withCalls.view()->debrief()->findChild<TalkTimeline*>());
        withCalls.view()->dismissDebrief();

        test::writeFile(rig.services.profileFile,
                        R"({"product_name":"Quiro","value_prop":"Real-time hints during live sales calls",
                            "target_customer":"B2B SaaS sales teams","call_type":"Discovery",
                            "objections":["Too expensive","Need to check with the team"]})");
        withCalls.view()->selectTab(AppTab::playbook);
        settleAndGrab(withCalls, clock, QStringLiteral("main-playbook"));
    }
};

int main(int argc, char** argv)
{
    // Drawn off screen, and with no sound server to find: the real ones are the desktop test's.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("PULSE_SERVER", "unix:/nonexistent/quiro-test-no-sound-server");
    QApplication app(argc, argv);
    TestMainWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_main_window.moc"
