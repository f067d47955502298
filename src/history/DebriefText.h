#pragma once

#include "history/SessionRecord.h"

#include <QString>

#include <functional>
#include <optional>

// A stored call put into words: the pieces every debrief shows (the terminal's, the main
// window's) and the whole debrief as Markdown, which both save and copy.
namespace quiro::DebriefText {

// A moment in the local time zone, e.g. localTime(t, "yyyy-MM-dd HH:mm").
QString localTime(double unixSeconds, const QString& format);
// "55%", or "—" without a talk ratio.
QString talkShare(const std::optional<double>& talkRatio);
// The score through `format`; "—" without one, and "no speech heard" for a call in which nothing
// was transcribed (its score says nothing about the seller).
QString score(const SessionRecord& record, const std::function<QString(qint64)>& format);

// Text escaped so that Markdown shows it as it stands (and safe to display).
QString markdownEscaped(const QString& text);
// The debrief and the transcript of one call.
QString markdown(const SessionRecord& record);

} // namespace quiro::DebriefText
