#pragma once

#include <QtCore/QString>
#include <QtCore/QStringList>
#include <QtCore/QUrl>

// What the user asked of the desk on its command line.
struct DeskOptions
{
    enum class Theme { Dark, Light };

    QUrl serviceUrl;            // another running service; empty: the embedded one
    QString remoteSettingsFile; // "RemoteSettings/Ventari/<key>=<value>" lines
    int generatorSeconds = 4;   // the embedded service's message generator period
    QString signInUser;         // embedded only: signed in as this service user from the start
    QString hostUser;           // the host's user name
    Theme theme = Theme::Dark;
    QString pluginPath;         // a plugin file or a folder holding it
    QString settingsFile;       // the host's settings store; empty: the user's configuration folder
    QString screenshotFile;
    double screenshotAfterSeconds = 0; // how long after the first messages the screenshot is taken
    double quitAfterSeconds = 0; // 0: run until closed

    bool usesEmbeddedService() const { return serviceUrl.isEmpty() && remoteSettingsFile.isEmpty(); }

    // Reads the options from the arguments (program name first). On false, errorText says why;
    // helpText is set instead when --help was asked for.
    static bool parse(const QStringList& arguments, DeskOptions* options, QString* errorText, QString* helpText);
};
