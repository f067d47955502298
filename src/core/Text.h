#pragma once

#include <QString>

namespace quiro::Text {

// The text without blanks and tabs at either end; line breaks and other white space stay.
QString trimmedBlanksAndTabs(const QString& text);

// Text from a remote service made safe to show: control characters (terminal escape sequences,
// line breaks that would forge extra lines) become blanks and bidirectional overrides are dropped.
QString displayable(const QString& text);

} // namespace quiro::Text
