#include "coaching/DecisionEngine.h"
#include "coaching/Playbook.h"
#include "coaching/ProductContext.h"
#include "coaching/ProductProfile.h"
#include "core/Paths.h"
#include "support/TestSupport.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <QTest>

using namespace quiro;
using test::row;

Q_DECLARE_METATYPE(quiro::Stage)

namespace {
const QString s_defaultGoal = QStringLiteral("CALL GOAL: Move the deal to the next step");
const QByteArray s_noFile("<none>");
} // namespace

class TestCoaching : public QObject {
    Q_OBJECT

private slots:
    void mapCategory_data()
    {
        QTest::addColumn<QString>("subType");
        QTest::addColumn<QString>("intent");
        QTest::addColumn<QString>("category");
        row("table wins over intent", "price", "BUYING_SIGNAL", "price");
        row("intent BUYING_SIGNAL", "", "BUYING_SIGNAL", "buying_signal");
        row("intent CLOSING", "", "CLOSING", "buying_signal");
        row("sub-type contains buying_signal", "strong_buying_signal", "NEUTRAL", "buying_signal");
        row("seller behaviour", "monologue", "SELLER_BEHAVIOR", "overtalking");
        row("unmapped falls back to price", "weather", "OBJECTION", "price");
        row("sub-type is case-sensitive", "Competitor", "", "price");
    }

    void mapCategory()
    {
        QFETCH(QString, subType);
        QFETCH(QString, intent);
        QFETCH(QString, category);
        QCOMPARE(Playbook::mapCategory(subType, intent), category);
    }

    void decisionScoring_data()
    {
        // Each commit is "category@seconds" after the start; the candidate is scored at `at`.
        // A score of -1 means the engine refuses.
        QTest::addColumn<QStringList>("commits");
        QTest::addColumn<QString>("category");
        QTest::addColumn<Stage>("stage");
        QTest::addColumn<double>("at");
        QTest::addColumn<double>("score");

        const QStringList none;
        QTest::newRow("fresh: price, no stage bonus") << none << "price" << Stage::discovery << 0.0 << 8.0;
        QTest::newRow("fresh: buying signal in closing") << none << "buying_signal" << Stage::closing << 0.0 << 12.0;
        QTest::newRow("fresh: talk less in opening") << none << "manager_talking" << Stage::opening << 0.0 << 7.0;
        QTest::newRow("fresh: talk less in presentation")
            << none << "manager_talking" << Stage::presentation << 0.0 << -1.0;
        QTest::newRow("fresh: unprioritised category") << none << "overtalking" << Stage::objection << 0.0 << -1.0;
        QTest::newRow("fresh: hesitation reaches the threshold exactly")
            << none << "client_hesitation" << Stage::opening << 0.0 << 6.0;

        const QStringList price{"price@0"};
        QTest::newRow("cooldown: 5.9 s") << price << "need" << Stage::objection << 5.9 << -1.0;
        QTest::newRow("cooldown: 6.0 s") << price << "need" << Stage::objection << 6.0 << 7.5;
        QTest::newRow("short cooldown: 2.9 s") << price << "buying_signal" << Stage::closing << 2.9 << -1.0;
        QTest::newRow("short cooldown: 3.0 s") << price << "buying_signal" << Stage::closing << 3.0 << 10.5;
        QTest::newRow("short cooldown is for the candidate's priority")
            << QStringList{"buying_signal@0"} << "price" << Stage::objection << 3.0 << -1.0;

        QTest::newRow("repeat at 24.9 s") << price << "price" << Stage::objection << 24.9 << -1.0;
        QTest::newRow("repeat at 25.0 s") << price << "price" << Stage::objection << 25.0 << 8.5;
        QTest::newRow("frequency window at 29.9 s") << price << "price" << Stage::objection << 29.9 << 8.5;
        QTest::newRow("frequency window at 30.0 s") << price << "price" << Stage::objection << 30.0 << 10.0;

        const QStringList three{"price@0", "need@10", "urgency@20"};
        QTest::newRow("three hints in 30 s cost 4.5") << three << "trust" << Stage::presentation << 29.9 << -1.0;
        QTest::newRow("the oldest leaves the window") << three << "trust" << Stage::presentation << 30.0 << 6.0;

        const QStringList talk{"manager_talking@0"};
        QTest::newRow("talk less again at 29.9 s") << talk << "manager_talking" << Stage::discovery << 29.9 << -1.0;
        QTest::newRow("talk less again at 30.0 s") << talk << "manager_talking" << Stage::discovery << 30.0 << 7.0;
    }

