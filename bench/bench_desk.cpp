// Measures the desk over a trading day in one tab: the desk's own list model, view and delegate,
// shown and painted offscreen, fed what the plugin's model reports for a day of one message a
// second. The day runs in accelerated time: every ten seconds of it the model answers a refresh
// with its 30 newest messages, 10 of them new and one with a like more or less, merged by the
// plugin's model itself; the program does not wait the seconds. Pictures come from the emulator
// in-process (a hundred authors' avatars, a few charts), fetched before the day starts, so that the
// figures are the list's and not the downloads'. Prints:
//   desk day: hours=H messages=N updates=U rows=R of limit L
//   desk update at 100 = X ms, at 10k = Y ms
//   desk update at 10k/100 = R
//   desk memory at start = A MB, at end = B MB, growth = G MB
// An update's cost is the CPU time of the GUI thread from the model's answer until the list is
// laid out and painted again, the median of 50 updates from 100 and from 10,000 messages held
// (what the desk lets the plugin model keep).
// Exits with 1 when the ratio is above 2 or the growth above 50 MB.

#include "benchhost.h"

#include <corvane/corvanesink.h>
#include <desktheme.h>
#include <imagecache.h>
#include <messagelistmodel.h>
#include <messagelistview.h>

#include "streams/iventaristream.h"
#include "ventarimodel.h"
#include "ventaristreamshandler.h"

#include <QtCore/QCommandLineParser>
#include <QtCore/QDateTime>
#include <QtCore/QElapsedTimer>
#include <QtCore/QFile>
#include <QtGui/QPaintEvent>
#include <QtWidgets/QApplication>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <malloc.h>
#include <memory>
#include <random>
#include <unistd.h>
#include <vector>

namespace {

const int refreshSeconds = 10;
const int pageSize = 30;
const int newPerRefresh = 10; // one message a second
const int authors = 100;
const int sampleUpdates = 50;

// The plugin's model for a symbol the service does not know: its own first load fails, so the
// messages it holds are only those this program hands to the slot a load's answer comes to.
class FeedModel : public Ventari::VentariModel
{
public:
    explicit FeedModel(Ventari::IVentariStream* stream)
        : VentariModel(stream, "NOSUCHSYMBOL", 0)
    {
    }
    void answer(const Ventari::Messages& page)
    {
        QMetaObject::invokeMethod(this, "onData", Q_ARG(Ventari::Messages, page));
    }
};

// Messages as the service sends them over a day: mostly a line or two, some paragraphs, now and
// then an essay; symbols, mentions and links; likes; a chart in every sixth. Each message has
// strings of its own, as decoded replies do.
class DayMessages
{
public:
    DayMessages(const QString& serviceUrl, const QStringList& charts)
        : m_serviceUrl(serviceUrl)
        , m_charts(charts)
    {
    }

    Ventari::Message message(int id, const QDateTime& at)
    {
        static const char* const symbols[] = {"AAPL", "MSFT", "NVDA", "TSLA", "AMZN", "SPY", "QQQ", "META"};
        const QString symbol = QString::fromLatin1(symbols[pick(8)]);
        Ventari::Message message;
        message.id = id;
        const int length = pick(100);
        QString body = QStringLiteral("$%1 %2 above %3 on volume, watching @trader%4 for the next leg")
                           .arg(symbol, pick(2) ? QStringLiteral("breaking out") : QStringLiteral("holding"))
                           .arg(100 + pick(400))
                           .arg(pick(authors));
        if (length >= 70)
            body += QStringLiteral(". Notes: https://research.example.com/notes/%1 and the chart says more than words.").arg(id);
        for (int words = length >= 97 ? 400 : length >= 90 ? 40 : 0; words > 0; --words)
            body += QStringLiteral(" level%1").arg(pick(1000));
        message.body = body;
        message.createdAt = at;
        Ventari::SymbolInfo info;
        info.id = 600 + pick(8);
        info.symbol = symbol;
        info.title = symbol + QStringLiteral(" Inc.");
        message.symbols.append(info);
        for (int i = pick(6); i > 0; --i)
            message.likes.insert(1000 + pick(5000));
        if (pick(6) == 0 && !m_charts.isEmpty()) {
            const QString chart = m_charts.at(pick(m_charts.size()));
            message.chart[Ventari::Message::ChartThumb] = chart;
            message.chart[Ventari::Message::ChartLarge] = QString(chart).replace(QStringLiteral("thumb"), QStringLiteral("large"));
        }
        const int author = pick(authors);
        message.user.id = 1 + author;
        message.user.username = QStringLiteral("trader%1").arg(author);
        message.user.name = QStringLiteral("Trader Number %1").arg(author);
        message.user.avatarUrl = m_serviceUrl + QStringLiteral("avatars/trader%1.svg").arg(author);
        return message;
    }

private:
    int pick(int count) { return std::uniform_int_distribution<int>(0, count - 1)(m_random); }

