// Times the plugin's start-up as a host lives it: from the plugin's init to the first messagesAdded
// of a new symbol model, against the service emulator in-process on loopback, with a stored token
// (so the user-info request of the start goes out too). Each iteration is one init/term cycle in
// the same process; the last line gives the median. The goal is under 100 ms.

#include "benchhost.h"

#include "iventarimodel.h"
#include "iventariservice.h"
#include "ventaristreamshandler.h"

#include <benchmark/benchmark.h>

#include <QtCore/QElapsedTimer>
#include <QtCore/QEventLoop>
#include <QtCore/QTimer>
#include <QtWidgets/QApplication>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

const int cycles = 15;
const int patienceMs = 10000;

// The plugin started and stopped per cycle in the same host.
class StartupHost : public BenchHost
{
public:
    // Milliseconds from init to the model's first messages; negative when they never came.
    double startUntilFirstMessages(const QByteArray& symbol)
    {
        QElapsedTimer clock;
        clock.start();
        plugin()->init();
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
        plugin()->term();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return ms;
    }
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
    if (!host.setUp("alice")) {
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