    void decisionScoring()
    {
        QFETCH(QStringList, commits);
        QFETCH(QString, category);
        QFETCH(Stage, stage);
        QFETCH(double, at);
        QFETCH(double, score);

        const double start = 1'800'000'000.0;
        ManualClock clock(start);
        DecisionEngine engine(clock);
        for (const QString& commit : commits) {
            const QStringList parts = commit.split('@');
            clock.set(start + parts.at(1).toDouble());
            engine.commit(parts.at(0));
        }
        clock.set(start + at);
        QCOMPARE(engine.shouldFire(category, stage).value_or(-1.0), score);
    }

    void refusedCandidateLeavesClocksAlone()
    {
        ManualClock clock;
        DecisionEngine engine(clock);
        QVERIFY(engine.secondsSinceLastHint() > 1e9);
        engine.commit(QStringLiteral("price"), QStringLiteral("Ask what ROI would justify this"));
        clock.advance(4.0);
        QVERIFY(!engine.shouldFire(QStringLiteral("need"), Stage::objection));
        QVERIFY(!engine.shouldFire(QStringLiteral("overtalking"), Stage::objection));
        QCOMPARE(engine.secondsSinceLastHint(), 4.0);
        clock.advance(2.0);
        QCOMPARE(engine.shouldFire(QStringLiteral("need"), Stage::objection), std::optional<double>(7.5));
    }

    void duplicateTextNormalisation_data()
    {
        QTest::addColumn<QString>("candidate");
        QTest::addColumn<bool>("duplicate");
        QTest::newRow("same text") << "Ask who else owns this decision" << true;
        QTest::newRow("title case, two leading blanks") << "  Ask Who Else Owns This Decision" << true;
        QTest::newRow("trailing tab") << "ask who else owns this decision\t" << true;
        QTest::newRow("full stop at the end") << "Ask who else owns this decision." << false;
        QTest::newRow("line breaks are not trimmed") << "\nAsk who else owns this decision" << false;
        QTest::newRow("inner blanks are not collapsed") << "Ask who  else owns this decision" << false;
    }

    void duplicateTextNormalisation()
    {
        QFETCH(QString, candidate);
        QFETCH(bool, duplicate);
        ManualClock clock;
        DecisionEngine engine(clock);
        engine.commit(QStringLiteral("authority"), QStringLiteral("Ask who else owns this decision"));
        QCOMPARE(engine.isDuplicateText(candidate), duplicate);
    }

    void remembersLastFiveTexts()
    {
        ManualClock clock;
        DecisionEngine engine(clock);
        for (int i = 1; i <= 6; ++i) {
            clock.advance(60);
            engine.commit(QStringLiteral("price"), QStringLiteral("text %1").arg(i));
        }
        // Commits without a text move the clocks but forget no text.
        for (int i = 0; i < 3; ++i)
            engine.commit(QStringLiteral("manager_talking"));
        QVERIFY(!engine.isDuplicateText(QStringLiteral("text 1")));
        for (int i = 2; i <= 6; ++i)
            QVERIFY2(engine.isDuplicateText(QStringLiteral("TEXT %1").arg(i)), qPrintable(QString::number(i)));
        QVERIFY(!engine.isDuplicateText(QString()));
        clock.advance(1.0);
        QCOMPARE(engine.secondsSinceLastHint(), 1.0);
    }

    void compiledContext_data()
    {
        QTest::addColumn<QByteArray>("profile"); // "<none>": no profile file
        QTest::addColumn<QByteArray>("product"); // "<none>": no product file given
        QTest::addColumn<bool>("loaded");
        QTest::addColumn<QString>("compiled");

        // The lines above the default call goal; nullptr stands for no file.
        const auto row = [](const char* name, const char* profile, const char* product, bool loaded,
                            const char* lines) {
            QTest::newRow(name) << (profile ? QByteArray(profile) : s_noFile)
                                << (product ? QByteArray(product) : s_noFile) << loaded
                                << QString::fromUtf8(lines) + s_defaultGoal;
        };
        row("no files", nullptr, nullptr, false, "");
        row("malformed files", "{oops", "not json", false, "");
        row("name with empty value prop", R"({"product_name":"Acme","value_prop":""})", nullptr, true,
            "PRODUCT: Acme\n");
        row("name with value prop", R"({"product_name":"Acme","value_prop":"Fast CRM"})", nullptr, true,
            "PRODUCT: Acme — Fast CRM\n");
        row("empty strings and empty objections give no lines",
            R"({"target_customer":"","call_type":"","objections":[]})", nullptr, true, "");
        row("objections with a non-string entry give no line", R"({"objections":["a",1]})", nullptr, true, "");
        row("product line without a one-liner ends in the dash", nullptr, R"({"product":{"name":"Acme"}})", true,
            "PRODUCT: Acme — \n");
        row("an empty profile name suppresses both product lines", R"({"product_name":""})",
            R"({"product":{"name":"Acme"}})", true, "");
        row("profile name wins over the product file", R"({"product_name":"Mine"})", R"({"product":{"name":"Acme"}})",
            true, "PRODUCT: Mine\n");
        row("empty company description and guarantee still give lines", nullptr,
            R"({"company":{"description":""},"product":{"proof":{"guarantee":""}}})", true, "COMPANY: \nGUARANTEE: \n");
        row("values of the wrong type count as absent", nullptr,
            R"({"company":{"description":7},"product":{"name":5,"differentiators":"fast",)"
            R"("pricing":[{"tier":"Pro"},"Free"],"proof":[]},"competitors":{},"icp":{"pains":[]},"call_goal_human":3})",
            true, "");
        row("price tiers", nullptr,
            R"({"product":{"pricing":[{"tier":"Pro","price":"$49","per":"month"},{"tier":"Team"},{"price":"$9","per":7}]}})",
            true, "PRICING: Pro — $49 month; Team —; — $9\n");
        row("competitor with absent fields", nullptr, R"({"competitors":[{"name":"Rival"}]})", true,
            "COMPETITORS: Rival (weakness: ; our edge: )\n");
        QTest::newRow("empty call goal is still the goal")
            << s_noFile << QByteArray(R"({"call_goal_human":""})") << true << QStringLiteral("CALL GOAL: ");
    }