    QString m_serviceUrl;
    QStringList m_charts;
    std::mt19937 m_random{19};
};

// One tab's list as the desk shows it, and a count of the paints of its rows.
class Tab : public QObject
{
public:
    Tab(ImageCache* images, Ventari::IVentariStream* stream)
        : m_model(new FeedModel(stream))
    {
        m_view.setImageCache(images);
        m_view.setModel(&m_list);
        m_list.setSource(m_model);
        m_view.resize(1000, 800);
        m_view.viewport()->installEventFilter(this);
        m_view.show();
    }
    ~Tab() override { m_list.setSource({}); }

    FeedModel* model() const { return static_cast<FeedModel*>(m_model.data()); }
    MessageListModel& list() { return m_list; }

    // What the event loop does after an answer: lay the rows out and paint them.
    void settle()
    {
        const int paints = m_paints;
        for (int i = 0; i < 3; ++i)
            QCoreApplication::processEvents();
        if (paints == m_paints)
            m_view.viewport()->repaint();
    }

    bool eventFilter(QObject*, QEvent* event) override
    {
        m_paints += event->type() == QEvent::Paint;
        return false;
    }

private:
    QSharedPointer<Ventari::IVentariModel> m_model;
    MessageListModel m_list;
    MessageListView m_view;
    int m_paints = 0;
};

// The refresh the model answers every ten seconds: its 20 newest messages, one of them with a like
// more or less, and the 10 posted since.
Ventari::Messages refreshPage(const FeedModel& model, DayMessages& day, int* nextId, const QDateTime& at)
{
    Ventari::Messages page;
    const int known = qMin(model.count(), pageSize - newPerRefresh);
    for (int i = model.count() - known; i < model.count(); ++i)
        page.prepend(model.messageByIndex(i));
    if (!page.isEmpty()) {
        Ventari::Message& liked = page[page.size() / 2];
        if (liked.likes.contains(42))
            liked.likes.remove(42);
        else
            liked.likes.insert(42);
    }
    for (int i = newPerRefresh; i > 0; --i)
        page.prepend(day.message((*nextId)++, at.addSecs(-i)));
    return page;
}

double threadSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

double residentMegabytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields.at(1).toDouble() * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0) : -1;
}

// Resident memory once the allocator has handed back what it no longer uses.
double trimmedMegabytes()
{
    malloc_trim(0);
    return residentMegabytes();
}

