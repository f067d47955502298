#pragma once

#include <QStringList>

namespace quiro::service {

// The facts worth keeping from one client utterance for the rest of the call: money, team sizes
// and other counts, percentages, dates and time frames, and the tools or vendors named. Each
// fact is a short labelled line ("Budget: $40k", "Team size: 12 reps", "Tool: Salesforce"),
// in the order they were said, without repeats.
namespace FactExtractor {

QStringList extract(const QString& phrase);

} // namespace FactExtractor

} // namespace quiro::service
