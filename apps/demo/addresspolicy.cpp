#include "addresspolicy.h"

namespace {

const int longestShown = 100;

bool isWeb(const QString& scheme)
{
    return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

} // namespace

QString AddressPolicy::refusal(const QUrl& url, Use use)
{
    const QString verb = use == Use::Open ? QStringLiteral("opened") : QStringLiteral("loaded");
    if (url.isEmpty())
        return QStringLiteral("there is no address");
    if (!url.isValid())
        return QStringLiteral("it is not a valid address");
    if (url.isRelative())
        return QStringLiteral("it is not a complete web address");
    if (!isWeb(url.scheme()))
        return QStringLiteral("only web addresses are %1").arg(verb);
    if (url.host().isEmpty())
        return QStringLiteral("it names no web server");
    // "https://bank.example.com@evil.test/" reads as the bank but goes elsewhere.
    if (!url.userInfo().isEmpty() || url.authority().contains(QLatin1Char('@')))
        return QStringLiteral("addresses with a user name or password are not %1").arg(verb);
    return QString();
}

QString AddressPolicy::redirectRefusal(const QUrl& from, const QUrl& target)
{
    const QString refused = refusal(target, Use::Load);
    if (!refused.isEmpty())
        return QStringLiteral("it leads on to %1, and %2").arg(displayText(target), refused);
    if (from.scheme() == QLatin1String("https") && target.scheme() == QLatin1String("http"))
        return QStringLiteral("it leads on from a secure address to %1, which is not").arg(displayText(target));
    return QString();
}

QString AddressPolicy::downloadRefusal(qint64 declaredBytes, qint64 receivedBytes)
{
    if (declaredBytes > maximumBytes || receivedBytes > maximumBytes)
        return QStringLiteral("the picture is larger than %1 MB").arg(maximumBytes / (1024 * 1024));
    return QString();
}

QString AddressPolicy::pictureRefusal(const QSize& size)
{
    if (!size.isValid() || size.isEmpty())
        return QStringLiteral("the picture does not tell its size");
    if (qint64(size.width()) * size.height() > maximumPixels)
        return QStringLiteral("the picture measures %1 × %2 pixels, more than %3 million")
            .arg(size.width())
            .arg(size.height())
            .arg(maximumPixels / 1000000);
    return QString();
}

QString AddressPolicy::displayText(const QUrl& url)
{
    QString text = url.toString(QUrl::FullyEncoded);
    if (text.isEmpty() && !url.isEmpty())
        text = QStringLiteral("an invalid address");
    if (text.size() > longestShown)
        text = text.left(longestShown - 1) + QChar(0x2026);
    return text;
}

QString AddressPolicy::refusalMessage(const QUrl& url, const QString& refusal)
{
    if (url.isEmpty())
        return QStringLiteral("Nothing to open: %1.").arg(refusal);
    return QStringLiteral("Refused to open %1: %2.").arg(displayText(url), refusal);
}
