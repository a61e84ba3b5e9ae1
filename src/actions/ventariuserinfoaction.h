#pragma once

#include "ventariabstractaction.h"

namespace Ventari {

// Loads the authorized user's own record.
class VENTARI_EXPORT VentariUserInfoAction : public VentariAbstractAction
{
    Q_OBJECT

public:
    VentariUserInfoAction();

    QUrl url() override;
    bool processData(const QVariantMap& reply) override;

signals:
    void userInfoReceived(UserInfo info);
};

} // namespace Ventari
