#include "app/cli/AccountCommands.h"
#include "app/cli/Command.h"
#include "app/cli/ConsoleCommand.h"
#include "app/cli/DoctorCommand.h"
#include "app/cli/HistoryCommand.h"
#include "app/desktop/AppDelegate.h"

#include "core/Config.h"
#include "core/Log.h"
#include "core/Paths.h"

#include "Version.h"

#include <QCoreApplication>
#include <QTextStream>

#include <array>
#include <csignal>
#include <cstring>

namespace {

// Each front end is listed once here; its implementation lives in cli/.
constexpr auto commands = std::to_array<quiro::cli::Command>({
    {"history", "List stored calls, or show one call's debrief and transcript", &quiro::cli::runHistory},
    {"login", "Sign in to your account", &quiro::cli::runLogin},
    {"register", "Create an account and sign in", &quiro::cli::runRegister},
    {"logout", "Sign out and remove the stored token", &quiro::cli::runLogout},
    {"whoami", "Show the signed-in account and when its token expires", &quiro::cli::runWhoami},
    {"doctor", "Check that this computer is ready for a coached call", &quiro::cli::runDoctor},
    {"console", "Run one coached call in the terminal, without windows", &quiro::cli::runConsole},
});

void printUsage(QTextStream& out)
{
    out << "Usage: quiro [COMMAND] [OPTIONS]\n\n"
        << "Without a command, quiro starts the desktop app.\n\nCommands:\n";
    for (const auto& command : commands)
        out << "  " << QString::fromLatin1(command.name).leftJustified(10) << command.summary << '\n';
    out << "  " << QStringLiteral("help").leftJustified(10) << "Show this list, or the help of one command\n"
        << "\nRun 'quiro help COMMAND' (or 'quiro COMMAND --help') for the options of one command,\n"
        << "'quiro --version' for the version.\n";
}

const quiro::cli::Command* find(const char* name)
{
    for (const auto& command : commands) {
        if (std::strcmp(command.name, name) == 0)
            return &command;
    }
    return nullptr;
}

// What the program does behind the scenes goes to its log file (the terminal shows results, and
// `quiro console --verbose` the log as well); private files are made private again; settings the
// program cannot use are named in the log.
void prepareToRun()
{
    quiro::Log::toFile(quiro::Paths::logFile(), quiro::Log::Echo::none);
    quiro::Paths::narrowPrivateModes();
    for (const QString& problem : quiro::Config::problemsIn(quiro::Paths::userEnvFile()))
        quiro::Log::line(QStringLiteral("Config"), problem);
}

int unknownCommand(const char* name)
{
    QTextStream(stderr) << "quiro: unknown command '" << QString::fromLocal8Bit(name)
                        << "'. Run 'quiro help' to see the commands.\n";
    return quiro::cli::WrongUsage;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication::setOrganizationName(QStringLiteral("Quiro"));
    QCoreApplication::setApplicationName(QStringLiteral("quiro"));
    // A write beyond the file-size limit then fails with EFBIG, which every writer reports,
    // instead of killing the program in the middle of a call.
    std::signal(SIGXFSZ, SIG_IGN);

    if (argc < 2) {
        prepareToRun();
        return quiro::runDesktopApp(argc, argv);
    }
    const char* name = argv[1];
    if (std::strcmp(name, "--version") == 0) {
        QTextStream(stdout) << "quiro " << QUIRO_VERSION << " (" << QUIRO_COMMIT << ")\n";
        return quiro::cli::Success;
    }
    const bool help = std::strcmp(name, "help") == 0;
    if (std::strcmp(name, "--help") == 0 || std::strcmp(name, "-h") == 0 || (help && argc == 2)) {
        QTextStream out(stdout);
        printUsage(out);
        return quiro::cli::Success;
    }
    if (help && argc > 3) {
        QTextStream(stderr) << "quiro help: takes one command at most. Run 'quiro help' to see the commands.\n";
        return quiro::cli::WrongUsage;
    }
    // "quiro help COMMAND" is "quiro COMMAND --help".
    if (const auto* command = find(help ? argv[2] : name)) {
        prepareToRun();
        QCoreApplication app(argc, argv);
        const QStringList arguments = help ? QStringList{QStringLiteral("--help")} : app.arguments().mid(2);
        return command->run(arguments);
    }
    return unknownCommand(help ? argv[2] : name);
}
