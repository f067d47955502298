#pragma once

#include <QStringList>

namespace quiro::cli {

// Exit statuses of every command-line front end.
enum ExitStatus : int { Success = 0, Failure = 1, WrongUsage = 2 };

// One subcommand of `quiro`. `run` gets the arguments after the subcommand's name and runs
// inside a QCoreApplication (no GUI objects) that main() has already created.
struct Command {
    const char* name;
    const char* summary;
    int (*run)(const QStringList& arguments);
};

} // namespace quiro::cli
