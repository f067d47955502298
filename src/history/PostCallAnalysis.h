#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace quiro {

// Titles of the debrief's sections, shared by the post-call view and the command line.
namespace AnalysisSection {
inline const QString strengths = QStringLiteral("What worked");
inline const QString improvements = QStringLiteral("What to improve");
inline const QString missedOpportunities = QStringLiteral("Missed signals");
inline const QString objections = QStringLiteral("Objections");
inline const QString nextSteps = QStringLiteral("Next steps");
inline const QString unavailableTitle = QStringLiteral("Analysis unavailable");
inline const QString unavailableDetail = QStringLiteral("Call may have been too short or the server didn't respond.");
inline const QString pendingTitle = QStringLiteral("Analyzing call\u2026");
inline const QString pendingDetail = QStringLiteral("Identifying quotes, mistakes, and missed signals");
} // namespace AnalysisSection

// One entry of "objections". Each field falls back on its own: the service's objects are not
// guaranteed to be complete.
struct Objection {
    std::optional<QString> type; // absent when missing or not a string
    QString quote;               // empty when missing or not a string
    bool handled = false;        // false when missing or not a Boolean
    QString note;                // empty when missing or not a string

    // The type with each word capitalised, or "—" without one.
    QString displayType() const;
    static Objection fromJson(const QJsonObject& object);

    bool operator==(const Objection&) const = default;
};

// Typed view of the analysis object the hint service returns. The object stays loosely typed
// (unknown keys are kept in the stored record); a key whose value has another type counts as
// missing, and a list counts only when every entry has the listed type.
struct PostCallAnalysis {
    std::optional<qint64> score; // only an integral number
    std::optional<QString> summary;
    std::optional<QStringList> strengths;
    std::optional<QStringList> improvements;
    std::optional<QStringList> missedOpportunities;
    std::optional<QList<Objection>> objections;
    std::optional<QStringList> nextSteps;
    std::optional<QString> talkListenNote;

    static PostCallAnalysis read(const QJsonObject& analysis);

    bool operator==(const PostCallAnalysis&) const = default;
};

} // namespace quiro
