// Times the plugin's start-up as a host lives it: from the plugin's init to the first messagesAdded
// of a new symbol model, against the service emulator in-process on loopback, with a stored token
// (so the user-info request of the start goes out too). Each iteration is one init/term cycle in
// the same process; the last line gives the median. The goal is under 100 ms.

#include "iventarimodel.h"
#include "iventariservice.h"
#include "ventaristreamshandler.h"

#include <emulator/service.h>
#include <kelvar/iplugin.h>
#include <kelvar/notifications.h>
#include <kelvar/preferences.h>
#include <kelvar/servicelocator.h>
#include <settings/settingsstore.h>

#include <benchmark/benchmark.h>

#include <QtCore/QElapsedTimer>
#include <QtCore/QEventLoop>
#include <QtCore/QPluginLoader>
#include <QtCore/QTemporaryDir>
#include <QtCore/QTimer>
#include <QtWidgets/QApplication>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

const char hostUser[] = "trader";
const int cycles = 15;
const int patienceMs = 10000;

// Everything around the plugin: the settings store pointing at the emulator, the notification
// service and the loaded library. Made once; the plugin is started and stopped per cycle.
class StartupHost
{
public:
    bool setUp()
    {
        if (!m_settingsDir.isValid() || !m_emulator.start())
            return false;
        SettingsStore* store = SettingsStore::install(m_settingsDir.filePath(QStringLiteral("settings.ini")), qApp);
        for (const auto& setting : m_emulator.remoteSettings()) {
            store->setValue("RemoteSettings/Ventari/" + QByteArray::fromStdString(setting.first),
                            QString::fromStdString(setting.second));
        }
        store->setValue(QByteArray(hostUser) + "vr_auth", QString::fromStdString(m_emulator.issueToken("alice")));
        Kelvar::Preferences::instance()->setUsername(QString::fromLatin1(hostUser));
        Kelvar::ServiceLocator::instance()->addService<Kelvar::INotifications>(new Kelvar::Notifications);
        m_loader.setFileName(QStringLiteral(VENTARI_PLUGIN_BUILD_PATH));
        m_plugin = qobject_cast<Kelvar::IPlugin*>(m_loader.instance());
        return m_plugin != nullptr;
    }

    // Milliseconds from init to the model's first messages; negative when they never came.
    double startUntilFirstMessages(const QByteArray& symbol)
    {
        QElapsedTimer clock;
        clock.start();
        m_plugin->init();
        auto* facade = Kelvar::ServiceLocator::instance()->service<Ventari::IVentariService>();
        Ventari::IVentariStream* stream = Ventari::VentariStreamsHandler::instance()->streamById("symbol");
        QSharedPointer<Ventari::IVentariModel> model = facade->model(stream, symbol, 0);

        QEventLoop loop;
        QObject::connect(dynamic_cast<QObject*>(model.data()), SIGNAL(messagesAdded(QList<int>)), &loop, SLOT(quit()));
        QTimer::singleShot(patienceMs, &loop, &QEventLoop::quit);
        if (model->count() == 0)
            loop.exec();
        const double ms = model->count() > 0 ? clock.nsecsElapsed() / 1e6 : -1;

        model.reset();
        m_plugin->term();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return ms;
    }

private:
    QTemporaryDir m_settingsDir;
    Emulator::Service m_emulator;
    QPluginLoader m_loader;
    Kelvar::IPlugin* m_plugin = nullptr;
};

StartupHost* s_host = nullptr;
std::vector<double> s_samples;

void initToFirstMessages(benchmark::State& state)
{
    static const QByteArray symbols[] = {"AAPL", "MSFT", "GOOG", "TSLA", "XOM"};
    int cycle = 0;
    for (auto _ : state) {
        const double ms = s_host->startUntilFirstMessages(symbols[cycle++ % 5]);
        if (ms < 0) {
            state.SkipWithError("no messages arrived");
            break;
        }
        s_samples.push_back(ms);
        state.SetIterationTime(ms / 1000);
    }
}
BENCHMARK(initToFirstMessages)->UseManualTime()->Iterations(cycles)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    StartupHost host;
    if (!host.setUp()) {
        std::fprintf(stderr, "the emulator or the plugin could not start\n");
        return 1;
    }
    s_host = &host;
    // The first cycle pays for what a process does once (network stack, style, fonts): reported apart.
    const double cold = host.startUntilFirstMessages("AAPL");
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (s_samples.empty())
        return 0; // filtered out
    std::sort(s_samples.begin(), s_samples.end());
    std::printf("first start in a fresh process: %.0f ms\n", cold);
    std::printf("init to first messages: %.0f ms\n", s_samples[s_samples.size() / 2]);
    return 0;
}
