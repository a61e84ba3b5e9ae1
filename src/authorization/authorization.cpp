#include "authorization.h"

#include "actions/ventariuserinfoaction.h"
#include "authorizationdialog.h"
#include "common/reports.h"
#include "remotesettings.h"
#include "ventariactionhandler.h"
#include "ventarilogging.h"

#include <kelvar/preferences.h>
#include <settings/settingsstore.h>

#define AUTHORIZATION_LOG VR_LOG(Log::authorization(), 2)

namespace Ventari {

Authorization::Authorization()
{
    load();
}

bool Authorization::isAuthorized() const
{
    return !m_token.isEmpty();
}

bool Authorization::authorize()
{
    if (isAuthorized())
        return true;

    AuthorizationDialog dialog;
    dialog.exec();
    m_token = dialog.token();
    if (m_token.isEmpty())
        return false;

    AUTHORIZATION_LOG << "Token Received:" << m_token;
    save();
    emit authorizationChanged();
    requestUserInfo();
    return true;
}

QByteArray Authorization::token() const
{
    return m_token.toUtf8();
}

StoredUserInfo Authorization::userInfo() const
{
    StoredUserInfo stored;
    stored.info = m_user;
    stored.isEmpty = m_user.id == -1;
    return stored;
}

void Authorization::resetToken()
{
    AUTHORIZATION_LOG << "Token Reset";
    m_user = UserInfo();
    m_token.clear();
    save();
    emit authorizationChanged();
    emit userInfoChanged();
}

void Authorization::requestUserInfo()
{
    VentariActionHandler* handler = VentariActionHandler::instance();
    if (!handler)
        return;
    auto* action = new VentariUserInfoAction;
    VR_VERIFY(connect(action, SIGNAL(userInfoReceived(const UserInfo&)), this, SLOT(onUserInfo(const UserInfo&))));
    VR_VERIFY(connect(action, SIGNAL(error(const ResponseError&)), this, SLOT(onUserInfoError(const ResponseError&))));
    handler->executeAction(action);
}

void Authorization::onUserInfo(const UserInfo& info)
{
    if (info == m_user)
        return;
    m_user = info;
    AUTHORIZATION_LOG << "UserInfo Received:" << m_user.username;
    emit userInfoChanged();
    save();
}

void Authorization::onUserInfoError(const ResponseError&)
{
    AUTHORIZATION_LOG << "UserInfo Error";
    resetToken();
}

void Authorization::load()
{
    SettingsStore* store = settingsStore();
    if (!store)
        return;
    m_token = store->value(userKey("vr_auth"), QVariant()).toString();
    m_user = userInfoFromVariant(store->value(userKey("userInfo"), QVariantMap()).toMap());
    // The fresh record is asked for once the event loop runs, when the action handler exists.
    if (!m_token.isEmpty())
        QMetaObject::invokeMethod(this, "requestUserInfo", Qt::QueuedConnection);
    AUTHORIZATION_LOG << "Token Loaded:" << m_token;
    AUTHORIZATION_LOG << "UserInfo Loaded:" << m_user.username;
}

void Authorization::save()
{
    SettingsStore* store = settingsStore();
    if (!store)
        return;
    store->setValue(userKey("vr_auth"), m_token);
    store->setValue(userKey("userInfo"), userInfoToVariant(m_user));
}

QByteArray Authorization::userKey(const char* suffix)
{
    return Kelvar::Preferences::instance()->username().toUtf8() + suffix;
}

} // namespace Ventari
