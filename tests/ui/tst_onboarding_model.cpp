// The first-run model without devices or a display: the page flow, the profile it writes, and
// the user's request for the device checks with checks the test controls.
#include "core/Paths.h"
#include "support/AwaitTask.h"
#include "support/TestSupport.h"
#include "ui/onboarding/OnboardingModel.h"

#include <QCoreApplication>
#include <QCoro/QCoroSignal>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace quiro;
using Field = OnboardingModel::Field;

namespace {

QJsonObject writtenProfile()
{
    return QJsonDocument::fromJson(test::readFile(Paths::profileFile())).object();
}

// A check that answers when the test says so, noting when it was asked.
struct HeldCheck {
    HeldCheck(QStringList* askedLog, QString checkName)
        : asked(askedLog)
        , name(std::move(checkName))
    {
    }

    QStringList* asked;
    QString name;
    std::shared_ptr<QObject> release = std::make_shared<QObject>();
    HearingCheck::Result answer;

    std::function<QCoro::Task<HearingCheck::Result>()> probe()
    {
        return [this]() -> QCoro::Task<HearingCheck::Result> {
            asked->append(name);
            co_await qCoro(release.get(), &QObject::objectNameChanged);
            co_return answer;
        };
    }
    void answerWith(bool ok)
    {
        answer = ok ? HearingCheck::Result{true, name, {}} : HearingCheck::Result{false, {}, name + " is missing"};
        release->setObjectName(QStringLiteral("answered"));
    }
};

} // namespace

class TestOnboardingModel : public QObject {
    Q_OBJECT

private slots:
    void init() { m_home = std::make_unique<test::TempHome>(); }
    void cleanup() { m_home.reset(); }

    void leavingThePlaybookWritesTheProfile()
    {
        // Each field goes where it belongs, as typed; an earlier profile is replaced, not merged. (The
        // pages in order are the desktop test's walk.)
        test::writeFile(Paths::profileFile(), R"({"product_name":"Old","objections":["Old one"],"extra":1})");
        OnboardingModel model;
        QSignalSpy changes(&model, &OnboardingModel::pageChanged);
        model.next();
        model.next();
        const QStringList typed{" Acme ", "Hints live", "SaaS teams", "Demo", "Too expensive", {}, "Ask the team"};
        for (int i = 0; i < OnboardingModel::fieldCount; ++i)
            model.setText(Field(i), typed.at(i));
        model.next();
        model.next(); // the last page stays
        QCOMPARE(model.page(), OnboardPage::ready);
        QCOMPARE(changes.size(), 3);
        const QByteArray expected =
            R"({"product_name":" Acme ","value_prop":"Hints live","target_customer":"SaaS teams",)"
            R"("call_type":"Demo","objections":["Too expensive","Ask the team"]})";
        QCOMPARE(writtenProfile(), QJsonDocument::fromJson(expected).object());
    }

    void failedSaveKeepsThePageAndWhatWasTyped()
    {
        // A file where the folder should be: the profile cannot be written.
        test::writeFile(Paths::home() + QStringLiteral("/.quiroai"), "not a folder");
        OnboardingModel model;
        model.next();
        model.next();
        model.setText(Field::productName, QStringLiteral("Acme"));
        model.next();
        QCOMPARE(model.page(), OnboardPage::playbook);
        QVERIFY(model.saveError().has_value());
        QVERIFY2(model.saveError()->startsWith(QStringLiteral("Your product profile could not be saved: ")),
                 qPrintable(*model.saveError()));
        QCOMPARE(model.text(Field::productName), QStringLiteral("Acme"));

        QVERIFY(QFile::remove(Paths::home() + QStringLiteral("/.quiroai")));
        model.next();
        QCOMPARE(model.page(), OnboardPage::ready);
        QCOMPARE(model.saveError(), std::nullopt);
        QCOMPARE(writtenProfile().value(QStringLiteral("product_name")).toString(), QStringLiteral("Acme"));
    }

    void requestChecksMicrophoneThenPlaybackAndAdvancesOnlyFromPermissions()
    {
        QStringList asked;
        HeldCheck mic(&asked, QStringLiteral("mic"));
        HeldCheck playback(&asked, QStringLiteral("playback"));
        OnboardingModel model({mic.probe(), playback.probe()});
        model.next();

        // The playback monitor missing: the flow stays, and the reason is there to show.
        QCoro::Task<> request = model.requestAll();
        QVERIFY(model.checking());
        QCOMPARE(asked, QStringList{QStringLiteral("mic")}); // one after the other
        mic.answerWith(true);
        QTRY_COMPARE(asked.size(), 2);
        playback.answerWith(false);
        QVERIFY(test::awaitTask(std::move(request)));
        QVERIFY(!model.checking());
        QVERIFY(model.askedOnce());
        QVERIFY(model.micOK() && !model.scrOK() && !model.bothGranted());
        QCOMPARE(model.playback().reason, QStringLiteral("playback is missing"));
        QCOMPARE(model.page(), OnboardPage::permissions);

        // A request still running when the user skips ahead must not move the flow on again (which
        // would save the profile before anything was typed).
        mic.release = std::make_shared<QObject>();
        playback.release = std::make_shared<QObject>();
        QCoro::Task<> late = model.requestAll();
        model.next();
        mic.answerWith(true);
        QTRY_COMPARE(asked.size(), 4);
        playback.answerWith(true);
        QVERIFY(test::awaitTask(std::move(late)));
        QVERIFY(model.bothGranted());
        QCOMPARE(model.page(), OnboardPage::playbook);
        QVERIFY(!QFile::exists(Paths::profileFile()));
    }

private:
    std::unique_ptr<test::TempHome> m_home;
};

QTEST_GUILESS_MAIN(TestOnboardingModel)

#include "tst_onboarding_model.moc"
