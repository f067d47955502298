#pragma once

#include "core/AtomicFile.h"

#include <QList>
#include <QString>

// The language calls are held in, which the speech-to-text stream of the next call is opened for.
// Kept as one "STT_LANGUAGE=" line in the user's settings file.
namespace quiro::ConversationLanguage {

struct Language {
    QString code; // two letters, as the speech-to-text service takes it
    QString name;
};

const QList<Language>& offered();

// The code in the settings file; "en" when it names none.
QString load(const QString& envFile);
// Replaces the file's "STT_LANGUAGE=" line, keeping every other line.
WriteResult save(const QString& envFile, const QString& code);

} // namespace quiro::ConversationLanguage
