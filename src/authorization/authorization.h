#pragma once

#include "iauthorization.h"
#include "ventariglobal.h"

#include <QtCore/QObject>

namespace Ventari {

// The host user's access token and service user, kept in the host's settings per host user.
class VENTARI_EXPORT Authorization : public QObject, public IAuthorization, public virtual Common::AbstractNotifier
{
    Q_OBJECT

public:
    Authorization();

    bool isAuthorized() const override;
    bool authorize() override;
    QByteArray token() const override;
    StoredUserInfo userInfo() const override;
    void resetToken() override;

signals:
    void authorizationChanged() override;
    void userInfoChanged() override;

private slots:
    void onUserInfo(const UserInfo& info);
    void onUserInfoError(const ResponseError& error);
    void requestUserInfo();

private:
    void load();
    void save();
    static QByteArray userKey(const char* suffix);

    QString m_token;
    UserInfo m_user;
};

} // namespace Ventari