    void compiledContext()
    {
        QFETCH(QByteArray, profile);
        QFETCH(QByteArray, product);
        QFETCH(bool, loaded);
        QFETCH(QString, compiled);

        test::TempHome home;
        if (profile != s_noFile)
            test::writeFile(Paths::profileFile(), profile);
        std::optional<QString> productPath;
        if (product != s_noFile) {
            productPath = home.file(QStringLiteral("product.json"));
            test::writeFile(*productPath, product);
        }
        const ProductContext context(productPath);
        QCOMPARE(context.loaded(), loaded);
        QCOMPARE(context.compiled(), compiled);
    }

    void fullProductFileGivesEveryLineInOrder()
    {
        test::TempHome home;
        test::writeFile(Paths::profileFile(), R"({"target_customer":"Dental clinics","call_type":"discovery",
            "objections":["Too expensive"]})");
        const QString productPath = home.file(QStringLiteral("product.json"));
        test::writeFile(productPath, R"({
            "product": {"name": "Acme", "one_liner": "Scheduling that fills chairs",
                        "pricing": [{"tier": "Starter", "price": "$29", "per": "month"},
                                    {"tier": "Pro", "price": "$49", "per": "month"}],
                        "differentiators": ["SMS reminders", "No setup fee"],
                        "proof": {"case_studies": ["Smile Co: +20% bookings"], "guarantee": "30-day refund",
                                  "metrics": ["4.8 stars", "2,000 clinics"]}},
            "company": {"description": "Acme Health, Berlin"},
            "competitors": [{"name": "Rival", "their_weakness": "slow support", "our_advantage": "24/7 chat"},
                            {"name": "Other", "their_weakness": "no SMS", "our_advantage": "SMS built in"}],
            "icp": {"pains": ["No-shows", "Phone tag"]},
            "call_goal_human": "Book a pilot"})");
        const ProductContext context(productPath);
        QVERIFY(context.loaded());
        QCOMPARE(context.callGoal(), QStringLiteral("Book a pilot"));
        const QStringList expected{
            "TARGET: Dental clinics",
            "CALL TYPE: discovery",
            "KEY OBJECTIONS TO WATCH: Too expensive",
            QString::fromUtf8("PRODUCT: Acme — Scheduling that fills chairs"),
            "COMPANY: Acme Health, Berlin",
            QString::fromUtf8("PRICING: Starter — $29 month; Pro — $49 month"),
            "DIFFERENTIATORS: SMS reminders; No setup fee",
            "CASE STUDIES: Smile Co: +20% bookings",
            "GUARANTEE: 30-day refund",
            "METRICS: 4.8 stars; 2,000 clinics",
            "COMPETITORS: Rival (weakness: slow support; our edge: 24/7 chat); Other (weakness: no SMS; our edge: SMS "
            "built in)",
            "CUSTOMER PAINS: No-shows; Phone tag",
            "CALL GOAL: Book a pilot",
        };
        QCOMPARE(context.compiled().split('\n'), expected);
        QVERIFY(!context.compiled().endsWith('\n'));
    }

    void objectionResponses_data()
    {
        QTest::addColumn<QByteArray>("product");
        QTest::addColumn<QString>("block"); // "<none>" when there is no block
        const QString heading = QStringLiteral("OBJECTION RESPONSES (use these exact phrases and proofs):");

        QTest::newRow("empty object") << QByteArray(R"({"objection_responses":{}})") << "<none>";
        QTest::newRow("only a phrase") << QByteArray(R"({"objection_responses":{"price":{"phrase":"Worth it"}}})")
                                       << heading + "\n  PRICE: phrase='Worth it' | proof='' | question=''";
        QTest::newRow("members sorted by key")
            << QByteArray(R"({"objection_responses":{"timing":{"phrase":"t","proof":"p","question":"q?"},)"
                          R"("budget":{"question":"How much?"}}})")
            << heading + "\n  BUDGET: phrase='' | proof='' | question='How much?'" +
                   "\n  TIMING: phrase='t' | proof='p' | question='q?'";
        QTest::newRow("members that are not objects of strings are skipped")
            << QByteArray(R"({"objection_responses":{"a":"text","b":{"phrase":1},"c":{"proof":"ok"}}})")
            << heading + "\n  C: phrase='' | proof='ok' | question=''";
        QTest::newRow("heading alone when nothing qualifies")
            << QByteArray(R"({"objection_responses":{"a":[]}})") << heading;
    }

    void objectionResponses()
    {
        QFETCH(QByteArray, product);
        QFETCH(QString, block);
        test::TempHome home;
        const QString productPath = home.file(QStringLiteral("product.json"));
        test::writeFile(productPath, product);
        const ProductContext context(productPath);
        QCOMPARE(context.objectionResponses().value_or(QStringLiteral("<none>")), block);
    }

    void profileRoundTripIsPrivate()
    {
        test::TempHome home;
        const QString dir = home.file(QStringLiteral(".quiroai"));
        QVERIFY(!QFileInfo::exists(dir));

        ProductProfile profile;
        profile.productName = QStringLiteral("Acme");
        profile.callType = QStringLiteral("demo");
        profile.objections = {QStringLiteral("Too pricey"), QString(), QStringLiteral("No time")};
        QVERIFY(profile.save());

        const QString path = Paths::profileFile();
        QCOMPARE(test::modeBits(dir), test::privateDir);
        QCOMPARE(test::modeBits(path), test::privateFile);

        const QByteArray bytes = test::readFile(path);
        QVERIFY2(bytes.contains("\n    \""), bytes.constData()); // pretty-printed
        const QJsonObject written = QJsonDocument::fromJson(bytes).object();
        QCOMPARE(written.keys(),
                 (QStringList{"call_type", "objections", "product_name", "target_customer", "value_prop"}));
        QCOMPARE(written.value("value_prop"), QJsonValue(QString())); // empty strings are still written
        QCOMPARE(written.value("objections").toArray(), (QJsonArray{"Too pricey", "No time"}));

        ProductProfile expected = profile;
        expected.objections = {QStringLiteral("Too pricey"), QStringLiteral("No time")};
        QCOMPARE(ProductProfile::load(), expected);

        // Writing again replaces the whole file, and the coaching engine reads what the editor wrote.
        profile.objections.clear();
        QVERIFY(profile.save());
        QCOMPARE(ProductProfile::load().objections, QStringList());
        const ProductContext context(std::nullopt);
        QCOMPARE(context.compiled(), "PRODUCT: Acme\nCALL TYPE: demo\n" + s_defaultGoal);
    }

    void profileReaderFallbacks_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QStringList>("fields"); // name, value prop, target, call type, then the objections

        QTest::newRow("camel-case names")
            << QByteArray(R"({"productName":"A","valueProp":"B","target":"C","callType":"D"})")
            << QStringList{"A", "B", "C", "D"};
        QTest::newRow("snake case wins")
            << QByteArray(R"({"product_name":"A","productName":"x","target_customer":"C","target":"y"})")
            << QStringList{"A", "", "C", ""};
        QTest::newRow("present but empty snake key wins")
            << QByteArray(R"({"product_name":"","productName":"x"})") << QStringList{"", "", "", ""};
        QTest::newRow("first three objections")
            << QByteArray(R"({"objections":["1","2","3","4"]})") << QStringList{"", "", "", "", "1", "2", "3"};
        QTest::newRow("numbered objections")
            << QByteArray(R"({"objection1":"1","objection3":"3"})") << QStringList{"", "", "", "", "1", "", "3"};
        QTest::newRow("array wins over numbered")
            << QByteArray(R"({"objections":["a"],"objection1":"1"})") << QStringList{"", "", "", "", "a"};
        QTest::newRow("not an object") << QByteArray(R"(["A"])") << QStringList{"", "", "", ""};
    }

    void profileReaderFallbacks()
    {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, fields);
        test::TempHome home;
        test::writeFile(Paths::profileFile(), file);
        const ProductProfile profile = ProductProfile::load();
        QCOMPARE((QStringList{profile.productName, profile.valueProp, profile.targetCustomer, profile.callType} +
                  profile.objections),
                 fields);
    }
};

QTEST_GUILESS_MAIN(TestCoaching)
#include "tst_coaching.moc"
