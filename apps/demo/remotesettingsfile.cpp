#include "remotesettingsfile.h"

#include <emulator/service.h>
#include <settings/settingsstore.h>

#include <QtCore/QFile>

namespace {

const QByteArray prefix = QByteArrayLiteral("RemoteSettings/Ventari/");

} // namespace

RemoteSettingsFile::Values RemoteSettingsFile::forService(const QUrl& baseUrl)
{
    Values values;
    const auto settings = Emulator::remoteSettingsFor(baseUrl.toString(QUrl::FullyEncoded).toStdString());
    for (const auto& setting : settings)
        values.insert(QByteArray::fromStdString(setting.first), QString::fromStdString(setting.second));
    return values;
}

bool RemoteSettingsFile::read(const QString& fileName, Values* values, QString* errorText)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        *errorText = QStringLiteral("Cannot read the remote settings file %1: %2").arg(fileName, file.errorString());
        return false;
    }
    Values read;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        const int equals = line.indexOf(QLatin1Char('='));
        if (!line.startsWith(QLatin1String(prefix)) || equals <= prefix.size())
            continue;
        read.insert(line.mid(prefix.size(), equals - prefix.size()).toUtf8(), line.mid(equals + 1));
    }
    if (read.isEmpty()) {
        *errorText = QStringLiteral("%1 holds no lines of the form RemoteSettings/Ventari/<key>=<value>").arg(fileName);
        return false;
    }
    for (auto it = read.cbegin(); it != read.cend(); ++it)
        values->insert(it.key(), it.value());
    return true;
}

QStringList RemoteSettingsFile::missingKeys(const Values& values)
{
    QStringList missing;
    for (const char* key : {"streamApiUrl", "likeUrl", "unlikeUrl", "friendshipsUrl", "stockshipsUrl",
                            "watchListsUrl", "userInfoUrl", "shareUrl", "authorizationUrl", "OrvaneId"}) {
        if (values.value(key).isEmpty())
            missing << QString::fromLatin1(key);
    }
    return missing;
}

void RemoteSettingsFile::store(const Values& values, SettingsStore* store)
{
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        store->setValue(prefix + it.key(), it.value());
    store->sync();
}
