// The pieces between the service and its model providers that decide what reaches the app or the
// model: how a model's answer is read and checked, what the prompts carry, and which settings
// the service accepts.

#include "service/http/ProviderSettings.h"
#include "service/llm/CoachPrompt.h"
#include "service/llm/ModelAnswer.h"
#include "support/TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

using namespace quiro;
using namespace quiro::service;
using Endpoint = Coach::Endpoint;

Q_DECLARE_METATYPE(Coach::Endpoint)

namespace {

const QString hint =
    QStringLiteral(R"({"confidence":0.8,"should_interrupt":true,"intent":"objection","sub_type":"Price",)"
                   R"("response":"Ask what budget they planned","extra":"dropped"})");

const QString analysis = QStringLiteral(
    R"({"score":71.6,"summary":"A good call.","strengths":["Clear demo"," "],"improvements":[],)"
    R"("missed_opportunities":[],"next_steps":["Call on Friday"],"talk_listen_note":"Balanced.",)"
    R"("objections":[{"type":"price","quote":"too expensive","handled":false,"note":"Ask about value"}]})");

} // namespace

class TestProviders : public QObject {
    Q_OBJECT

private slots:
    void modelAnswers_data()
    {
        QTest::addColumn<Endpoint>("endpoint");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("reply"); // the reply body, compact; "" when refused
        QTest::addColumn<QString>("problem");
        // "/hint" carries the checked object as text in "raw".
        const QString raw =
            QString::fromUtf8(QJsonDocument(QJsonObject{{"raw", R"({"confidence":0.8,"intent":"OBJECTION",)"
                                                                R"("response":"Ask what budget they planned",)"
                                                                R"("should_interrupt":true,"sub_type":"price"})"}})
                                  .toJson(QJsonDocument::Compact));
        QTest::newRow("hint, names normalised, extras dropped") << Endpoint::hint << hint << raw << "";
        QTest::newRow("hint in a fence after prose")
            << Endpoint::hint << "Here it is:\n```json\n" + hint + "\n```\nDone." << raw << "";
        QTest::newRow("hint of nine words")
            << Endpoint::hint << QString(hint).replace("planned", "planned for the whole next year") << ""
            << "\"response\" is longer than 8 words";
        QTest::newRow("interrupting without words")
            << Endpoint::hint << QString(hint).replace("Ask what budget they planned", " ") << ""
            << "\"response\" is empty";
        QTest::newRow("confidence as a percentage") << Endpoint::hint << QString(hint).replace("0.8", "80") << ""
                                                    << "\"confidence\" is not a number from 0 to 1";
        QTest::newRow("unknown intent") << Endpoint::hint << QString(hint).replace("objection", "worry") << ""
                                        << "\"intent\" is not one of the values asked for";
        QTest::newRow("not JSON") << Endpoint::hint << "The client worries about price."
                                  << ""
                                  << "the model's answer holds no JSON object";
        QTest::newRow("facts, blanks dropped") << Endpoint::extract << R"({"facts":["Budget: $40k",""]})"
                                               << R"({"facts":["Budget: $40k"]})"
                                               << "";
        QTest::newRow("facts not texts") << Endpoint::extract << R"({"facts":[40000]})"
                                         << ""
                                         << "\"facts\" is not a list of texts";
        QTest::newRow("assist") << Endpoint::assist << R"({"hint":"Ask about  the budget"})"
                                << R"({"hint":"Ask about the budget"})"
                                << "";
        QTest::newRow("assist without a hint") << Endpoint::assist << R"({"advice":"Ask"})"
                                               << ""
                                               << "\"hint\" is not a text";
        const QString checked =
            R"({"analysis":{"improvements":[],"missed_opportunities":[],"next_steps":["Call on Friday"],)"
            R"("objections":[{"handled":false,"note":"Ask about value","quote":"too expensive","type":"price"}],)"
            R"("score":72,"strengths":["Clear demo"],"summary":"A good call.","talk_listen_note":"Balanced."}})";
        QTest::newRow("analysis, whole score") << Endpoint::analyze << analysis << checked << "";
        QTest::newRow("analysis wrapped in its member")
            << Endpoint::analyze << R"({"analysis":)" + analysis + "}" << checked << "";
        QTest::newRow("analysis without next steps")
            << Endpoint::analyze << QString(analysis).replace("next_steps", "steps") << ""
            << "\"next_steps\" is not a list of texts";
        QTest::newRow("objection handled as text")
            << Endpoint::analyze << QString(analysis).replace("false", "\"no\"") << ""
            << "\"handled\" is not true or false";
    }
    void modelAnswers()
    {
        QFETCH(Endpoint, endpoint);
        QFETCH(QString, text);
        QFETCH(QString, reply);
        QFETCH(QString, problem);
        QString found;
        const auto body = ModelAnswer::reply(endpoint, text, &found);
        QCOMPARE(body ? QString::fromUtf8(QJsonDocument(*body).toJson(QJsonDocument::Compact)) : QString(), reply);
        QCOMPARE(found, problem);
    }

