#include "secretmask.h"

#include <QtCore/QRegularExpression>
#include <QtCore/QVector>

namespace Corvane {
namespace {

// Each keeps what names the token in its first group and stops the value before anything that
// cannot belong to a token.
const QVector<QRegularExpression>& tokenPlaces()
{
    static const QVector<QRegularExpression> expressions = {
        // A multipart field: the part's header lines, the blank line, then the value on its own line.
        QRegularExpression(QStringLiteral("(name=\"?access_token\"?[^\\r\\n]*\\r?\\n(?:[^\\r\\n]+\\r?\\n)*\\r?\\n)[^\\r\\n]+")),
        // A query item or a form field.
        QRegularExpression(QStringLiteral("(access_token=)[^&#\\s\"'<>]+")),
        // An address that travels percent-encoded inside another one; its "&" and "#" are encoded too.
        QRegularExpression(QStringLiteral("(access_token%3[dD])(?:(?!%26|%23)[^&#\\s\"'<>])+")),
        QRegularExpression(QStringLiteral("(\"access_token\"\\s*:\\s*\")[^\"]+")),
        QRegularExpression(QStringLiteral("(Token (?:Loaded|Received):)[^\\s\"'<>]+")),
    };
    return expressions;
}

} // namespace

QString maskAccessTokens(const QString& text)
{
    if (!text.contains(QLatin1String("access_token")) && !text.contains(QLatin1String("Token ")))
        return text;
    QString masked = text;
    for (const QRegularExpression& place : tokenPlaces())
        masked.replace(place, QStringLiteral("\\1***"));
    return masked;
}

} // namespace Corvane
