#pragma once

#include <QStringList>

namespace quiro::cli {

// `quiro doctor`: checks, one line each, what a coached call needs on this desktop — sound
// server, microphone, system audio, display, hot key, tray, secret service, the service and the
// account — and says how to fix what fails. Exit status 0 when a call can run, 1 otherwise.
int runDoctor(const QStringList& arguments);

} // namespace quiro::cli