    void longListsAreCut()
    {
        QJsonArray facts;
        for (int i = 0; i < 30; ++i)
            facts.append(QStringLiteral("Fact %1").arg(i));
        QString problem;
        const auto body =
            ModelAnswer::reply(Endpoint::extract, QJsonDocument(QJsonObject{{"facts", facts}}).toJson(), &problem);
        QVERIFY(body);
        QCOMPARE(body->value("facts").toArray().size(), ModelAnswer::maxFacts);
    }

    void promptsCarryTheRequest()
    {
        const CoachRequest::Hint request{"the phrase {{context}}",
                                         "the context",
                                         "objection",
                                         "the stage goal",
                                         "the product",
                                         "the prepared answers",
                                         0.456,
                                         QJsonObject{{"budget_discussed", true}}};
        const QJsonArray messages = CoachPrompt::hint(request);
        QCOMPARE(messages.size(), 2);
        QCOMPARE(messages[0]["role"].toString(), "system");
        QVERIFY(messages[0]["content"].toString().contains("\"should_interrupt\""));
        const QString user = messages[1]["content"].toString();
        for (const char* part : {"the phrase {{context}}", "the context", "objection", "the stage goal", "the product",
                                 "the prepared answers", "45%", "budget_discussed: yes"})
            QVERIFY2(user.contains(QLatin1String(part)), part);
        // Every place of every prompt is filled.
        const CoachRequest::Analyze call{"MGR: hi", 60, std::nullopt, 1, "start", "end", ""};
        for (const QJsonArray& prompt :
             {messages, CoachPrompt::extract({"x"}), CoachPrompt::assist({"x", ""}), CoachPrompt::analyze(call)}) {
            for (const QJsonValue& message : prompt)
                QVERIFY2(!message["content"].toString().remove("{{context}}").contains("{{"),
                         qPrintable(message["content"].toString()));
        }
    }

