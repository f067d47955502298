#include "service/http/LogText.h"

#include <QList>

namespace quiro::service::LogText {

namespace {

bool printableChar(uint c)
{
    if (c == '\\')
        return false;
    switch (QChar::category(c)) {
    case QChar::Other_Control:
    case QChar::Other_Format:
    case QChar::Other_Surrogate:
    case QChar::Other_PrivateUse:
    case QChar::Other_NotAssigned:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
        return false;
    default:
        return true;
    }
}

} // namespace

QString printable(QStringView text, qsizetype maxChars)
{
    QString out;
    qsizetype taken = 0;
    for (const uint c : text.toUcs4()) {
        if (taken++ == maxChars)
            break;
        const char32_t code = c;
        if (printableChar(c))
            out.append(QString::fromUcs4(&code, 1));
        else if (c == '\\')
            out.append(QStringLiteral("\\\\"));
        else if (c < 0x100)
            out.append(QStringLiteral("\\x%1").arg(c, 2, 16, QLatin1Char('0')));
        else
            out.append(QStringLiteral("\\u%1").arg(c, 4, 16, QLatin1Char('0')));
    }
    return out;
}

} // namespace quiro::service::LogText
