#include "app/cli/CommandLine.h"

#include "app/cli/Command.h"
#include "app/cli/TerminalText.h"

#include <QTextStream>

namespace quiro::cli {

CommandLine::CommandLine(QString command, QString usage)
    : m_command(std::move(command))
    , m_usage(std::move(usage))
{
    m_parser.addOption(m_help);
}

CommandLine::Parsed CommandLine::parse(const QStringList& arguments, int minArguments, int maxArguments)
{
    if (!m_parser.parse(QStringList{QStringLiteral("quiro ") + m_command} + arguments)) {
        QString sentence = m_parser.errorText();
        if (!sentence.endsWith(QLatin1Char('.')))
            sentence += QLatin1Char('.');
        wrongUsage(sentence);
        return Parsed::wrongUsage;
    }
    if (m_parser.isSet(m_help)) {
        QTextStream(stdout) << m_usage;
        return Parsed::done;
    }
    const QStringList positional = m_parser.positionalArguments();
    for (const QString& value : positional) {
        if (value.trimmed().isEmpty()) {
            wrongUsage(QStringLiteral("An argument is blank."));
            return Parsed::wrongUsage;
        }
    }
    if (positional.size() > maxArguments) {
        wrongUsage(QStringLiteral("Unexpected argument '%1'.").arg(clean(positional.at(maxArguments))));
        return Parsed::wrongUsage;
    }
    if (positional.size() < minArguments) {
        wrongUsage(minArguments == 1 ? QStringLiteral("One argument is missing.")
                                     : QStringLiteral("%1 arguments are expected.").arg(minArguments));
        return Parsed::wrongUsage;
    }
    return Parsed::run;
}

int CommandLine::wrongUsage(const QString& sentence) const
{
    QTextStream(stderr) << "quiro " << m_command << ": " << sentence << " Run 'quiro " << m_command
                        << " --help' for its usage.\n";
    return WrongUsage;
}

int CommandLine::exitStatus(Parsed parsed)
{
    return parsed == Parsed::done ? Success : WrongUsage;
}

} // namespace quiro::cli
