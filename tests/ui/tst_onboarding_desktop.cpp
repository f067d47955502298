// The first-run window on the test desktop (scripts/test-desktop), with the real device checks:
// a fresh home walks through the four pages, and the permissions page follows the sound server
// without a click. Screenshots of every page go under the build tree.
#include "core/Paths.h"
#include "core/Preferences.h"
#include "support/AnimationClock.h"
#include "support/AwaitTask.h"
#include "support/Pixels.h"
#include "support/PrivateSoundServer.h"
#include "support/TestSupport.h"
#include "ui/kit/AccentButton.h"
#include "ui/kit/DS.h"
#include "ui/kit/EditField.h"
#include "ui/kit/QuietButton.h"
#include "ui/onboarding/GrantRow.h"
#include "ui/onboarding/OnboardingView.h"
#include "ui/onboarding/OnboardingWindow.h"
#include "ui/onboarding/PermissionsPage.h"
#include "ui/onboarding/PlaybookSetupPage.h"
#include "ui/onboarding/ReadyPage.h"
#include "ui/onboarding/WelcomePage.h"

#include <QApplication>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace quiro;
using Field = OnboardingModel::Field;

namespace {

// What the screen shows of the window, after the page has come to rest.
QImage screenOf(QWidget& window, test::AnimationClock& clock)
{
    clock.advanceBy(1200);
    QTest::qWait(50); // let the window server draw the last frame
    return test::grabScreen(QRect(window.mapToGlobal(QPoint(0, 0)), window.size()));
}

// Inside a capsule button, left of its title.
QColor capsuleOf(const QImage& screen, QWidget& window, QWidget* button)
{
    return screen.pixelColor(button->mapTo(&window, QPoint(14, button->height() / 2)));
}

} // namespace

class TestOnboardingDesktop : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        QUIRO_REQUIRE_TEST_DESKTOP();
        m_home = std::make_unique<test::TempHome>();
    }

    void cleanup() { m_home.reset(); }

    void freshHomeWalksThroughTheFourPages()
    {
        OnboardingWindow window;
        OnboardingView& view = *window.view();
        OnboardingModel& model = window.model();
        QSignalSpy completed(&window, &OnboardingWindow::completed);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        QImage screen = screenOf(window, m_clock);
        test::saveScreenshot(screen, QStringLiteral("onboarding-welcome"));
        QVERIFY(test::sameColor(capsuleOf(screen, window, view.welcomePage()->startButton()), DS::accent, 3));
        QTest::mouseClick(view.welcomePage()->startButton(), Qt::LeftButton);
        QCOMPARE(model.page(), OnboardPage::permissions);

        // The check made when the window appeared found both devices of the test desktop.
        AccentButton* main = view.permissionsPage()->mainButton();
        QTRY_COMPARE_WITH_TIMEOUT(main->text(), QStringLiteral("Continue"), 10000);
        screen = screenOf(window, m_clock);
        test::saveScreenshot(screen, QStringLiteral("onboarding-permissions"));
        QCOMPARE(view.permissionsPage()->microphoneRow()->detail(), QStringLiteral("Ready — Microphone (mic)"));
        QCOMPARE(view.permissionsPage()->playbackRow()->detail(),
                 QStringLiteral("Ready — monitor of Speaker (spk.monitor)"));

        // The user's request with both devices there moves on by itself.
        QVERIFY(test::awaitTask(model.requestAll(), 10000));
        QCOMPARE(model.page(), OnboardPage::playbook);

        PlaybookSetupPage* playbook = view.playbookPage();
        const QList<std::pair<Field, QString>> typed{
            {Field::productName, QStringLiteral("Acme Cloud")},
            {Field::valueProp, QStringLiteral("Backups that restore in minutes")},
            {Field::target, QStringLiteral("IT leads at clinics")},
            {Field::callType, QStringLiteral("Discovery")},
            {Field::objection2, QStringLiteral("We already have backups")},
        };
        for (const auto& [field, text] : typed)
            QTest::keyClicks(playbook->field(field)->lineEdit(), text);
        test::saveScreenshot(screenOf(window, m_clock), QStringLiteral("onboarding-playbook"));
        QTest::mouseClick(playbook->saveButton(), Qt::LeftButton);
        QCOMPARE(model.page(), OnboardPage::ready);
        // Where each field goes is the model's test; that the typing reaches the file is this one's.
        QVERIFY(test::readFile(Paths::profileFile()).contains(R"("value_prop": "Backups that restore in minutes")"));

        screen = screenOf(window, m_clock);
        test::saveScreenshot(screen, QStringLiteral("onboarding-ready"));
        QVERIFY(test::sameColor(capsuleOf(screen, window, view.readyPage()->startButton()), DS::accent, 3));
        QVERIFY(!Preferences::onboardingDone());
        QTest::mouseClick(view.readyPage()->startButton(), Qt::LeftButton);
        QCOMPARE(completed.size(), 1);
        QVERIFY(Preferences::onboardingDone());
    }

    void permissionsFollowTheSoundServerWithoutAClick()
    {
        // A microphone and no output: the computer's playback cannot be recorded.
        test::PrivateSoundServer sound(m_home->path(),
                                       {QStringLiteral("module-sine-source source_name=sinemic rate=16000")});
        QVERIFY2(test::PrivateSoundServer::answers(), "the private sound server did not start");

        OnboardingWindow window;
        OnboardingModel& model = window.model();
        model.next();
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        PermissionsPage* page = window.view()->permissionsPage();
        AccentButton* main = page->mainButton();
        QTRY_VERIFY_WITH_TIMEOUT(!model.playback().reason.isEmpty(), 10000);
        QCOMPARE(main->text(), QStringLiteral("Allow access"));

        QTest::mouseClick(main, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(model.askedOnce() && !model.checking(), 10000);
        QCOMPARE(model.page(), OnboardPage::permissions);
        QVERIFY(model.micOK());
        QCOMPARE(main->text(), QStringLiteral("Check again"));
        // The reason is the one quiro doctor gives, on the row it is about.
        const GrantRow* playbackRow = page->playbackRow();
        QVERIFY2(playbackRow->detail().startsWith(QStringLiteral("no output device to listen to")),
                 qPrintable(playbackRow->detail()));
        test::saveScreenshot(screenOf(window, m_clock), QStringLiteral("onboarding-permissions-missing"));

        // An output appears while the page is shown: the next poll (every 1.5 s) finds its monitor.
        QVERIFY(test::PrivateSoundServer::pactl(
            {QStringLiteral("load-module"), QStringLiteral("module-null-sink"), QStringLiteral("sink_name=spk")}));
        QTRY_COMPARE_WITH_TIMEOUT(main->text(), QStringLiteral("Continue"), PermissionsPage::pollIntervalMs + 1500);

        // On, and past the playbook with nothing typed: the profile is still written (how, the profile's test).
        QTest::mouseClick(main, Qt::LeftButton);
        QCOMPARE(model.page(), OnboardPage::playbook);
        QTest::mouseClick(window.view()->playbookPage()->skipButton(), Qt::LeftButton);
        QCOMPARE(model.page(), OnboardPage::ready);
        QVERIFY(QFile::exists(Paths::profileFile()));
    }

private:
    std::unique_ptr<test::TempHome> m_home;
    test::AnimationClock m_clock;
};

QTEST_MAIN(TestOnboardingDesktop)

#include "tst_onboarding_desktop.moc"
