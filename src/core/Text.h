#pragma once

#include <QString>

namespace quiro::Text {

// The text without blanks and tabs at either end; line breaks and other white space stay.
QString trimmedBlanksAndTabs(const QString& text);

} // namespace quiro::Text
