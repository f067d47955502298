#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>
#include <QStringList>

namespace quiro::cli {

// The command line of one front end, `quiro <command> …`, read the same way by every command:
// "-h"/"--help" prints the command's usage text (and nothing of Qt's own options), and a wrong
// argument is one sentence on stderr that points at --help, with exit status 2.
class CommandLine {
public:
    enum class Parsed { run, done, wrongUsage };

    // `usage` starts with "Usage: quiro <command> …" and lists the options.
    CommandLine(QString command, QString usage);

    void addOption(const QCommandLineOption& option) { m_parser.addOption(option); }
    // Parses; `run` when the command should go on with at least `minArguments` and at most
    // `maxArguments` non-blank arguments.
    Parsed parse(const QStringList& arguments, int minArguments, int maxArguments);

    bool isSet(const QCommandLineOption& option) const { return m_parser.isSet(option); }
    QString value(const QCommandLineOption& option) const { return m_parser.value(option); }
    QStringList arguments() const { return m_parser.positionalArguments(); }

    // Reports `sentence` as wrong usage; returns the exit status for it.
    int wrongUsage(const QString& sentence) const;
    // The exit status once parse() has said the command should not run.
    static int exitStatus(Parsed parsed);

private:
    const QString m_command;
    const QString m_usage;
    const QCommandLineOption m_help{QStringList{QStringLiteral("h"), QStringLiteral("help")}};
    QCommandLineParser m_parser;
};

} // namespace quiro::cli
