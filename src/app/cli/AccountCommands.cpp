#include "app/cli/AccountCommands.h"

#include "account/AuthManager.h"
#include "account/JwtExpiry.h"
#include "account/TokenStore.h"
#include "app/cli/Command.h"
#include "app/cli/TerminalText.h"
#include "core/Clock.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
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
std::optional<QString> readPassword()
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
    std::fputs("Password: ", stderr);
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

enum class Parsed { run, done, wrongUsage };

// Parses `arguments` for `quiro <command>`: --help prints the help and ends the command; wrong
// arguments are reported on stderr.
Parsed parse(QCommandLineParser& parser, const QString& command, const QStringList& arguments, int positionalCount)
{
    parser.addHelpOption();
    if (!parser.parse(QStringList{QStringLiteral("quiro ") + command} + arguments)) {
        QTextStream(stderr) << "quiro " << command << ": " << parser.errorText() << ". Run 'quiro " << command
                            << " --help' for its usage.\n";
        return Parsed::wrongUsage;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        // Qt names the program by its path; the user typed "quiro <command>".
        QString help = parser.helpText();
        const QString program = QCoreApplication::arguments().value(0);
        if (const qsizetype at = program.isEmpty() ? -1 : help.indexOf(program); at >= 0)
            help.replace(at, program.size(), QStringLiteral("quiro ") + command);
        QTextStream(stdout) << help;
        return Parsed::done;
    }
    const QStringList positional = parser.positionalArguments();
    bool blank = false;
    for (const QString& value : positional)
        blank = blank || value.trimmed().isEmpty();
    if (positional.size() != positionalCount || blank) {
        QTextStream(stderr) << "quiro " << command << ": expected " << positionalCount
                            << (positionalCount == 1 ? " argument" : " arguments") << ". Run 'quiro " << command
                            << " --help' for its usage.\n";
        return Parsed::wrongUsage;
    }
    return Parsed::run;
}

int exitStatusFor(Parsed parsed)
{
    return parsed == Parsed::done ? Success : WrongUsage;
}

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
        QTextStream(stderr) << "quiro " << command << ": " << error->message() << '\n';
        return Failure;
    }
    printSignedIn(auth);
    return Success;
}

} // namespace

int runLogin(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Signs in to your account. The password is read from the terminal "
                                                    "without echo, or as one line of standard input."));
    parser.addPositionalArgument(QStringLiteral("EMAIL"), QStringLiteral("The account's e-mail address."));
    if (const Parsed parsed = parse(parser, QStringLiteral("login"), arguments, 1); parsed != Parsed::run)
        return exitStatusFor(parsed);
    const auto password = readPassword();
    if (!password) {
        QTextStream(stderr) << "quiro login: no password given; type it at the prompt or pipe it in.\n";
        return Failure;
    }
    Account account;
    AuthManager& auth = account.auth;
    const auto error = QCoro::waitFor(auth.login(parser.positionalArguments().at(0), *password));
    return finishAuth(QStringLiteral("login"), error, auth);
}

int runRegister(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Creates an account and signs in. The password is read from the "
                                                    "terminal without echo, or as one line of standard input."));
    parser.addPositionalArgument(QStringLiteral("EMAIL"), QStringLiteral("The new account's e-mail address."));
    parser.addPositionalArgument(QStringLiteral("NAME"), QStringLiteral("Your name as the app shows it."));
    if (const Parsed parsed = parse(parser, QStringLiteral("register"), arguments, 2); parsed != Parsed::run)
        return exitStatusFor(parsed);
    const auto password = readPassword();
    if (!password) {
        QTextStream(stderr) << "quiro register: no password given; type it at the prompt or pipe it in.\n";
        return Failure;
    }
    Account account;
    AuthManager& auth = account.auth;
    const QStringList positional = parser.positionalArguments();
    const auto error = QCoro::waitFor(auth.registerAccount(positional.at(0), *password, positional.at(1)));
    return finishAuth(QStringLiteral("register"), error, auth);
}

int runLogout(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Signs out and removes the stored token."));
    if (const Parsed parsed = parse(parser, QStringLiteral("logout"), arguments, 0); parsed != Parsed::run)
        return exitStatusFor(parsed);
    Account account;
    QCoro::waitFor(account.auth.logout());
    QTextStream(stdout) << "Signed out.\n";
    return Success;
}

int runWhoami(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Shows the signed-in account: e-mail, name and when the token "
                                                    "expires (local time)."));
    if (const Parsed parsed = parse(parser, QStringLiteral("whoami"), arguments, 0); parsed != Parsed::run)
        return exitStatusFor(parsed);
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
