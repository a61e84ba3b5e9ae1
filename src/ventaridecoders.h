#pragma once

#include "ventariglobal.h"
#include "ventaritypes.h"

#include <QtCore/QSet>
#include <QtCore/QString>
#include <QtCore/QVariant>

// Decoding of the service's replies, after the JSON reader, into records. A missing or mistyped
// key the plugin depends on aborts the whole decode with a FormatException.
namespace Ventari {

// Why a reply could not be decoded; thrown by value, caught by reference.
struct VENTARI_EXPORT FormatException
{
    explicit FormatException(const QString& message)
        : message(message)
    {
    }

    QString message;
};

VENTARI_EXPORT ResponseError decodeResponseError(const QVariantMap& reply);
VENTARI_EXPORT Message decodeMessage(const QVariantMap& map);
VENTARI_EXPORT Messages decodeMessages(const QVariantList& list);
VENTARI_EXPORT UserInfo decodeUserInfo(const QVariantMap& map);
VENTARI_EXPORT SymbolInfo decodeSymbolInfo(const QVariantMap& map);
VENTARI_EXPORT SymbolInfos decodeSymbolInfos(const QVariantList& list);
VENTARI_EXPORT QSet<int> decodeLikedUserIds(const QVariantList& list);
VENTARI_EXPORT WatchLists decodeWatchLists(const QVariantList& list);

} // namespace Ventari
