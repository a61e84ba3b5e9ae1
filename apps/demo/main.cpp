// ventari-desk: a trading desk that hosts the Ventari plugin, on an embedded service by default.

#include "deskhost.h"
#include "deskoptions.h"
#include "desktheme.h"
#include "deskwindow.h"
#include "headlessrunner.h"

#include <QtCore/QElapsedTimer>
#include <QtGui/QGuiApplication>
#include <QtWidgets/QApplication>
#include <QtWidgets/QMessageBox>

#include <cstdio>

namespace {

// Without a display Qt would abort; a screenshot run does without one, anything else says how to.
bool prepareDisplay(const DeskOptions& options)
{
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") || !qEnvironmentVariableIsEmpty("DISPLAY")
        || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return true;
    if (!options.screenshotFile.isEmpty()) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return true;
    }
    std::fputs("ventari-desk: no display to show the desk on (DISPLAY is not set).\n"
               "Run it under xvfb-run, or headless: ventari-desk --screenshot desk.png --quit-after 10\n",
               stderr);
    return false;
}

QtMessageHandler s_qtHandler = nullptr;

// The offscreen platform says this of every top-level window; nothing is wrong.
void dropPlatformChatter(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (message != QLatin1String("This plugin does not support propagateSizeHints()"))
        s_qtHandler(type, context, message);
}

void reportFailure(const QString& text, bool headless)
{
    std::fprintf(stderr, "ventari-desk: %s\n", qPrintable(text));
    const QString platform = QGuiApplication::platformName();
    if (!headless && platform != QLatin1String("offscreen") && platform != QLatin1String("minimal"))
        QMessageBox::critical(nullptr, QStringLiteral("Ventari Desk"), text);
}

} // namespace

int main(int argc, char** argv)
{
    QElapsedTimer startUp;
    startUp.start();
    DeskOptions options;
    {
        // The options are read before the application is made, which aborts without a display.
        QCoreApplication reader(argc, argv);
        QString errorText;
        QString helpText;
        if (!DeskOptions::parse(QCoreApplication::arguments(), &options, &errorText, &helpText)) {
            if (!helpText.isEmpty()) {
                std::fputs(qPrintable(helpText), stdout);
                return 0;
            }
            std::fprintf(stderr, "ventari-desk: %s\nSee ventari-desk --help.\n", qPrintable(errorText));
            return 2;
        }
    }
    if (!prepareDisplay(options))
        return 1;
    s_qtHandler = qInstallMessageHandler(dropPlatformChatter);
    // The command line is the desk's; Qt would take "--plugin" for its own. Qt's settings come
    // from the environment.
    int qtArgumentCount = 1;
    // A plugin's page engine (Qt WebEngine under Qt 6) shares its drawing contexts with the host's.
    QApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication application(qtArgumentCount, argv);
    QApplication::setApplicationName(QStringLiteral("ventari-desk"));
    QApplication::setApplicationDisplayName(QStringLiteral("Ventari Desk"));

    const bool headless = !options.screenshotFile.isEmpty() || options.quitAfterSeconds > 0;

    DeskTheme::apply(options.theme, &application);
    DeskHost host;
    if (!host.start(options)) {
        reportFailure(host.errorText(), headless);
        host.stop();
        return 1;
    }

    int code = 0;
    {
        DeskWindow window(&host, !headless);
        window.show();
        HeadlessRunner runner(&window, options.screenshotFile, options.screenshotAfterSeconds, options.quitAfterSeconds);
        if (qEnvironmentVariableIsSet("VENTARI_DESK_TIMING"))
            std::fprintf(stderr, "ventari-desk: window shown %lld ms after start\n", startUp.elapsed());
        code = application.exec();
        if (!options.screenshotFile.isEmpty() && !runner.screenshotWritten())
            code = 1;
    }
    host.stop();
    return code;
}
