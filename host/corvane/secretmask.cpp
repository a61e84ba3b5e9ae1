#include "secretmask.h"

#include <QtCore/QRegularExpression>

namespace Corvane {
namespace {

// Each keeps what names the token in its first group and masks the value that follows.
const QRegularExpression& queryItem()
{
    static const QRegularExpression expression(QStringLiteral("(access_token=)[^&#\\s\"'<>]+"));
    return expression;
}

// An address that travels percent-encoded inside another one; its "&" and "#" are encoded too.
const QRegularExpression& encodedQueryItem()
{
    static const QRegularExpression expression(QStringLiteral("(access_token%3[dD])(?:(?!%26|%23)[^&#\\s\"'<>])+"));
    return expression;
}

const QRegularExpression& multipartField()
{
    // The part's header lines, the blank line, then the value on its own line.
    static const QRegularExpression expression(
        QStringLiteral("(name=\"?access_token\"?[^\\r\\n]*\\r?\\n(?:[^\\r\\n]+\\r?\\n)*\\r?\\n)[^\\r\\n]+"));
    return expression;
}

const QRegularExpression& jsonMember()
{
    static const QRegularExpression expression(QStringLiteral("(\"access_token\"\\s*:\\s*\")[^\"]+"));
    return expression;
}

const QRegularExpression& tokenRecord()
{
    static const QRegularExpression expression(QStringLiteral("(Token (?:Loaded|Received):)[^\\s\"'<>]+"));
    return expression;
}

} // namespace

QString maskAccessTokens(const QString& text)
{
    if (!text.contains(QLatin1String("access_token")) && !text.contains(QLatin1String("Token ")))
        return text;
    const QString mask = QStringLiteral("\\1***");
    QString masked = text;
    masked.replace(multipartField(), mask);
    masked.replace(queryItem(), mask);
    masked.replace(encodedQueryItem(), mask);
    masked.replace(jsonMember(), mask);
    masked.replace(tokenRecord(), mask);
    return masked;
}

} // namespace Corvane
