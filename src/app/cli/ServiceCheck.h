#pragma once

#include "core/Config.h"

#include <QString>

#include <qcoro/qcorotask.h>

namespace quiro::cli::ServiceCheck {

struct Result {
    bool answers = false;
    QString detail; // what answered, or why nothing did and what to do about it
};

// Asks the configured service for "/health": any HTTP answer over trusted TLS counts.
QCoro::Task<Result> run(Config config, int timeoutMs);

} // namespace quiro::cli::ServiceCheck
