#pragma once

#include <QtCore/QSize>
#include <QtCore/QString>
#include <QtCore/QUrl>

// The one rule for every address from the service that the desk opens or loads (links, charts,
// videos, avatars, thumbnails): web addresses only, without a user name or password; pictures
// come over the network within a download size and a pixel count. Refusals are clauses people
// read: "Refused to open <address>: <refusal>".
class AddressPolicy
{
public:
    // What the address is for: handed to the web browser, or fetched as a picture.
    enum class Use { Open, Load };

    // Empty when the address may be used so; otherwise why not.
    static QString refusal(const QUrl& url, Use use);
    // A redirect of a picture's download to target: refusal(target) and no step down from https.
    static QString redirectRefusal(const QUrl& from, const QUrl& target);
    // Empty while a download that declared declaredBytes (-1: none) and has receivedBytes in may
    // go on.
    static QString downloadRefusal(qint64 declaredBytes, qint64 receivedBytes);
    // Empty when a picture of that size may be decoded; an invalid size is one nobody can tell.
    static QString pictureRefusal(const QSize& size);

    // The address as people should read it in a refusal or tooltip: encoded, so that no
    // invisible or direction character hides in it, and shortened when long.
    static QString displayText(const QUrl& url);
    // "Refused to open <address>: <refusal>", for the status bar.
    static QString refusalMessage(const QUrl& url, const QString& refusal);

    // Downloads stop past this; an avatar or thumbnail is far smaller.
    static constexpr qint64 maximumBytes = 4 * 1024 * 1024;
    // Pictures are decoded up to this many pixels; a tiny file may declare gigabytes of them.
    static constexpr qint64 maximumPixels = 4096 * 4096;
};
