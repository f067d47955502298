#pragma once

#include <QString>
#include <QStringView>

namespace quiro::service::LogText {

// Client-supplied text made safe for the log: every character that is not printable (terminal
// escapes, NUL, other controls, bidirectional overrides, unassigned code points) is written as an
// escape ("\x1b", "\u202e"), and so is the backslash, so a log line shows exactly what arrived and
// cannot colour, move or hide anything in a terminal. Cut to `maxChars` characters first.
QString printable(QStringView text, qsizetype maxChars = 100);

} // namespace quiro::service::LogText
