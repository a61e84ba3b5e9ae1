#include "ventariloadwatchlistsaction.h"

#include "remotesettings.h"

namespace Ventari {

VentariLoadWatchListsAction::VentariLoadWatchListsAction()
    : VentariAbstractAction(RequiresUser, Get, 1)
{
}

QUrl VentariLoadWatchListsAction::url()
{
    return QUrl(remoteSetting("watchListsUrl").toString());
}

bool VentariLoadWatchListsAction::processData(const QVariantMap& reply)
{
    return VentariAbstractAction::processData(reply) && decodeResult([&] {
        emit watchListsReceived(decodeWatchLists(reply.value(QStringLiteral("watchlists")).toList()));
    });
}

} // namespace Ventari
