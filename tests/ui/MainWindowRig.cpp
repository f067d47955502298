#include "MainWindowRig.h"

#include "core/Preferences.h"
#include "ui/kit/DS.h"

#include <QCoreApplication>
#include <QPainter>
#include <QScrollArea>
#include <QTest>

namespace quiro::test {

namespace {
// A service nobody answers at.
const Config nowhere{QStringLiteral("http://127.0.0.1:9"), Config::defaultHintModel, Config::defaultLanguage};

template <typename T> T recording(const QString& name)
{
    const std::optional<T> value = T::decode(readFile(QStringLiteral(QUIRO_TEST_DATA_DIR "/") + name + ".json"));
    if (!value)
        qFatal("the recording %s does not decode", qPrintable(name));
    return *value;
}
} // namespace

SessionRecord recordedCall(const QString& name)
{
    return recording<SessionRecord>(name);
}

SessionCheckpoint recordedCheckpoint(const QString& name)
{
    return recording<SessionCheckpoint>(name);
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

MainWindowRig::MainWindowRig()
{
    // A minute after the last recording, so the crashed call's checkpoint is still fresh.
    double latest = recordedCheckpoint(Recording::crashed).savedAt;
    for (const QString& call : Recording::finished)
        latest = std::max(latest, recordedCall(call).endedAt.value_or(0));
    clock.set(latest + 60);
    // The preferences file is named after the program, as the app names it.
    QCoreApplication::setOrganizationName(QStringLiteral("Quiro"));
    QCoreApplication::setApplicationName(QStringLiteral("quiro"));
    Preferences::setAccount(QStringLiteral("dana@example.com"), QStringLiteral("Dana Whitfield"));
    auth = std::make_unique<AuthManager>(nowhere, &tokens, clock);
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
    env.config = nowhere;
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
