#include "MainWindowRig.h"

#include "core/Preferences.h"
#include "ui/kit/DS.h"

#include <QCoreApplication>
#include <QPainter>
#include <QScrollArea>
#include <QTest>

namespace quiro::test {

namespace {
QByteArray recording(const QString& name)
{
    return readFile(QStringLiteral(QUIRO_TEST_DATA_DIR "/") + name + QStringLiteral(".json"));
}
} // namespace

SessionRecord recordedCall(const QString& name)
{
    const std::optional<SessionRecord> record = SessionRecord::decode(recording(name));
    if (!record)
        qFatal("the recorded call %s does not decode", qPrintable(name));
    return *record;
}

SessionCheckpoint recordedCheckpoint(const QString& name)
{
    const std::optional<SessionCheckpoint> checkpoint = SessionCheckpoint::decode(recording(name));
    if (!checkpoint)
        qFatal("the recorded checkpoint %s does not decode", qPrintable(name));
    return *checkpoint;
}

QImage wholePage(const QWidget* screen)
{
    QWidget* page = screen->findChild<QScrollArea*>()->widget();
    QImage image(page->size(), QImage::Format_RGB32);
    image.fill(DS::canvas);
    QPainter painter(&image);
    page->render(&painter, {}, {}, QWidget::DrawChildren);
    return image;
}

MainWindowRig::MainWindowRig(const std::optional<QString>& name)
{
    // A minute after the last recording, so the crashed call's checkpoint is still fresh.
    double latest = recordedCheckpoint(Recording::crashed).savedAt;
    for (const QString& call : Recording::finished)
        latest = std::max(latest, recordedCall(call).endedAt.value_or(0));
    clock.set(latest + 60);
    // The preferences file is named after the program, as the app names it.
    QCoreApplication::setOrganizationName(QStringLiteral("Quiro"));
    QCoreApplication::setApplicationName(QStringLiteral("quiro"));
    if (name)
        Preferences::setAccount(QStringLiteral("dana@example.com"), *name);
    auth = std::make_unique<AuthManager>(
        Config{QStringLiteral("http://127.0.0.1:9"), Config::defaultHintModel, Config::defaultLanguage}, &tokens,
        clock);
    overlay = std::make_unique<SessionWindowModel>(clock, Paths::userEnvFile());
    services.store = &store;
    services.auth = auth.get();
    services.overlay = overlay.get();
    services.clock = &clock;
    services.envFile = Paths::userEnvFile();
    services.profileFile = Paths::profileFile();
    buildController();
}

void MainWindowRig::buildController()
{
    SessionController::Environment env;
    env.config = Config{QStringLiteral("http://127.0.0.1:9"), Config::defaultHintModel, Config::defaultLanguage};
    env.token = [] { return std::nullopt; };
    env.store = &store;
    env.clock = &clock;
    controller = std::make_unique<SessionController>(std::move(env));
    services.controller = controller.get();
}

void MainWindowRig::storeCalls(const QStringList& names)
{
    for (const QString& name : names)
        QVERIFY(store.save(recordedCall(name)));
}

} // namespace quiro::test
