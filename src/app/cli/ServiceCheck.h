#pragma once

#include "core/Config.h"

#include <QString>
#include <QStringList>

#include <optional>

#include <qcoro/qcorotask.h>

namespace quiro::cli::ServiceCheck {

// What answers the service's coach endpoints or its "/stt", as its "/health" tells.
struct Provider {
    QString detail;
    bool warning = false; // it has not answered once: its fallback did every time
};

struct Result {
    bool answers = false;
    QString detail; // what answered, or why nothing did and what to do about it
    std::optional<Provider> coach = {};
    std::optional<Provider> speech = {};
    QStringList speechLanguages = {}; // every language a stream may ask for; empty when not said
};

// Whether a service that transcribes `served` takes a stream in `language` ("en-GB" is served by
// an "en" model).
bool servesLanguage(const QStringList& served, const QString& language);

// Asks the configured service for "/health": any HTTP answer over trusted TLS counts. A service
// that names its coach and recognizer there has them described too.
QCoro::Task<Result> run(Config config, int timeoutMs);

} // namespace quiro::cli::ServiceCheck
