#include "app/cli/AccountCommands.h"

#include "account/AuthManager.h"
#include "account/JwtExpiry.h"
#include "account/TokenStore.h"
#include "app/cli/Command.h"
#include "app/cli/CommandLine.h"
#include "app/cli/TerminalText.h"
#include "core/Clock.h"
#include "core/Paths.h"

#include <QDateTime>
#include <QFileInfo>
#include <QTextStream>

#include <qcoro/qcorotask.h>

#include <csignal>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>

#include <termios.h>
#include <unistd.h>

namespace quiro::cli {

namespace {

// The terminal's settings while the password is typed without echo, so that an interrupt can
// give the user a working terminal back.
termios s_savedTerminal{};
volatile std::sig_atomic_t s_echoOff = 0;

void restoreTerminalAndDie(int signalNumber)
{
    if (s_echoOff)
        tcsetattr(STDIN_FILENO, TCSANOW, &s_savedTerminal);
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
}

// One line of standard input without its line break; absent at end of input.
std::optional<QString> readLine()
{
    std::string line;
    if (!std::getline(std::cin, line))
        return std::nullopt;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return QString::fromStdString(line);
}

// From the terminal without echo, or one line of standard input when it is not a terminal
// (scripts pipe it in).
std::optional<QString> readPassword(const char* prompt = "Password: ")
{
    if (!isatty(STDIN_FILENO))
        return readLine();
    // Echo goes off before the prompt appears, so nothing typed in answer to it is ever shown;
    // anything typed ahead of the prompt was echoed already and is discarded.
    const bool canSilence = tcgetattr(STDIN_FILENO, &s_savedTerminal) == 0;
    if (canSilence) {
        termios quiet = s_savedTerminal;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        std::signal(SIGINT, restoreTerminalAndDie);
        std::signal(SIGTERM, restoreTerminalAndDie);
        std::signal(SIGHUP, restoreTerminalAndDie);
        s_echoOff = 1;
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    std::fputs(prompt, stderr);
    std::fflush(stderr);
    auto password = readLine();
    if (canSilence) {
        tcsetattr(STDIN_FILENO, TCSANOW, &s_savedTerminal);
        s_echoOff = 0;
        std::signal(SIGINT, SIG_DFL);
        std::signal(SIGTERM, SIG_DFL);
        std::signal(SIGHUP, SIG_DFL);
    }
    std::fputs("\n", stderr);
    return password;
}

// The account for one command. Not the process-wide AuthManager::shared(): that one lives as long as
// the application object and would tear its TLS connections down while Qt itself is going away.
struct Account {
    TokenStore store{TokenStore::Backend::keychainThenFile};
    AuthManager auth{Config::load(), &store, Clock::system()};
};

const QString loginUsage =
    QStringLiteral("Usage: quiro login EMAIL\n\n"
                   "Signs in to your account on the service (API_BASE in ~/.quiroai/.env). The password is read\n"
                   "from the terminal without echo, or as one line of standard input.\n\n"
                   "Options:\n"
                   "  -h, --help    show this help\n");
const QString registerUsage =
    QStringLiteral("Usage: quiro register EMAIL NAME\n\n"
                   "Creates an account on the service and signs in. At a terminal the password is asked twice,\n"
                   "without echo; otherwise it is read as one line of standard input.\n\n"
                   "Options:\n"
                   "  -h, --help    show this help\n");
const QString logoutUsage = QStringLiteral("Usage: quiro logout\n\n"
                                           "Signs out and removes the stored sign-in.\n\n"
                                           "Options:\n"
                                           "  -h, --help    show this help\n");
const QString whoamiUsage = QStringLiteral("Usage: quiro whoami\n\n"
                                           "Shows the signed-in account: e-mail, name and when the sign-in expires\n"
                                           "(local time).\n\n"
                                           "Options:\n"
                                           "  -h, --help    show this help\n");

void printSignedIn(const AuthManager& auth)
{
    // The name and e-mail come back from the service: printed through the sanitiser like any
    // remote text.
    QTextStream(stdout) << "Signed in as " << clean(auth.name().value_or(QString())) << " <"
                        << clean(auth.email().value_or(QString())) << ">.\n";
}

int finishAuth(const QString& command, const std::optional<AuthError>& error, const AuthManager& auth)
{
    if (error) {
        QTextStream(stderr) << "quiro " << command << ": " << error->reason() << '\n';
        return Failure;
    }
    printSignedIn(auth);
    // A keyring write that worked removes the file copy: a file left means there was no keyring.
    if (QFileInfo::exists(Paths::tokenFile()))
        QTextStream(stdout) << "No keyring available: the sign-in is kept in " << Paths::tokenFile()
                            << ", readable only by you.\n";
    return Success;
}

} // namespace

int runLogin(const QStringList& arguments)
{
    CommandLine commandLine(QStringLiteral("login"), loginUsage);
    if (const auto parsed = commandLine.parse(arguments, 1, 1); parsed != CommandLine::Parsed::run)
        return CommandLine::exitStatus(parsed);
    const auto password = readPassword();
    if (!password) {
        QTextStream(stderr) << "quiro login: no password given; type it at the prompt or pipe it in.\n";
        return Failure;
    }
    Account account;
    AuthManager& auth = account.auth;
    const auto error = QCoro::waitFor(auth.login(commandLine.arguments().at(0), *password));
    return finishAuth(QStringLiteral("login"), error, auth);
}

int runRegister(const QStringList& arguments)
{
    CommandLine commandLine(QStringLiteral("register"), registerUsage);
    if (const auto parsed = commandLine.parse(arguments, 2, 2); parsed != CommandLine::Parsed::run)
        return CommandLine::exitStatus(parsed);
    const auto password = readPassword();
    if (!password) {
        QTextStream(stderr) << "quiro register: no password given; type it at the prompt or pipe it in.\n";
        return Failure;
    }
    // A new password typed without seeing it is asked twice; a piped one is taken as it comes.
    if (isatty(STDIN_FILENO) && readPassword("Password again: ") != password) {
        QTextStream(stderr) << "quiro register: the two passwords differ; nothing was created.\n";
        return Failure;
    }
    Account account;
    AuthManager& auth = account.auth;
    const QStringList positional = commandLine.arguments();
    const auto error = QCoro::waitFor(auth.registerAccount(positional.at(0), *password, positional.at(1)));
    return finishAuth(QStringLiteral("register"), error, auth);
}

int runLogout(const QStringList& arguments)
{
    CommandLine commandLine(QStringLiteral("logout"), logoutUsage);
    if (const auto parsed = commandLine.parse(arguments, 0, 0); parsed != CommandLine::Parsed::run)
        return CommandLine::exitStatus(parsed);
    Account account;
    QCoro::waitFor(account.auth.logout());
    QTextStream(stdout) << "Signed out.\n";
    return Success;
}

int runWhoami(const QStringList& arguments)
{
    CommandLine commandLine(QStringLiteral("whoami"), whoamiUsage);
    if (const auto parsed = commandLine.parse(arguments, 0, 0); parsed != CommandLine::Parsed::run)
        return CommandLine::exitStatus(parsed);
    Account account;
    AuthManager& auth = account.auth;
    QCoro::waitFor(auth.restore(AuthManager::Renewal::leave));
    if (!auth.isLoggedIn()) {
        QTextStream(stderr) << "quiro whoami: not signed in; run 'quiro login EMAIL' first.\n";
        return Failure;
    }
    QTextStream out(stdout);
    const QString unknown = QStringLiteral("unknown");
    out << "E-mail: " << clean(auth.email().value_or(unknown)) << '\n';
    out << "Name: " << clean(auth.name().value_or(unknown)) << '\n';
    out << "Token expires: ";
    if (const auto expiry = JwtExpiry::expiry(*auth.token())) {
        const QDateTime local = QDateTime::fromMSecsSinceEpoch(qint64(*expiry * 1000.0)).toLocalTime();
        out << local.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss t"));
        if (*expiry <= Clock::system().now())
            out << " (expired)";
    } else {
        out << unknown;
    }
    out << '\n';
    return Success;
}

} // namespace quiro::cli
