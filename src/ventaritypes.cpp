#include "ventaritypes.h"

#include <QtCore/QVariantMap>
#include <QtNetwork/QNetworkReply>

namespace Ventari {

bool UserInfo::operator==(const UserInfo& other) const
{
    return id == other.id && username == other.username && name == other.name && joinDate == other.joinDate
        && avatarUrl == other.avatarUrl;
}

bool ResponseError::isTransient() const
{
    if (status == 429 || (status >= 500 && status < 600))
        return true;
    switch (QNetworkReply::NetworkError(networkError)) {
    case QNetworkReply::NoError:
    case QNetworkReply::ContentAccessDenied:
    case QNetworkReply::ContentOperationNotPermittedError:
    case QNetworkReply::ContentNotFoundError:
    case QNetworkReply::AuthenticationRequiredError:
    case QNetworkReply::ContentReSendError:
    case QNetworkReply::ContentConflictError:
    case QNetworkReply::ContentGoneError:
    case QNetworkReply::ProtocolUnknownError:
    case QNetworkReply::ProtocolInvalidOperationError:
    case QNetworkReply::ProtocolFailure:
    case QNetworkReply::OperationNotImplementedError:
    case QNetworkReply::SslHandshakeFailedError:
    case QNetworkReply::TooManyRedirectsError:
    case QNetworkReply::InsecureRedirectError:
        return false;
    // Connection, proxy and server failures; and the client errors Qt has no name for, among
    // them 429 and 408.
    default:
        return true;
    }
}

QVariant userInfoToVariant(const UserInfo& info)
{
    QVariantMap map;
    map.insert(QStringLiteral("id"), info.id);
    map.insert(QStringLiteral("username"), info.username);
    map.insert(QStringLiteral("name"), info.name);
    map.insert(QStringLiteral("dateJoin"), info.joinDate);
    map.insert(QStringLiteral("avatarPath"), info.avatarUrl);
    return map;
}

UserInfo userInfoFromVariant(const QVariant& value)
{
    const QVariantMap map = value.toMap();
    UserInfo info;
    info.id = map.value(QStringLiteral("id")).toInt();
    info.username = map.value(QStringLiteral("username")).toString();
    info.name = map.value(QStringLiteral("name")).toString();
    info.joinDate = map.value(QStringLiteral("dateJoin")).toDateTime();
    info.avatarUrl = map.value(QStringLiteral("avatarPath")).toString();
    return info;
}

namespace {

template <typename T>
void registerNames(std::initializer_list<const char*> names)
{
    for (const char* name : names)
        qRegisterMetaType<T>(name);
}

} // namespace

void registerMetaTypes()
{
    // Queued connections look argument types up by the text the signature spells; signals
    // inside the namespace spell some of them without it.
    static const bool registered = [] {
        registerNames<SymbolInfo>({"Ventari::SymbolInfo"});
        registerNames<SymbolInfos>({"Ventari::SymbolInfos"});
        registerNames<UserInfo>({"Ventari::UserInfo", "UserInfo"});
        registerNames<Message>({"Ventari::Message"});
        registerNames<Messages>({"Ventari::Messages"});
        registerNames<WatchListItem>({"Ventari::WatchListItem"});
        registerNames<WatchLists>({"Ventari::WatchLists", "WatchLists"});
        registerNames<ResponseError>({"Ventari::ResponseError", "ResponseError"});
        return true;
    }();
    Q_UNUSED(registered)
}

namespace {

const struct MetaTypeRegistration
{
    MetaTypeRegistration() { registerMetaTypes(); }
} metaTypeRegistration;

} // namespace

} // namespace Ventari
