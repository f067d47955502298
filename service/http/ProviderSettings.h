#pragma once

#include "service/llm/ModelCoach.h"
#include "service/stt/UpstreamSpeechBackend.h"

#include <QProcessEnvironment>
#include <QString>

#include <optional>

namespace quiro::service {

// The model providers an operator chose, from the service's environment (so that a systemd unit
// or a container sets them the usual way; the command line may override all but the keys):
//   QUIRO_LLM_BASE_URL, QUIRO_LLM_MODEL, QUIRO_LLM_API_KEY or QUIRO_LLM_API_KEY_FILE,
//   QUIRO_LLM_PRICE_IN, QUIRO_LLM_PRICE_OUT (US dollars per 1,000 tokens), QUIRO_LLM_TIMEOUT;
//   QUIRO_STT_URL, QUIRO_STT_API_KEY or QUIRO_STT_API_KEY_FILE, QUIRO_STT_LANGUAGES,
//   QUIRO_STT_CONNECT_TIMEOUT.
// Without QUIRO_LLM_BASE_URL the rules coach; without QUIRO_STT_URL pocketsphinx transcribes.
struct ProviderSettings {
    std::optional<ModelCoach::Settings> model;
    std::optional<SpeechUpstream> speech;
    // Said once at start: settings that have no effect as given.
    QStringList warnings;

    // Nothing, with `error` saying what to fix, when a setting cannot be used. A key file must be
    // private to its owner (0600), like any other secret.
    static std::optional<ProviderSettings> read(const QProcessEnvironment& environment, QString* error);
};

} // namespace quiro::service