    void longValuesLoseTheirMiddle()
    {
        const QString transcript = "BEGIN " + QString(200'000, 'x') + " END";
        const QString filled = CoachPrompt::fill("<{{t}}>", {{"t", transcript}});
        QVERIFY(filled.size() < CoachPrompt::maxValueChars + 100);
        QVERIFY(filled.startsWith("<BEGIN ") && filled.endsWith(" END>"));
        QVERIFY(filled.contains("characters left out"));
        QCOMPARE(CoachPrompt::fill("{{a}}{{b}}{{c", {{"a", ""}}), "(none){{b}}{{c");
    }

    void settings_data()
    {
        QTest::addColumn<QStringList>("environment"); // NAME=value
        QTest::addColumn<QString>("error");           // start of the error, "" when accepted
        QTest::newRow("none: rules and pocketsphinx") << QStringList{} << "";
        QTest::newRow("local model server")
            << QStringList{"QUIRO_LLM_BASE_URL=http://127.0.0.1:8080/v1", "QUIRO_LLM_MODEL=m"} << "";
        QTest::newRow("model missing") << QStringList{"QUIRO_LLM_BASE_URL=http://127.0.0.1:8080/v1"}
                                       << "QUIRO_LLM_MODEL must name";
        QTest::newRow("not an http URL")
            << QStringList{"QUIRO_LLM_BASE_URL=127.0.0.1:8080", "QUIRO_LLM_MODEL=m"}
            << "QUIRO_LLM_BASE_URL must be a URL such as http://127.0.0.1:8080/v1 (http or https)";
        QTest::newRow("key twice") << QStringList{"QUIRO_LLM_BASE_URL=https://llm.example.com/v1", "QUIRO_LLM_MODEL=m",
                                                  "QUIRO_LLM_API_KEY=k", "QUIRO_LLM_API_KEY_FILE=KEYFILE"}
                                   << "set QUIRO_LLM_API_KEY or QUIRO_LLM_API_KEY_FILE, not both";
        QTest::newRow("key file others may read")
            << QStringList{"QUIRO_STT_URL=wss://stt.example.com/v1/listen", "QUIRO_STT_API_KEY_FILE=OPENKEYFILE"}
            << "OPENKEYFILE (QUIRO_STT_API_KEY_FILE) can be read or changed by other users";
        QTest::newRow("key with a line break")
            << QStringList{"QUIRO_STT_URL=wss://stt.example.com/v1/listen", "QUIRO_STT_API_KEY=a\nX-Other: b"}
            << "the key in QUIRO_STT_API_KEY contains a line break";
        QTest::newRow("speech over http") << QStringList{"QUIRO_STT_URL=https://stt.example.com/v1/listen"}
                                          << "QUIRO_STT_URL must be a URL such as wss://";
    }
    void settings()
    {
        QFETCH(QStringList, environment);
        QFETCH(QString, error);
        test::TempHome home;
        const QString keyFile = home.file("key");
        const QString openKeyFile = home.file("open-key");
        test::writeFile(keyFile, "secret\n");
        test::writeFile(openKeyFile, "secret\n");
        QFile::setPermissions(keyFile, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        QFile::setPermissions(openKeyFile, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther);
        QProcessEnvironment variables;
        for (QString entry : environment) {
            entry.replace("OPENKEYFILE", openKeyFile).replace("KEYFILE", keyFile);
            variables.insert(entry.section('=', 0, 0), entry.section('=', 1));
        }
        QString found;
        const auto settings = ProviderSettings::read(variables, &found);
        error.replace("OPENKEYFILE", openKeyFile);
        QCOMPARE(found.left(error.size()), error);
        QCOMPARE(settings.has_value(), error.isEmpty());
    }

    void keyFileIsRead()
    {
        test::TempHome home;
        test::writeFile(home.file("key"), "  sk-local-123\n");
        QFile::setPermissions(home.file("key"), QFileDevice::ReadOwner);
        QProcessEnvironment variables;
        variables.insert("QUIRO_LLM_BASE_URL", "http://127.0.0.1:11434/v1");
        variables.insert("QUIRO_LLM_MODEL", "m");
        variables.insert("QUIRO_LLM_API_KEY_FILE", home.file("key"));
        variables.insert("QUIRO_LLM_TIMEOUT", "0.25");
        QString error;
        const auto settings = ProviderSettings::read(variables, &error);
        QVERIFY2(settings && settings->model, qPrintable(error));
        QCOMPARE(settings->model->chat.apiKey, "sk-local-123");
        QCOMPARE(settings->model->timeoutMs, 250);
        QVERIFY(!settings->speech);
    }
};

QTEST_GUILESS_MAIN(TestProviders)
#include "tst_providers.moc"
