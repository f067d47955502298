#pragma once

#include <QByteArray>
#include <QString>

namespace quiro::AtomicFile {

// Writes `bytes` to a temporary file beside `path` and renames it over `path`, so a reader
// never sees a half-written file. The file is private (0600). Returns false when anything
// fails; the previous file, if any, is then left untouched.
bool write(const QString& path, const QByteArray& bytes);

// Replaces the contents of `path` in place (no rename), keeping it private (0600).
// For files the program rewrites as a whole and that nothing reads concurrently.
bool writeInPlace(const QString& path, const QByteArray& bytes);

} // namespace quiro::AtomicFile
