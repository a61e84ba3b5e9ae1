#include "messagetext.h"

#include "safetext.h"

#include <QtCore/QRegularExpression>
#include <QtCore/QVector>

namespace {

// Links first, so that a "$" or "@" inside an address stays part of it. A cashtag may hold dots
// and underscores (BRK.B, RY.CA, ES_F) but does not end in one; it never starts with a digit.
// A cashtag or mention that runs on into letters it cannot hold ("$AАPL" with a Cyrillic А) is
// no token: linking its first part would link something other than what is read.
const QRegularExpression& tokens()
{
    static const QRegularExpression pattern(QStringLiteral(
        R"((?<link>https?://[^\s<>"]+[^\s<>".,;:!?)\]}'])|(?<![\w$])\$(?<symbol>[A-Za-z][A-Za-z0-9]*(?:[._][A-Za-z0-9]+)*)(?![\p{Latin}\p{Greek}\p{Cyrillic}\p{N}\p{M}_])|(?<![\w@])@(?<user>[A-Za-z0-9_]+)(?![\p{Latin}\p{Greek}\p{Cyrillic}\p{N}\p{M}]))"));
    return pattern;
}

QString anchor(const QString& href, const QString& text, const QString& colour, bool underline)
{
    return QStringLiteral("<a href=\"%1\" style=\"color:%2; text-decoration:%3;\">%4</a>")
        .arg(href.toHtmlEscaped(), colour, underline ? QStringLiteral("underline") : QStringLiteral("none"),
             text.toHtmlEscaped());
}

// The text as it is seen, without its invisible characters, and for each of its code units the
// position it comes from; one more position marks the end.
struct VisibleText
{
    explicit VisibleText(const QString& text)
    {
        SafeText::forEachCodePoint(text, [&](uint code, int at, int length) {
            if (SafeText::isInvisible(code))
                return;
            shown.append(text.constData() + at, length);
            for (int k = 0; k < length; ++k)
                origin.append(at + k);
        });
        origin.append(text.size());
    }

    QString shown;
    QVector<int> origin;
};

} // namespace

// Tokens are found in the text as the reader sees it: an invisible character inside "$AA\u200BPL"
// does not cut it to $AA; it is linked as the $AAPL it looks like, and the invisible character
// leaves the token. Invisible characters elsewhere (joiners in emoji and scripts) stay.
QString MessageText::toHtml(const QString& body, const Colours& colours)
{
    const QString text = SafeText::plain(body);
    const VisibleText visible(text);
    QString html;
    int done = 0;
    auto matches = tokens().globalMatch(visible.shown);
    while (matches.hasNext()) {
        const QRegularExpressionMatch match = matches.next();
        const int start = visible.origin.at(match.capturedStart());
        html += text.mid(done, start - done).toHtmlEscaped();
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
        done = visible.origin.at(match.capturedEnd() - 1) + 1;
    }
    html += text.mid(done).toHtmlEscaped();
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
