#pragma once

#include <QStringList>

namespace quiro::cli {

// `quiro console [--duration SECONDS]`: one coached call in the terminal, without windows.
int runConsole(const QStringList& arguments);

} // namespace quiro::cli
