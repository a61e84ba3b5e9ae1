#include "messagetext.h"

#include <QtCore/QRegularExpression>

namespace {

// Links first, so that a "$" or "@" inside an address stays part of it. A cashtag may hold dots
// and underscores (BRK.B, RY.CA, ES_F) but does not end in one; it never starts with a digit.
const QRegularExpression& tokens()
{
    static const QRegularExpression pattern(QStringLiteral(
        R"((?<link>https?://[^\s<>"]+[^\s<>".,;:!?)\]}'])|(?<![\w$])\$(?<symbol>[A-Za-z][A-Za-z0-9]*(?:[._][A-Za-z0-9]+)*)|(?<![\w@])@(?<user>[A-Za-z0-9_]+))"));
    return pattern;
}

QString anchor(const QString& href, const QString& text, const QString& colour, bool underline)
{
    return QStringLiteral("<a href=\"%1\" style=\"color:%2; text-decoration:%3;\">%4</a>")
        .arg(href.toHtmlEscaped(), colour, underline ? QStringLiteral("underline") : QStringLiteral("none"),
             text.toHtmlEscaped());
}

} // namespace

QString MessageText::toHtml(const QString& body, const Colours& colours)
{
    QString html;
    int done = 0;
    auto matches = tokens().globalMatch(body);
    while (matches.hasNext()) {
        const QRegularExpressionMatch match = matches.next();
        html += body.mid(done, match.capturedStart() - done).toHtmlEscaped();
        if (!match.captured(QStringLiteral("link")).isEmpty()) {
            const QString link = match.captured(QStringLiteral("link"));
            html += anchor(link, shortLink(link), colours.link, true);
        } else if (!match.captured(QStringLiteral("symbol")).isEmpty()) {
            const QString symbol = match.captured(QStringLiteral("symbol"));
            html += QStringLiteral("<b>") + anchor(QStringLiteral("symbol:") + symbol, match.captured(), colours.symbol, false)
                + QStringLiteral("</b>");
        } else {
            html += anchor(QStringLiteral("user:") + match.captured(QStringLiteral("user")), match.captured(),
                           colours.mention, false);
        }
        done = match.capturedEnd();
    }
    html += body.mid(done).toHtmlEscaped();
    html.replace(QLatin1Char('\n'), QLatin1String("<br>"));
    return html;
}

MessageText::Target MessageText::targetOf(const QString& anchor, QString* value)
{
    if (anchor.startsWith(QLatin1String("symbol:"))) {
        *value = anchor.mid(7);
        return Target::Symbol;
    }
    if (anchor.startsWith(QLatin1String("user:"))) {
        *value = anchor.mid(5);
        return Target::User;
    }
    const QUrl url(anchor);
    if (url.isValid() && (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https"))) {
        *value = anchor;
        return Target::Link;
    }
    value->clear();
    return Target::None;
}

QString MessageText::shortLink(const QString& link)
{
    const QUrl url(link);
    QString text = url.host();
    if (text.startsWith(QLatin1String("www.")))
        text = text.mid(4);
    const QString rest = url.path() + (url.hasQuery() ? QLatin1Char('?') + url.query() : QString());
    if (rest.size() > 1)
        text += rest.size() > 24 ? rest.left(23) + QChar(0x2026) : rest;
    return text.isEmpty() ? link : text;
}
