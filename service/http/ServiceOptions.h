#pragma once

#include <QString>
#include <QStringList>

namespace quiro::service {

// The command line of quiro-service.
struct ServiceOptions {
    QString host = QStringLiteral("127.0.0.1");
    quint16 port = 8443;
    QString dataDir; // default: ~/.quiroai/service
    bool tls = true;

    enum class Outcome { Run, Help, WrongUsage };
    struct Parsed {
        Outcome outcome = Outcome::WrongUsage;
        QString message; // the help text, or what is wrong
    };

    // `arguments` includes the program name first. `languages` are the speech languages this
    // machine has models for, for the help text.
    Parsed parse(const QStringList& arguments, const QStringList& languages);

    static QString helpText(const QStringList& languages);
};

} // namespace quiro::service
