#pragma once

#include "ventaritypes.h"

#include "common/notifier/commonabstractnotifier.h"

#include <QtCore/QByteArray>

namespace Ventari {

// The stored user record, marked empty when no user is stored.
struct StoredUserInfo
{
    UserInfo info;
    bool isEmpty = true;
};

// The host user's token and service user; observers subscribe to "authorizationChanged" and
// "userInfoChanged" through the notifier operations.
class IAuthorization : public virtual Common::INotifier
{
public:
    virtual bool isAuthorized() const = 0;
    virtual bool authorize() = 0;
    virtual QByteArray token() const = 0;
    virtual StoredUserInfo userInfo() const = 0;
    virtual void resetToken() = 0;

protected:
    // Signals of the implementing notifier.
    virtual void authorizationChanged() = 0;
    virtual void userInfoChanged() = 0;
};

} // namespace Ventari
