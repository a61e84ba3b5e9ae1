#include "ventaritypes.h"

#include <QtCore/QVariantMap>

namespace Ventari {

bool UserInfo::operator==(const UserInfo& other) const
{
    return id == other.id && username == other.username && name == other.name && joinDate == other.joinDate
        && avatarUrl == other.avatarUrl;
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
