#pragma once

#include "hostglobal.h"

#include <QtCore/QObject>
#include <QtCore/QVariant>

class QCoreApplication;
class QSettings;

// The host's settings store: values kept in an INI file that survive restarts.
// It is a member object of the host's application object, reached through of().
class HOST_EXPORT SettingsStore : public QObject
{
    Q_OBJECT

public:
    // Installs a store over the given INI file on the application object, replacing any earlier one.
    static SettingsStore* install(const QString& fileName, QCoreApplication* application);
    // The application's store; made on first use over the user's configuration folder.
    static SettingsStore* of(QCoreApplication* application);

    QVariant value(const QByteArray& key, const QVariant& defaultValue = QVariant(), int flags = 0) const;
    void setValue(const QByteArray& key, const QVariant& value, int flags = 0);

    QString fileName() const;
    // Writes what changed now; otherwise that happens on the next pass of the event loop.
    void sync();

    static QString defaultFileName();

    ~SettingsStore() override;

private:
    SettingsStore(const QString& fileName, QObject* parent);

    QSettings* m_settings;
    bool m_syncPending = false;
};
