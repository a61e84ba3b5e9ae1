// Measures how fresh a host's streams stay within the service's rate limit. The emulator runs
// in-process with the given budget; the program posts messages at the given rate, busy and quiet
// streams alike, opens K models through the plugin as a host does, runs for the given time (then a
// short drain, so the last messages can arrive) and prints one line:
//   freshness: models=K budget=B/Ws messages=N lost=L p50_s=X p95_s=Y max_gap_s=G 429s=Z refresh_share=P%
// Latency runs from a message's posting to the model's messagesAdded; lost counts messages posted
// for an open stream that its model never reported; max_gap_s is the longest time a model went
// without an answered load; refresh_share is the part of the budget spent on periodic loads.

#include "benchhost.h"

#include <corvane/corvanesink.h>

#include "iventarimodel.h"
#include "iventariservice.h"
#include "streams/iventaristream.h"
#include "ventaristreamshandler.h"

#include <QtCore/QCommandLineParser>
#include <QtCore/QElapsedTimer>
#include <QtCore/QHash>
#include <QtCore/QTimer>
#include <QtWidgets/QApplication>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace {

const char signedInAs[] = "alice";

struct Settings
{
    int models = 20;
    int budget = 120;
    int window = 60;
    double rate = 1;     // messages a second
    int seconds = 300;   // posting
    int drain = 40;      // then only listening
};

// One model as a host window holds it, and what it reported when.
class WatchedModel : public QObject
{
    Q_OBJECT

public:
    WatchedModel(const QSharedPointer<Ventari::IVentariModel>& model, const QString& target, const QElapsedTimer& clock)
        : m_model(model)
        , m_target(target)
        , m_clock(clock)
    {
        for (const char* signal : {"messagesAdded", "messagesRemoved", "messagesChanged", "messagesNoChanged", "noData"})
            model->subscribe(signal, this, std::strcmp(signal, "messagesAdded") ? "onAnswered" : "onAdded");
    }

    QString target() const { return m_target; }
    qint64 reportedAt(int id) const { return m_reported.value(id, -1); }
    // The longest time without an answered load, up to `until`.
    qint64 longestGap(qint64 from, qint64 until) const
    {
        qint64 longest = 0;
        qint64 last = from;
        for (qint64 at : m_answers) {
            if (at > until)
                break;
            longest = std::max(longest, at - last);
            last = at;
        }
        return std::max(longest, until - last);
    }

public slots:
    void onAdded(const QList<int>& ids)
    {
        const qint64 now = m_clock.elapsed();
        for (int id : ids) {
            if (!m_reported.contains(id))
                m_reported.insert(id, now);
        }
        onAnswered();
    }
    void onAnswered() { m_answers.push_back(m_clock.elapsed()); }

private:
    QSharedPointer<Ventari::IVentariModel> m_model;
    QString m_target;
    const QElapsedTimer& m_clock;
    QHash<int, qint64> m_reported;
    std::vector<qint64> m_answers;
};

// The streams a trader keeps open: the fixed feeds, his first watch list, then symbols and users
// in the order the service lists them. Trending is left out: which messages it holds changes with
// the symbols in fashion, so a message may join it long after it was posted.
std::vector<std::pair<QByteArray, QByteArray>> streamsToOpen(Emulator::Service& service, int count)
{
    std::vector<std::pair<QByteArray, QByteArray>> streams;
    for (const char* fixed : {"suggested", "mentions", "charts", "home", "friends", "investor-relations"})
        streams.emplace_back(fixed, QByteArray());
    const auto lists = service.store().watchListsOf(service.store().userByName(signedInAs)->id);
    if (!lists.empty())
        streams.emplace_back("watchlist", QByteArray::number(lists.front().id));
    const auto symbols = service.store().symbols();
    const auto users = service.store().users();
    for (std::size_t i = 0; streams.size() < std::size_t(count) && (i < symbols.size() || i < users.size()); ++i) {
        if (i < symbols.size())
            streams.emplace_back("symbol", QByteArray::fromStdString(symbols[i].symbol));
        if (i < users.size() && streams.size() < std::size_t(count))
            streams.emplace_back("user", QByteArray::fromStdString(users[i].username));
    }
    streams.resize(std::min(streams.size(), std::size_t(count)));
    return streams;
}

double percentile(std::vector<qint64> values, double share)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, std::size_t(share * double(values.size())))] / 1000.0;
}

