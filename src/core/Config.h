#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

namespace quiro {

// The few deployment settings: which service to talk to, which model the hint service uses,
// which language the speech-to-text stream expects. Immutable once loaded.
struct Config {
    QString apiBase;
    QString hintModel;
    QString language;

    static inline const QString defaultAPIBase = QStringLiteral("https://localhost:8443");
    static inline const QString defaultHintModel = QStringLiteral("google/gemini-2.0-flash-001");
    static inline const QString defaultLanguage = QStringLiteral("en");

    // The bundled .env, then the user's ~/.quiroai/.env (the user's file wins), then the
    // process environment, then the defaults. Never fails.
    static Config load();
    static Config load(const QString& bundleEnvPath, const QString& userEnvPath);

    // What is wrong in a settings file, one sentence per problem, naming its line: a key the
    // program does not know (a typo that silently does nothing), a value it cannot use, a file that
    // is not text. Nothing for a missing file.
    static QStringList problemsIn(const QString& envFilePath);

    // apiBase as a URL; absent when it does not parse as an absolute URL.
    std::optional<QUrl> apiURL() const;
    // apiBase with https:// → wss:// and then http:// → ws://.
    QString wsBase() const;

    bool operator==(const Config&) const = default;
};

} // namespace quiro
