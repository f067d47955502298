#pragma once

#include <QJsonObject>
#include <QString>

#include <optional>

namespace quiro {

// What the coaching engine knows about what the seller sells, compiled once into the prompt text
// that goes with every hint, on-demand and analysis request. It draws on the seller's profile
// (~/.quiroai/profile.json) and an optional product knowledge file shipped with the program.
// Immutable after construction, so one instance is shared by every coach of a run; edits to
// either file take effect in the next instance.
class ProductContext {
public:
    // Reads the product knowledge file (when given) and the profile. Missing, unreadable or
    // malformed files are not errors: they contribute nothing.
    explicit ProductContext(const std::optional<QString>& productFilePath);

    // Whether either file contributed anything.
    bool loaded() const { return !m_data.isEmpty() || !m_profile.isEmpty(); }
    QString compiled() const { return m_compiled; }
    QString callGoal() const;
    // The prepared answers to objections, one line per objection, or nothing when the product
    // file has none.
    std::optional<QString> objectionResponses() const;

private:
    QString compile() const;

    QJsonObject m_data;
    QJsonObject m_profile;
    QString m_compiled;
};

} // namespace quiro
