#pragma once

#include <QtCore/QByteArray>
#include <QtCore/QMap>
#include <QtCore/QString>
#include <QtCore/QStringList>
#include <QtCore/QUrl>

class SettingsStore;

// The remote settings that point the plugin at a service: keys without the
// "RemoteSettings/Ventari/" prefix, derived from a service address or read from a file.
class RemoteSettingsFile
{
public:
    using Values = QMap<QByteArray, QString>;

    // The settings of a service with the emulator's layout at this address.
    static Values forService(const QUrl& baseUrl);
    // Reads "RemoteSettings/Ventari/<key>=<value>" lines; other lines are skipped, so the whole
    // output of ventari-emulator --print-settings serves. False with a reason when none is there.
    static bool read(const QString& fileName, Values* values, QString* errorText);
    // The keys the plugin cannot work without that values lacks.
    static QStringList missingKeys(const Values& values);
    static void store(const Values& values, SettingsStore* store);
};