double median(std::vector<double> values)
{
    if (values.empty())
        return -1;
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

// Seeded charts the emulator draws.
QStringList seededCharts(Emulator::Service& service)
{
    QStringList charts;
    const QString base = QString::fromStdString(service.baseUrl());
    for (int id = service.store().newestMessageId(); id > 0 && charts.size() < 12; --id) {
        const auto message = service.store().message(id);
        if (message && message->chart)
            charts << base + QString::fromStdString(message->chart->thumb);
    }
    return charts;
}

// Every picture of the day fetched and decoded at the sizes the list draws them.
void fetchPictures(ImageCache* images, const QString& serviceUrl, const QStringList& charts)
{
    QList<QPair<QUrl, QSize>> pictures;
    for (int author = 0; author < authors; ++author)
        pictures.append({QUrl(serviceUrl + QStringLiteral("avatars/trader%1.svg").arg(author)),
                         QSize(MessageLayout::avatarSize, MessageLayout::avatarSize)});
    for (const QString& chart : charts)
        pictures.append({QUrl(chart), MessageLayout::mediaSize});
    for (const auto& picture : qAsConst(pictures))
        images->image(picture.first, picture.second);
    QElapsedTimer waited;
    waited.start();
    while (images->pendingCount() > 0 && waited.elapsed() < 30000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    for (const auto& picture : qAsConst(pictures))
        images->image(picture.first, picture.second);
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Measures the desk's list over a trading day in accelerated time."));
    parser.addHelpOption();
    const QCommandLineOption hoursOption(QStringLiteral("hours"), QStringLiteral("Hours of the day (6.5)."),
                                         QStringLiteral("H"));
    parser.addOption(hoursOption);
    parser.process(app);
    bool read = true;
    const double hours = parser.isSet(hoursOption) ? parser.value(hoursOption).toDouble(&read) : 6.5;
    // The day must reach 10,000 messages for the second sample.
    if (!read || hours * 3600 < 10000 + sampleUpdates * newPerRefresh || hours > 24) {
        std::fprintf(stderr, "--hours takes a number of hours from 3 to 24\n");
        return 2;
    }
    DeskTheme::apply(DeskOptions::Theme::Dark, &app);

    BenchHost host;
    if (!host.setUp("alice")) {
        std::fprintf(stderr, "the emulator or the plugin could not start\n");
        return 1;
    }
    Corvane::setDefaultLogThreshold(3);
    host.plugin()->init();
    Ventari::IVentariStream* symbols = Ventari::VentariStreamsHandler::instance()->streamById("symbol");
    const QString serviceUrl = QString::fromStdString(host.emulator().baseUrl());
    const QStringList charts = seededCharts(host.emulator());
    ImageCache images;
    fetchPictures(&images, serviceUrl, charts);
    const QDateTime opening = QDateTime::currentDateTimeUtc().addSecs(-qint64(hours * 3600));

    // A first tab, then closed, as a desk starts: fonts and pictures are ready for the day.
    {
        DayMessages earlier(serviceUrl, charts);
        int id = 1;
        Tab warmUp(&images, symbols);
        for (int update = 0; update < 100; ++update) {
            warmUp.model()->answer(refreshPage(*warmUp.model(), earlier, &id, opening));
            warmUp.settle();
        }
    }
    QCoreApplication::processEvents();

    const int firstDayId = 1000000;
    int nextId = firstDayId;
    DayMessages day(serviceUrl, charts);
    auto tab = std::make_unique<Tab>(&images, symbols);
    tab->model()->answer(refreshPage(*tab->model(), day, &nextId, opening));
    tab->settle();
    const double memoryAtStart = trimmedMegabytes();

    const int updates = int(hours * 3600) / refreshSeconds;
    std::vector<double> atHundred;
    std::vector<double> atTenThousand;
    for (int update = 1; update <= updates; ++update) {
        const int held = tab->model()->count();
        const Ventari::Messages page = refreshPage(*tab->model(), day, &nextId, opening.addSecs(update * refreshSeconds));
        const double before = threadSeconds();
        tab->model()->answer(page);
        tab->settle();
        const double spent = threadSeconds() - before;
        if (held >= 100 && atHundred.size() < std::size_t(sampleUpdates))
            atHundred.push_back(spent);
        if (held >= 10000 && atTenThousand.size() < std::size_t(sampleUpdates))
            atTenThousand.push_back(spent);
    }
    QCoreApplication::processEvents();
    const double memoryAtEnd = trimmedMegabytes();
    const int messages = tab->model()->count();
    const int rows = tab->list().rowCount();
    const int rowLimit = tab->list().rowLimit();

    const double small = median(atHundred);
    const double large = median(atTenThousand);
    const double ratio = large / small;
    const double growth = memoryAtEnd - memoryAtStart;
    std::printf("desk day: hours=%.1f messages=%d updates=%d rows=%d of limit %d\n", hours, messages, updates, rows,
                rowLimit);
    std::printf("desk update at 100 = %.2f ms, at 10k = %.2f ms\n", small * 1000, large * 1000);
    std::printf("desk update at 10k/100 = %.2f\n", ratio);
    std::printf("desk memory at start = %.1f MB, at end = %.1f MB, growth = %.1f MB\n", memoryAtStart, memoryAtEnd, growth);
    host.plugin()->term();
    return ratio <= 2 && growth <= 50 ? 0 : 1;
}
