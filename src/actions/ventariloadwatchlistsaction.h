#pragma once

#include "ventariabstractaction.h"

namespace Ventari {

// Loads the authorized user's watch lists.
class VENTARI_EXPORT VentariLoadWatchListsAction : public VentariAbstractAction
{
    Q_OBJECT

public:
    VentariLoadWatchListsAction();

    QUrl url() override;
    bool processData(const QVariantMap& reply) override;

signals:
    void watchListsReceived(WatchLists lists);
};

} // namespace Ventari
