#pragma once

#include <QStringList>

// `quiro login`, `quiro register`, `quiro logout` and `quiro whoami`: the account from a terminal.
namespace quiro::cli {

int runLogin(const QStringList& arguments);
int runRegister(const QStringList& arguments);
int runLogout(const QStringList& arguments);
int runWhoami(const QStringList& arguments);

} // namespace quiro::cli
