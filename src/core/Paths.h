#pragma once

#include <QString>

namespace quiro::Paths {

// The user's home folder (QDir::homePath(), so tests can point HOME elsewhere).
QString home();

// ~/.quiroai, created 0700 when missing. Transcripts and tokens live below it.
QString appDir();

// Creates `path` and any missing parents below ~/.quiroai with mode 0700 and returns whether
// it exists afterwards. Folders that already exist keep their mode.
bool ensurePrivateDir(const QString& path);

// Narrows ~/.quiroai to 0700 and the token file to 0600 where they are wider (a copy, an old
// umask, a hand-made folder), with one log line each. Creates nothing.
void narrowPrivateModes();

QString userEnvFile();     // ~/.quiroai/.env
QString profileFile();     // ~/.quiroai/profile.json
QString sessionsRoot();    // ~/.quiroai/sessions (not created)
QString serviceDir();      // ~/.quiroai/service (not created): the local service's data folder
QString serviceCertFile(); // ~/.quiroai/service/cert.pem
QString tokenFile();       // ~/.quiroai/token: the token when no secret service runs
QString logFile();         // ~/.quiroai/logs/quiro.log: the program's log lines

// The program's bundled resources (.env, product.json, icons): share/quiro beside the
// executable's prefix when installed, the source tree's resources/ when run from the build tree.
QString resourceDir();

} // namespace quiro::Paths
