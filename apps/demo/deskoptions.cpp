#include "deskoptions.h"

#include <QtCore/QCommandLineParser>
#include <QtCore/QCoreApplication>

namespace {

QString defaultHostUser()
{
    const QString user = qEnvironmentVariable("USER");
    return user.isEmpty() ? QStringLiteral("trader") : user;
}

bool readSeconds(const QString& text, double low, double high, double* seconds)
{
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || value < low || value > high)
        return false;
    *seconds = value;
    return true;
}

} // namespace

bool DeskOptions::parse(const QStringList& arguments, DeskOptions* options, QString* errorText, QString* helpText)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Ventari Desk: a trading desk that shows Ventari message streams through the Ventari plugin.\n"
        "By default it runs its own Ventari service on a free loopback port, with new messages\n"
        "arriving every few seconds."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this text."));
    const QCommandLineOption service(QStringLiteral("service"),
                                     QStringLiteral("Use the Ventari service at URL (laid out like ventari-emulator) "
                                                    "instead of the embedded one."),
                                     QStringLiteral("URL"));
    const QCommandLineOption remoteSettings(
        QStringLiteral("remote-settings"),
        QStringLiteral("Read the service's settings from FILE: lines RemoteSettings/Ventari/<key>=<value>, as "
                       "ventari-emulator --print-settings prints them. They win over those derived from --service."),
        QStringLiteral("FILE"));
    const QCommandLineOption generate(QStringLiteral("generate"),
                                      QStringLiteral("Embedded service: a new message every SECONDS (0: none; "
                                                     "default 4)."),
                                      QStringLiteral("SECONDS"), QStringLiteral("4"));
    const QCommandLineOption signIn(QStringLiteral("sign-in"),
                                    QStringLiteral("Embedded service: start signed in as service user USER "
                                                   "(alice, bob, carol, dave, zoe, ventari_ir)."),
                                    QStringLiteral("USER"));
    const QCommandLineOption user(QStringLiteral("user"),
                                  QStringLiteral("The host user, who keeps his own sign-in (default: $USER)."),
                                  QStringLiteral("NAME"));
    const QCommandLineOption theme(QStringLiteral("theme"), QStringLiteral("dark (default) or light."),
                                   QStringLiteral("THEME"), QStringLiteral("dark"));
    const QCommandLineOption plugin(QStringLiteral("plugin"),
                                    QStringLiteral("Load the Ventari plugin from PATH (the library or its folder)."),
                                    QStringLiteral("PATH"));
    const QCommandLineOption settings(QStringLiteral("settings"),
                                      QStringLiteral("Keep the host's settings in FILE instead of the user's "
                                                     "configuration folder."),
                                      QStringLiteral("FILE"));
    const QCommandLineOption screenshot(QStringLiteral("screenshot"),
                                        QStringLiteral("Write a PNG of the window to FILE once the first messages "
                                                       "are shown."),
                                        QStringLiteral("FILE"));
    const QCommandLineOption screenshotAfter(
        QStringLiteral("screenshot-after"),
        QStringLiteral("Write the screenshot SECONDS after the first messages are shown (default 0), so that "
                       "new messages and unread counts are in it."),
        QStringLiteral("SECONDS"), QStringLiteral("0"));
    const QCommandLineOption quitAfter(QStringLiteral("quit-after"),
                                       QStringLiteral("Quit cleanly after SECONDS."), QStringLiteral("SECONDS"));
    parser.addOptions({help, service, remoteSettings, generate, signIn, user, theme, plugin, settings, screenshot,
                       screenshotAfter, quitAfter});

    if (!parser.parse(arguments)) {
        *errorText = parser.errorText();
        return false;
    }
    if (parser.isSet(help)) {
        *helpText = parser.helpText();
        return false;
    }
    if (!parser.positionalArguments().isEmpty()) {
        *errorText = QStringLiteral("Unexpected argument: %1").arg(parser.positionalArguments().first());
        return false;
    }

    DeskOptions result;
    if (parser.isSet(service)) {
        QString text = parser.value(service);
        if (!text.endsWith(QLatin1Char('/')))
            text += QLatin1Char('/');
        result.serviceUrl = QUrl(text, QUrl::StrictMode);
        const QString scheme = result.serviceUrl.scheme();
        if (!result.serviceUrl.isValid() || result.serviceUrl.host().isEmpty()
            || (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
            *errorText = QStringLiteral("--service needs an http or https address such as http://127.0.0.1:8080/, "
                                        "not \"%1\"")
                             .arg(parser.value(service));
            return false;
        }
    }
    result.remoteSettingsFile = parser.value(remoteSettings);

    double seconds = 0;
    if (!readSeconds(parser.value(generate), 0, 86400, &seconds) || seconds != int(seconds)) {
        *errorText = QStringLiteral("--generate needs whole seconds from 0 to 86400, not \"%1\"")
                         .arg(parser.value(generate));
        return false;
    }
    result.generatorSeconds = int(seconds);

    result.signInUser = parser.value(signIn);
    if (!result.signInUser.isEmpty() && !result.usesEmbeddedService()) {
        *errorText = QStringLiteral("--sign-in works with the embedded service only; sign in from the Account "
                                    "menu instead");
        return false;
    }
    result.hostUser = parser.isSet(user) ? parser.value(user) : defaultHostUser();
    if (result.hostUser.trimmed().isEmpty()) {
        *errorText = QStringLiteral("--user needs a name");
        return false;
    }

    const QString themeName = parser.value(theme).toLower();
    if (themeName == QLatin1String("light")) {
        result.theme = Theme::Light;
    } else if (themeName != QLatin1String("dark")) {
        *errorText = QStringLiteral("--theme is dark or light, not \"%1\"").arg(parser.value(theme));
        return false;
    }

    result.pluginPath = parser.value(plugin);
    result.settingsFile = parser.value(settings);
    result.screenshotFile = parser.value(screenshot);
    if (!readSeconds(parser.value(screenshotAfter), 0, 86400, &result.screenshotAfterSeconds)) {
        *errorText = QStringLiteral("--screenshot-after needs a number of seconds, not \"%1\"")
                         .arg(parser.value(screenshotAfter));
        return false;
    }
    if (parser.isSet(quitAfter) && !readSeconds(parser.value(quitAfter), 0.1, 86400 * 7, &result.quitAfterSeconds)) {
        *errorText = QStringLiteral("--quit-after needs a number of seconds, not \"%1\"").arg(parser.value(quitAfter));
        return false;
    }
    *options = result;
    return true;
}
