#pragma once

#include <QHashFunctions>
#include <QString>

#include <optional>

namespace quiro {

// The two sides of a call: the seller is the user of the program (microphone), the client is
// the other party (system audio).
enum class Speaker { manager, client };

// "MANAGER" or "CLIENT".
QString rawValue(Speaker speaker);

// Exactly "MANAGER" or "CLIENT" (case-sensitive); anything else yields nothing.
std::optional<Speaker> speakerFromRawValue(const QString& raw);

// How the speaker is named in the context block sent with hint requests: "SELLER" or "CLIENT".
QString contextLabel(Speaker speaker);

inline size_t qHash(Speaker speaker, size_t seed = 0) noexcept
{
    return ::qHash(static_cast<int>(speaker), seed);
}

// One utterance of the call.
struct Turn {
    Speaker speaker;
    QString text;

    friend bool operator==(const Turn&, const Turn&) = default;
};

} // namespace quiro
