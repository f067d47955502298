#pragma once

#include <QStringList>

namespace quiro::cli {

// `quiro history [--limit N] [--json]` lists the signed-in account's stored sessions, newest
// first; `quiro history show ID [--markdown]` prints one session's debrief and transcript.
int runHistory(const QStringList& arguments);

} // namespace quiro::cli