bool readSettings(const QCoreApplication& app, Settings* settings)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Measures how fresh the plugin keeps many streams within a rate limit."));
    parser.addHelpOption();
    const QCommandLineOption models(QStringLiteral("models"), QStringLiteral("Models open (20)."), QStringLiteral("K"));
    const QCommandLineOption budget(QStringLiteral("budget"), QStringLiteral("Requests per window (120)."), QStringLiteral("B"));
    const QCommandLineOption window(QStringLiteral("window"), QStringLiteral("Window in seconds (60)."), QStringLiteral("W"));
    const QCommandLineOption rate(QStringLiteral("rate"), QStringLiteral("Messages posted a second (1)."), QStringLiteral("M"));
    const QCommandLineOption seconds(QStringLiteral("seconds"), QStringLiteral("Seconds of posting (300)."), QStringLiteral("T"));
    const QCommandLineOption drain(QStringLiteral("drain"), QStringLiteral("Seconds of listening after (40)."), QStringLiteral("D"));
    parser.addOptions({models, budget, window, rate, seconds, drain});
    parser.process(app);
    bool ok = true;
    auto number = [&](const QCommandLineOption& option, auto fallback) {
        if (!parser.isSet(option))
            return fallback;
        bool read = false;
        const double value = parser.value(option).toDouble(&read);
        ok = ok && read && value > 0;
        return decltype(fallback)(value);
    };
    settings->models = number(models, settings->models);
    settings->budget = number(budget, settings->budget);
    settings->window = number(window, settings->window);
    settings->rate = number(rate, settings->rate);
    settings->seconds = number(seconds, settings->seconds);
    settings->drain = number(drain, settings->drain);
    if (!ok)
        std::fprintf(stderr, "every option takes a positive number\n");
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Settings settings;
    if (!readSettings(app, &settings))
        return 2;

    Emulator::ServiceOptions options;
    options.rateLimit = settings.budget;
    options.rateWindowSeconds = settings.window;
    options.requestLogCapacity = 1000000;
    options.requestLogBodyLimit = 0;
    BenchHost host(options);
    if (!host.setUp(signedInAs)) {
        std::fprintf(stderr, "the emulator or the plugin could not start\n");
        return 1;
    }
    Emulator::Service& service = host.emulator();
    // Errors only: the progress records of some thousand requests would drown the one line.
    Corvane::setDefaultLogThreshold(3);

    QElapsedTimer clock;
    clock.start();
    host.plugin()->init();
    auto* facade = Kelvar::ServiceLocator::instance()->service<Ventari::IVentariService>();
    std::vector<std::unique_ptr<WatchedModel>> models;
    for (const auto& stream : streamsToOpen(service, settings.models)) {
        Ventari::IVentariStream* found = Ventari::VentariStreamsHandler::instance()->streamById(stream.first);
        QString target = QStringLiteral("streams/") + found->jsonPath();
        if (!stream.second.isEmpty())
            target = target.arg(QString::fromUtf8(stream.second));
        models.push_back(std::make_unique<WatchedModel>(facade->model(found, stream.second, 0), target, clock));
    }

    // Posted from the program, so that each message's moment is known to the millisecond.
    const int firstPosted = service.store().newestMessageId() + 1;
    QHash<int, qint64> postedAt;
    QTimer poster;
    QObject::connect(&poster, &QTimer::timeout, [&] {
        postedAt.insert(service.generateMessage(Emulator::MessageGenerator::Order::Skewed), clock.elapsed());
    });
    poster.start(int(1000 / settings.rate));
    const qint64 postingEnds = qint64(settings.seconds) * 1000;
    QTimer::singleShot(int(postingEnds), &poster, &QTimer::stop);
    QTimer::singleShot(int(postingEnds + qint64(settings.drain) * 1000), &app, &QCoreApplication::quit);
    app.exec();

    std::vector<qint64> latencies;
    int lost = 0;
    qint64 longestGap = 0;
    for (const auto& model : models) {
        for (int id : service.streamMessageIds(model->target().toStdString(), signedInAs)) {
            if (id < firstPosted)
                break; // newest first: the rest were there before
            const qint64 reported = model->reportedAt(id);
            if (reported < 0)
                ++lost;
            else
                latencies.push_back(reported - postedAt.value(id));
        }
        longestGap = std::max(longestGap, model->longestGap(0, postingEnds));
    }
    int refused = 0;
    int streamLoads = 0;
    for (const Emulator::RecordedRequest& request : service.requests()) {
        refused += request.status == 429;
        streamLoads += request.path.rfind("/api/2/streams/", 0) == 0;
    }
    const double seconds = clock.elapsed() / 1000.0;
    const double budgetSpent = settings.budget * seconds / settings.window;
    const int refreshes = streamLoads - int(models.size());
    std::printf("freshness: models=%d budget=%d/%ds messages=%d lost=%d p50_s=%.1f p95_s=%.1f max_gap_s=%.0f 429s=%d "
                "refresh_share=%.0f%%\n",
                int(models.size()), settings.budget, settings.window, postedAt.size(), lost, percentile(latencies, 0.5),
                percentile(latencies, 0.95), longestGap / 1000.0, refused, 100 * refreshes / budgetSpent);

    models.clear();
    host.plugin()->term();
    return 0;
}

#include "bench_freshness.moc"
