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
#include <cstring>
#include <vector>

namespace {

bool wantsOption(int argc, char** argv, const char* option)
{
    const std::size_t length = std::strlen(option);
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], option, length) == 0 && (argv[i][length] == '\0' || argv[i][length] == '='))
            return true;
    }
    return false;
}

// Without a display Qt would abort; a screenshot run does without one, anything else says how to.
bool prepareDisplay(int argc, char** argv)
{
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") || !qEnvironmentVariableIsEmpty("DISPLAY")
        || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") || wantsOption(argc, argv, "--help")
        || wantsOption(argc, argv, "-h"))
        return true;
    if (wantsOption(argc, argv, "--screenshot")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return true;
    }
    std::fputs("ventari-desk: no display to show the desk on (DISPLAY is not set).\n"
               "Run it under xvfb-run, or headless: ventari-desk --screenshot desk.png --quit-after 10\n",
               stderr);
    return false;
}

QtMessageHandler s_qtHandler = nullptr;

// Qt takes "--plugin" for its own input plugins; the desk's option is kept from it and handed
// back after Qt has taken its own options.
std::vector<char*> withoutPluginOption(int argc, char** argv, QStringList* pluginOptions)
{
    std::vector<char*> kept;
    for (int i = 0; i < argc; ++i) {
        if (i > 0 && std::strcmp(argv[i], "--plugin") == 0) {
            *pluginOptions << QString::fromLocal8Bit(argv[i]);
            if (i + 1 < argc)
                *pluginOptions << QString::fromLocal8Bit(argv[++i]);
        } else if (i > 0 && std::strncmp(argv[i], "--plugin=", 9) == 0) {
            *pluginOptions << QString::fromLocal8Bit(argv[i]);
        } else {
            kept.push_back(argv[i]);
        }
    }
    kept.push_back(nullptr);
    return kept;
}

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
    if (!prepareDisplay(argc, argv))
        return 1;
    s_qtHandler = qInstallMessageHandler(dropPlatformChatter);
    QStringList pluginOptions;
    std::vector<char*> qtArguments = withoutPluginOption(argc, argv, &pluginOptions);
    int qtArgumentCount = int(qtArguments.size()) - 1;
    QApplication application(qtArgumentCount, qtArguments.data());
    QApplication::setApplicationName(QStringLiteral("ventari-desk"));
    QApplication::setApplicationDisplayName(QStringLiteral("Ventari Desk"));

    DeskOptions options;
    QString errorText;
    QString helpText;
    if (!DeskOptions::parse(QApplication::arguments() + pluginOptions, &options, &errorText, &helpText)) {
        if (!helpText.isEmpty()) {
            std::fputs(qPrintable(helpText), stdout);
            return 0;
        }
        std::fprintf(stderr, "ventari-desk: %s\nSee ventari-desk --help.\n", qPrintable(errorText));
        return 2;
    }
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
        HeadlessRunner runner(&window, options.screenshotFile, options.quitAfterSeconds);
        if (qEnvironmentVariableIsSet("VENTARI_DESK_TIMING"))
            std::fprintf(stderr, "ventari-desk: window shown %lld ms after start\n", startUp.elapsed());
        code = application.exec();
        if (!options.screenshotFile.isEmpty() && !runner.screenshotWritten())
            code = 1;
    }
    host.stop();
    return code;
}
