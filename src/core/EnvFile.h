#pragma once

#include "core/AtomicFile.h"

#include <QHash>
#include <QString>

#include <optional>

// Settings files of key=value lines (UTF-8, LF-separated).
namespace quiro::EnvFile {

using Values = QHash<QString, QString>;

// The accepted lines of `text`: trimmed, not comments, with an "=" and a non-empty value.
// For a key given twice the last line wins.
Values parse(const QString& text);

// The file's text, or nothing when it is missing, unreadable or not valid UTF-8.
std::optional<QString> readText(const QString& path);

// Sets one key in the user's file: drops every line that starts with "key=", drops blank lines,
// appends "key=value", and replaces the file atomically. A file that exists but cannot be read
// as UTF-8 is left untouched (its lines would be lost): that fails, with one log line.
WriteResult setValue(const QString& path, const QString& key, const QString& value);

} // namespace quiro::EnvFile
