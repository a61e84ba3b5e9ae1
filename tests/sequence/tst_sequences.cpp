#include "dialogplayer.h"
#include "shareform.h"
#include "testhost.h"

#include "actions/ventarishareaction.h"
#include "iauthorization.h"
#include "iventarimodel.h"
#include "iventariservice.h"
#include "requestspool.h"
#include "sharedialog.h"
#include "streams/iventaristream.h"
#include "ventariactionhandler.h"
#include "ventaristreamshandler.h"

#include <kelvar/iplugin.h>
#include <kelvar/notifications.h>
#include <kelvar/preferences.h>
#include <kelvar/servicelocator.h>

#include <QtCore/QPluginLoader>
#include <QtCore/QRandomGenerator>
#include <QtTest/QtTest>
#include <QtWidgets/QApplication>

#include <algorithm>
#include <functional>
#include <iterator>
#include <memory>
#include <utility>
#include <vector>

using Emulator::Fault;
using Emulator::HeaderDefect;
using Ventari::IVentariModel;
using Ventari::IVentariService;

namespace {

const char hostUser[] = "trader";
const char* const serviceUsers[] = {"alice", "bob", "carol"};
const int mostWindows = 12;
const int mostFaults = 3;

// Reports a host may cause: a model of an ended run used while the plugin is down, or after it
// has started again; init called twice.
const QString noHandler = QStringLiteral("ventariactionhandler Ventari::VentariActionHandler::instance: s_instance");
const QString endedRegistry = QStringLiteral("ventarimodel Ventari::VentariModel::servicesRunning: "
                                             "m_registry == VentariStreamsHandler::generation()");
const QString secondInit = QStringLiteral("ventariplugin Ventari::VentariPlugin::init: !locator->hasService<IVentariService>()");

// A misbehaviour of the service's API (the sign-in page is spared, so that no dialog waits for
// it), and the level-3 records its answers explain: starts of their texts, or the functions writing them.
struct FaultChoice
{
    const char* name;
    Fault fault;
    QStringList explains;
};

const std::vector<FaultChoice> faultChoices{
    {"server error", Fault::errorStatus(500), {}},
    {"unavailable", Fault::errorStatus(503, "Service unavailable"), {}},
    {"slow", Fault::latency(120), {}},
    {"dropped", Fault::droppedConnection(), {}},
    {"malformed body", Fault::malformedBody(), {"Common::JsonParser::parseNoThrow"}},
    {"no rate headers", Fault::missingRateLimitHeaders(), {}},
    {"broken remaining", Fault::malformedRateLimitHeader(HeaderDefect::NonNumericRemaining),
     {"Wrong Network reply header. Can not make X-RateLimit-Remaining"}},
    {"broken reset", Fault::malformedRateLimitHeader(HeaderDefect::NonNumericReset),
     {"Wrong Network reply header. Can not make X-RateLimit-Reset", "Wrong remain seconds to reset request counter:"}},
    {"broken date", Fault::malformedRateLimitHeader(HeaderDefect::DateWithZoneOffset), {"Unknown format of server date:"}},
};

// What a host's editor may hand each stream, unknown values among them.
QList<QByteArray> valuesOf(const QByteArray& stream)
{
    if (stream == "symbol")
        return {"AAPL", "MSFT", "RY.CA", "EURUSD", "ES_F", "NOSUCH"};
    if (stream == "user")
        return {"alice", "bob", "carol", "zoe", "nobody"};
    if (stream == "watchlist")
        return {"7", "8", "10", "12", "999"};
    return {QByteArray()};
}

Kelvar::ServiceLocator* locator()
{
    return Kelvar::ServiceLocator::instance();
}

IVentariService* facade()
{
    return locator()->hasService<IVentariService>() ? locator()->service<IVentariService>() : nullptr;
}

QList<int> idsOf(const IVentariModel* model)
{
    QList<int> ids;
    for (int i = 0; i < model->count(); ++i)
        ids.append(model->messageByIndex(i).id);
    return ids;
}

Ventari::ShareDialog* visibleShareDialog()
{
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* dialog = qobject_cast<Ventari::ShareDialog*>(widget);
        if (dialog && dialog->isVisible())
            return dialog;
    }
    return nullptr;
}

// What the models told their views in a whole sequence.
struct Tally
{
    int added = 0;
    int removed = 0;
    int changed = 0;
    int errors = 0;
};

} // namespace

// Watches a model as a host view does, through the notifier: applies every signalled change to a
// mirror of the messages' ids and likes as they were, and notes each signal that the lists before
// and after belie: a removed id that was not there, an added one that was, a changed one whose likes
// stayed as they were for the same user.
class ModelWatch : public QObject
{
    Q_OBJECT

public:
    ModelWatch(IVentariModel* model, const QString& name, Tally& tally)
        : m_model(model)
        , m_name(name)
        , m_tally(tally)
        , m_mirror(likesOf(model))
        , m_user(currentUser())
    {
        const char* const links[][2] = {{"messagesRemoved", "onRemoved"}, {"messagesAdded", "onAdded"},
                                        {"messagesChanged", "onChanged"}, {"noData", "onNoData"},
                                        {"messagesNoChanged", "onNoChange"}, {"error", "onError"},
                                        {"followStateChanged", "onFollowStateChanged"}};
        for (const auto& link : links)
            model->subscribe(link[0], this, link[1]);
    }

    // What went wrong since the last call: signals, the order of the list, the mirror against it.
    QStringList check()
    {
        const QList<int> ids = idsOf(m_model);
        for (int i = 1; i < ids.size(); ++i) {
            if (ids.at(i - 1) >= ids.at(i))
                fail(QStringLiteral("holds %1 before %2").arg(ids.at(i - 1)).arg(ids.at(i)));
        }
        const QList<int> told = m_mirror.keys();
        if (ids != told) {
            const auto differ = std::mismatch(ids.begin(), ids.end(), told.begin(), told.end());
            fail(QStringLiteral("holds %1 messages, its signals told of %2; from index %3 on it holds %4, they told %5")
                     .arg(ids.size()).arg(told.size()).arg(differ.first - ids.begin())
                     .arg(differ.first == ids.end() ? -1 : *differ.first)
                     .arg(differ.second == told.end() ? -1 : *differ.second));
            m_mirror = likesOf(m_model);
        }
        m_user = currentUser();
        return std::exchange(m_faults, QStringList());
    }

public slots:
    void onRemoved(const QList<int>& ids)
    {
        m_answered = true;
        m_tally.removed += ids.size();
        for (int id : ids) {
            if (!m_mirror.remove(id))
                fail(QStringLiteral("removed %1, which it did not hold").arg(id));
        }
    }
    void onAdded(const QList<int>& ids)
    {
        m_answered = true;
        m_tally.added += ids.size();
        for (int id : ids) {
            if (m_mirror.contains(id))
                fail(QStringLiteral("added %1, which it held already").arg(id));
            if (!m_model->containsMessage(id))
                fail(QStringLiteral("added %1, which it does not hold").arg(id));
            m_mirror.insert(id, m_model->containsMessage(id) ? m_model->messageById(id).likes : QSet<int>());
        }
    }
    void onChanged(const QList<int>& ids)
    {
        m_answered = true;
        m_tally.changed += ids.size();
        const int user = currentUser();
        for (int id : ids) {
            if (!m_mirror.contains(id) || !m_model->containsMessage(id)) {
                fail(QStringLiteral("changed %1, which it did not hold before and after").arg(id));
                continue;
            }
            const QSet<int> likes = m_model->messageById(id).likes;
            if (likes == m_mirror.value(id) && user == m_user)
                fail(QStringLiteral("changed %1, whose likes stayed as they were").arg(id));
            m_mirror.insert(id, likes);
        }
        m_user = user;
    }
    void onNoData()
    {
        m_answered = true;
        if (m_model->count() != 0)
            fail(QStringLiteral("said noData holding %1 messages").arg(m_model->count()));
    }
    void onNoChange() { m_answered = true; }
    // An outage is said once, until the service answers again.
    void onError(const QString& text)
    {
        ++m_tally.errors;
        if (text != QLatin1String("Cannot reach the Ventari service."))
            return;
        if (!m_answered)
            fail(QStringLiteral("said again that it cannot reach the service"));
        m_answered = false;
    }
    void onFollowStateChanged(bool follow)
    {
        if (follow != m_model->isFollow())
            fail(QStringLiteral("said follow %1 while it says %2").arg(follow).arg(m_model->isFollow()));
    }

private:
    using Likes = QMap<int, QSet<int>>; // by message id

    static Likes likesOf(IVentariModel* model)
    {
        Likes likes;
        for (int i = 0; i < model->count(); ++i)
            likes.insert(model->messageByIndex(i).id, model->messageByIndex(i).likes);
        return likes;
    }
    // Whose likes the model judges: the user of the running plugin, as the model takes him.
    static int currentUser()
    {
        const Ventari::StoredUserInfo user = facade() ? facade()->authorization()->userInfo() : Ventari::StoredUserInfo();
        return facade() && !user.isEmpty ? user.info.id : -1;
    }
    void fail(const QString& what) { m_faults.append(m_name + QLatin1Char(' ') + what); }

    IVentariModel* m_model;
    QString m_name;
    Tally& m_tally;
    Likes m_mirror;
    int m_user;
    bool m_answered = true; // since it last said it cannot reach the service
    QStringList m_faults;
};

namespace {

// A host window: the model it holds, its watch (shared with the other windows of the same model),
// and the run of the plugin that made the model.
struct Window
{
    QString name;
    std::shared_ptr<ModelWatch> watch;
    QSharedPointer<IVentariModel> model;
    int run;
};

} // namespace

// Random steps of a host and its user against the emulator as it misbehaves, drawn from a seed;
// after each one, check() says which invariants broke.
class Sequence : public QObject
{
public:
    Sequence(quint32 seed, Kelvar::IPlugin* plugin)
        : m_random(seed)
        , m_plugin(plugin)
        , m_port(sharedEmulator().port())
    {
        TestHost::storeRemoteSettings(m_settings.store());
    }
    ~Sequence() override { finish(); }

    // Runs one operation, picked by weight among those that apply; returns what it did.
    QString step();
    QStringList check();
    // Ends the plugin and lets go of everything; returns what was left behind.
    QStringList finish();
    QString summary() const
    {
        return QStringLiteral("%1 runs of the plugin; the models added %2 ids, removed %3, changed %4 and said %5 errors")
            .arg(m_run).arg(m_tally.added).arg(m_tally.removed).arg(m_tally.changed).arg(m_tally.errors);
    }

private:
    struct Operation
    {
        const char* name;
        int weight;
        bool (Sequence::*applies)() const;
        QString (Sequence::*run)();
    };
    static const std::vector<Operation> operations;

    // When operations apply: only on what the steps before did, never on what the service answered,
    // so that a seed always gives the same steps.
    bool always() const { return true; }
    bool running() const { return facade() != nullptr; }
    bool down() const { return !running(); }
    bool hasWindow() const { return !m_windows.empty(); }
    bool canOpen() const { return running() && int(m_windows.size()) < mostWindows; }
    bool pageReachable() const { return running() && m_serviceUp && !m_limitUsedUp; }
    bool canAddFault() const { return m_faults < mostFaults; }
    bool hasFaults() const { return m_faults > 0; }
    bool limitUsedUp() const { return m_limitUsedUp; }
    bool limitLeft() const { return !m_limitUsedUp; }
    bool serviceUp() const { return m_serviceUp; }
    bool serviceDown() const { return !m_serviceUp; }

    // The plugin.
    QString init()
    {
        // Now and then the host user signed in during an earlier session.
        if (chance(30))
            storeToken(sharedEmulator().issueToken(serviceUsers[pick(3)]));
        m_plugin->init();
        ++m_run;
        if (!running()) {
            m_found << QStringLiteral("init registered no facade");
            return QString();
        }
        if (pool())
            pool()->setRetryDelays(1, 16);
        QCoreApplication::processEvents(); // the queued start-up
        return QStringLiteral("init, run %1%2").arg(m_run).arg(storedToken().isEmpty() ? "" : ", token stored");
    }
    QString initAgain()
    {
        m_allowedReports << secondInit;
        IVentariService* before = facade();
        m_plugin->init();
        if (facade() != before)
            m_found << QStringLiteral("a second init replaced the facade");
        return QString();
    }
    QString term()
    {
        m_plugin->term();
        if (running() || Ventari::VentariStreamsHandler::instance())
            m_found << QStringLiteral("term left the facade or the registry");
        if (!m_liveActions.isEmpty())
            m_found << QStringLiteral("%1 actions outlived the plugin").arg(m_liveActions.size());
        return QString();
    }

    // Windows and their models.
    QString open()
    {
        const Ventari::VentariStreamsHandler* registry = Ventari::VentariStreamsHandler::instance();
        if (!registry)
            return QString(); // check() says so
        Ventari::IVentariStream* stream = registry->streams().at(pick(registry->streams().size()));
        const QList<QByteArray> values = valuesOf(stream->id());
        const QByteArray value = values.at(pick(values.size()));
        const int filter = pick(stream->filters().size());
        const QString name = QStringLiteral("#%1 %2/%3/%4").arg(m_nextWindow++).arg(QString::fromLatin1(stream->id()),
                                                                                   QString::fromLatin1(value)).arg(filter);
        Window window{name, nullptr, facade()->model(stream, value, filter), m_run};
        if (!window.model) {
            m_found << window.name + QStringLiteral(": no model");
            return QString();
        }
        const auto same = std::find_if(m_windows.begin(), m_windows.end(),
                                       [&](const Window& w) { return w.model == window.model; });
        const bool shared = same != m_windows.end();
        window.watch = shared ? same->watch : std::make_shared<ModelWatch>(window.model.data(), window.name, m_tally);
        if (chance(50))
            window.model->setOnScreen(true);
        m_windows.push_back(window);
        return QStringLiteral("open ") + window.name + (shared ? QStringLiteral(", shared") : QString());
    }
    QString drop()
    {
        const auto at = m_windows.begin() + pick(int(m_windows.size()));
        const QString name = at->name;
        close(at, at + 1);
        return QStringLiteral("drop ") + name;
    }
    QString closeAll()
    {
        close(m_windows.begin(), m_windows.end());
        return QString();
    }
    QString older() { return onWindow("older", [](IVentariModel* model) { model->loadOldMessages(); }); }
    QString refresh() { return onWindow("refresh", [](IVentariModel* model) { model->forceUpdateData(); }); }
    QString follow()
    {
        const bool follow = chance(60);
        return onWindow(follow ? "follow" : "unfollow", [follow](IVentariModel* model) { model->follow(follow); });
    }
    QString like()
    {
        const bool unlike = chance(40);
        Window* window = someWindowWithMessages();
        if (!window)
            return QStringLiteral("like: no message shown");
        const int id = window->model->messageByIndex(pick(window->model->count())).id;
        if (window->run != m_run || !running())
            m_allowedReports << noHandler;
        unlike ? window->model->unlikeMessage(id) : window->model->likeMessage(id);
        return QStringLiteral("%1 %2 on %3").arg(unlike ? "unlike" : "like").arg(id).arg(window->name);
    }
    QString toggleOnScreen()
    {
        Window& window = someWindow();
        window.model->setOnScreen(!window.model->isOnScreen());
        return QStringLiteral("%1 %2").arg(window.model->isOnScreen() ? "show" : "hide", window.name);
    }

    // The user's account and sharing.
    QString signIn()
    {
        const int answer = pick(10); // mostly approved; denied or closed now and then
        const QString script = answer < 8 ? QStringLiteral("approve('%1')").arg(serviceUsers[pick(3)])
                                          : answer == 8 ? QStringLiteral("deny()") : QString();
        // Signed in already, the host's call shows nothing.
        const bool wasSignedIn = facade()->authorization()->isAuthorized();
        DialogPlayer player(script);
        const bool signedIn = facade()->authorization()->authorize();
        if (player.handled != (wasSignedIn ? 0 : 1) || signedIn != (wasSignedIn || answer < 8))
            m_found << QStringLiteral("sign-in by \"%1\" answered %2 times, signed in: %3")
                           .arg(script).arg(player.handled).arg(signedIn);
        return QStringLiteral("sign in: %1").arg(wasSignedIn ? "signed in already" : script.isEmpty() ? "close()" : script);
    }
    QString signOut()
    {
        facade()->authorization()->resetToken();
        return QString();
    }
    QString revokeToken()
    {
        if (storedToken().isEmpty())
            return QStringLiteral("revoke: no token");
        sharedEmulator().revokeToken(storedToken().toStdString());
        return QStringLiteral("revoke the token on the service");
    }
    QString shareAction()
    {
        const QImage image = chance(30) ? testPicture(32, 24) : QImage();
        const int inReplyTo = chance(20) ? sharedEmulator().store().newestMessageId() : -1;
        if (handler())
            handler()->executeAction(
                new Ventari::VentariShareAction(QStringLiteral("$AAPL idea %1").arg(pick(1000)), image, inReplyTo));
        return QStringLiteral("share action%1%2")
            .arg(image.isNull() ? "" : ", with a chart", inReplyTo == -1 ? "" : ", a reply");
    }
    // The facade's three routes; one not signed in yet passes the sign-in dialog first.
    QString shareThroughDialog()
    {
        const bool wasSignedIn = facade()->authorization()->isAuthorized();
        const bool approve = wasSignedIn || chance(75);
        DialogPlayer player(wasSignedIn || !approve ? QString() : QStringLiteral("approve('%1')").arg(serviceUsers[pick(3)]));
        const int route = pick(3);
        if (route == 0)
            facade()->shareText(QStringLiteral("$MSFT shared %1").arg(pick(1000)));
        else if (route == 1)
            facade()->shareImage(QStringLiteral("chart"), testPicture(40, 30));
        else
            facade()->replyToMessage(sharedEmulator().store().newestMessageId(), QStringLiteral("bob"));
        const bool signedIn = facade()->authorization()->isAuthorized();
        Ventari::ShareDialog* dialog = visibleShareDialog();
        if (player.handled != (wasSignedIn ? 0 : 1) || bool(dialog) != (signedIn && approve))
            m_found << QStringLiteral("share: sign-in answered %1 times, signed in: %2, dialog shown: %3")
                           .arg(player.handled).arg(signedIn).arg(bool(dialog));
        const bool send = dialog && ShareForm{dialog}.isComplete() && ShareForm{dialog}.sendButton->isEnabled();
        if (send)
            ShareForm{dialog}.sendButton->click();
        return QStringLiteral("share %1%2%3")
            .arg(route == 0 ? "text" : route == 1 ? "image" : "reply",
                 wasSignedIn ? "" : approve ? ", signing in" : ", declining the sign-in", send ? ", sent" : "");
    }

    // The service.
    QString post()
    {
        // Now and then more than a page, so that a refresh leaves a gap to fill.
        const int count = chance(20) ? 45 : 1 + pick(3);
        for (int i = 0; i < count; ++i)
            sharedEmulator().generateMessage();
        return QStringLiteral("post %1 messages").arg(count);
    }
    QString removeMessage()
    {
        const Window* window = someWindowWithMessages();
        if (!window)
            return QStringLiteral("remove: no message shown");
        const int id = window->model->messageByIndex(pick(window->model->count())).id;
        sharedEmulator().removeMessage(id);
        return QStringLiteral("remove %1 of %2 on the service").arg(id).arg(window->name);
    }
    QString addFault()
    {
        const FaultChoice& choice = faultChoices.at(std::size_t(pick(int(faultChoices.size()))));
        Fault fault = choice.fault;
        fault.onPath("/api/2/");
        const int times = chance(50) ? 1 + pick(5) : -1;
        sharedEmulator().addFault(fault.times(times));
        ++m_faults;
        m_explained += choice.explains;
        return QStringLiteral("fault: %1%2")
            .arg(QLatin1String(choice.name), times > 0 ? QStringLiteral(" x%1").arg(times) : QString());
    }
    QString clearFaults()
    {
        sharedEmulator().clearFaults();
        m_faults = 0;
        m_lingering += std::exchange(m_explained, QStringList());
        return QStringLiteral("faults off");
    }
    QString useUpLimit()
    {
        sharedEmulator().setRemaining(0);
        m_limitUsedUp = true;
        return QString();
    }
    QString renewLimit()
    {
        sharedEmulator().rateLimiter().reset();
        m_limitUsedUp = false;
        return QString();
    }
    QString stopService()
    {
        sharedEmulator().stop();
        m_serviceUp = false;
        return QString();
    }
    QString startService()
    {
        m_serviceUp = sharedEmulator().start(m_port);
        if (!m_serviceUp)
            m_found << QStringLiteral("the service could not start again on port %1").arg(m_port);
        return QString();
    }

    // Time.
    QString tick()
    {
        if (pool())
            QMetaObject::invokeMethod(pool(), "runNextRequest");
        return QString();
    }
    QString idle();

    int pick(int n) { return n > 0 ? int(m_step.bounded(quint32(n))) : 0; }
    bool chance(int percent) { return pick(100) < percent; }
    Window& someWindow() { return m_windows.at(std::size_t(pick(int(m_windows.size())))); }
    Window* someWindowWithMessages();
    // Lets windows go; a model that no window holds any more goes at once.
    void close(std::vector<Window>::iterator first, std::vector<Window>::iterator last);
    // A command on a model; one of an ended run reports, which the host is then told.
    QString onWindow(const char* what, const std::function<void(IVentariModel*)>& command);
    QByteArray storedToken() const
    {
        return running() ? facade()->authorization()->token()
                         : m_settings.store()->value(QByteArray(hostUser) + "vr_auth").toString().toUtf8();
    }
    void storeToken(const std::string& token)
    {
        m_settings.store()->setValue(QByteArray(hostUser) + "vr_auth", QString::fromStdString(token));
    }
    // The running plugin's action handler and pool; null while it is down.
    Ventari::VentariActionHandler* handler() const { return running() ? Ventari::VentariActionHandler::instance() : nullptr; }
    Ventari::RequestPool* pool() const { return handler() ? handler()->requestPool() : nullptr; }
    int windowsOfThisRun() const
    {
        return int(std::count_if(m_windows.begin(), m_windows.end(), [this](const Window& w) { return w.run == m_run; }));
    }
    void settle(int timeout = 5000);
    void watchNewActions();

    QRandomGenerator m_random;
    QRandomGenerator m_step; // a step's own choices
    Kelvar::IPlugin* m_plugin;
    ReportRecorder m_recorder{3};
    TemporarySettings m_settings;
    Tally m_tally;
    std::vector<Window> m_windows;
    int m_run = 0;
    int m_nextWindow = 0;
    int m_faults = 0;
    bool m_limitUsedUp = false;
    bool m_serviceUp = true;
    std::uint16_t m_port;
    QStringList m_allowedReports; // by this step
    QStringList m_explained;      // records, by the faults in force
    QStringList m_lingering;      // records, by faults cleared while their answers may still come in
    QStringList m_found;          // by the operations' own checks
    QSet<QObject*> m_liveActions;
};

const std::vector<Sequence::Operation> Sequence::operations{
    {"init", 10, &Sequence::down, &Sequence::init},
    {"init again", 1, &Sequence::running, &Sequence::initAgain},
    {"term", 2, &Sequence::running, &Sequence::term},
    {"open", 10, &Sequence::canOpen, &Sequence::open},
    {"drop", 7, &Sequence::hasWindow, &Sequence::drop},
    {"close all", 2, &Sequence::hasWindow, &Sequence::closeAll},
    {"older", 5, &Sequence::hasWindow, &Sequence::older},
    {"refresh", 3, &Sequence::hasWindow, &Sequence::refresh},
    {"like", 5, &Sequence::hasWindow, &Sequence::like},
    {"follow", 3, &Sequence::hasWindow, &Sequence::follow},
    {"on screen", 2, &Sequence::hasWindow, &Sequence::toggleOnScreen},
    {"sign in", 3, &Sequence::pageReachable, &Sequence::signIn},
    {"sign out", 1, &Sequence::running, &Sequence::signOut},
    {"revoke", 1, &Sequence::always, &Sequence::revokeToken},
    {"share action", 2, &Sequence::running, &Sequence::shareAction},
    {"share dialog", 2, &Sequence::pageReachable, &Sequence::shareThroughDialog},
    {"post", 4, &Sequence::always, &Sequence::post},
    {"remove", 3, &Sequence::hasWindow, &Sequence::removeMessage},
    {"fault", 4, &Sequence::canAddFault, &Sequence::addFault},
    {"faults off", 3, &Sequence::hasFaults, &Sequence::clearFaults},
    {"limit used up", 1, &Sequence::limitLeft, &Sequence::useUpLimit},
    {"limit renewed", 3, &Sequence::limitUsedUp, &Sequence::renewLimit},
    {"stop service", 1, &Sequence::serviceUp, &Sequence::stopService},
    {"start service", 3, &Sequence::serviceDown, &Sequence::startService},
    {"tick", 15, &Sequence::running, &Sequence::tick},
    {"idle", 3, &Sequence::running, &Sequence::idle},
};

QString Sequence::step()
{
    // Hours pass between the steps of a day: the window renews, unless a step used it up.
    if (!m_limitUsedUp)
        sharedEmulator().rateLimiter().reset();
    m_allowedReports.clear();

    int total = 0;
    for (const Operation& operation : operations)
        total += (this->*operation.applies)() ? operation.weight : 0;
    // Three draws a step, whatever the step then draws for itself.
    int drawn = int(m_random.bounded(quint32(total)));
    m_step.seed(m_random.generate());
    const bool settles = m_random.bounded(100) < 75;
    const Operation* chosen = nullptr;
    for (auto it = operations.begin(); !chosen; ++it) {
        if (!(this->*it->applies)())
            continue;
        if (drawn < it->weight)
            chosen = &*it;
        drawn -= it->weight;
    }
    QString done = (this->*chosen->run)();
    // Most steps wait for the answers; the others let the next step meet them on their way.
    settles ? settle() : QCoreApplication::processEvents();
    watchNewActions();
    locator()->service<Kelvar::INotifications>()->notificationManager()->clear();
    return done.isEmpty() ? QString::fromLatin1(chosen->name) : done;
}

QStringList Sequence::check()
{
    QStringList found = std::exchange(m_found, QStringList());
    if (running() && !Ventari::VentariStreamsHandler::instance())
        found << QStringLiteral("the plugin runs without its stream registry");
    std::vector<ModelWatch*> watches;
    for (const Window& window : m_windows) {
        if (std::find(watches.begin(), watches.end(), window.watch.get()) == watches.end())
            watches.push_back(window.watch.get());
    }
    for (ModelWatch* watch : watches)
        found += watch->check();

    for (const QString& report : reportsOf(m_recorder)) {
        if (!m_allowedReports.contains(report))
            found << QStringLiteral("report: ") + report;
    }
    const QStringList explained = m_explained + m_lingering;
    for (const Corvane::LogRecord& record : m_recorder.records()) {
        const bool known = std::any_of(explained.begin(), explained.end(), [&](const QString& text) {
            return record.message.startsWith(text) || record.function == text;
        });
        if (record.level >= 3 && !known)
            found << QStringLiteral("level %1 record: %2").arg(record.level).arg(record.message);
    }
    m_recorder.clear();
    // The answers to what was sent while a cleared fault was in force are all in.
    if (!pool() || pool()->sentRequestCount() == 0)
        m_lingering.clear();
    return found;
}

QStringList Sequence::finish()
{
    if (running())
        term();
    close(m_windows.begin(), m_windows.end());
    if (!m_serviceUp)
        startService();
    clearFaults();
    renewLimit();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return check();
}

// Ticks until the pool has nothing left to send; with no model of this run left, and the limit not
// used up (requests then wait for its reset), nothing may be left in it afterwards.
QString Sequence::idle()
{
    if (!pool())
        return QString();
    const int ticks = windowsOfThisRun() > 0 ? 3 : 40;
    // However slow the machine: what is on its way comes back within the transfer timeout.
    for (int i = 0; i < ticks && (pool()->queuedRequestCount() > 0 || pool()->sentRequestCount() > 0); ++i) {
        tick();
        settle(60000);
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    if (windowsOfThisRun() > 0 || m_limitUsedUp)
        return QString();
    const int queued = pool()->queuedRequestCount();
    const int sent = pool()->sentRequestCount();
    const int actions = handler()->findChildren<Ventari::VentariAbstractAction*>().size();
    if (queued + sent + actions > 0)
        m_found << QStringLiteral("idle without models: %1 requests queued, %2 sent, %3 actions alive")
                       .arg(queued).arg(sent).arg(actions);
    return QStringLiteral("idle, no models");
}

void Sequence::close(std::vector<Window>::iterator first, std::vector<Window>::iterator last)
{
    auto objectOf = [](const Window& window) { return dynamic_cast<QObject*>(window.model.data()); };
    std::vector<QPointer<QObject>> models;
    std::transform(first, last, std::back_inserter(models), objectOf);
    m_windows.erase(first, last);
    for (const QPointer<QObject>& model : models) {
        const bool held = std::any_of(m_windows.begin(), m_windows.end(), [&](const Window& w) { return objectOf(w) == model; });
        if (model && !held)
            m_found << QStringLiteral("a model outlived its last window");
    }
}

Window* Sequence::someWindowWithMessages()
{
    std::vector<Window*> shown;
    for (Window& window : m_windows) {
        if (window.model->count() > 0)
            shown.push_back(&window);
    }
    return shown.empty() ? nullptr : shown.at(std::size_t(pick(int(shown.size()))));
}

QString Sequence::onWindow(const char* what, const std::function<void(IVentariModel*)>& command)
{
    Window& window = someWindow();
    const bool ended = window.run != m_run || !running();
    if (ended)
        m_allowedReports << noHandler << endedRegistry;
    command(window.model.data());
    return QStringLiteral("%1 %2%3").arg(QLatin1String(what), window.name, ended ? " (ended run)" : "");
}

// Every request on its way has come back, or the time is up; queued ones wait for a tick.
void Sequence::settle(int timeout)
{
    if (pool())
        (void)QTest::qWaitFor([this] { return !pool() || pool()->sentRequestCount() == 0; }, timeout);
    QCoreApplication::processEvents();
}

// Each action the handler has adopted is counted until it is destroyed.
void Sequence::watchNewActions()
{
    if (!handler())
        return;
    for (QObject* action : handler()->findChildren<Ventari::VentariAbstractAction*>()) {
        if (!m_liveActions.contains(action)) {
            m_liveActions.insert(action);
            connect(action, &QObject::destroyed, this, [this, action] { m_liveActions.remove(action); });
        }
    }
}

// The plugin as a host drives it, loaded through QPluginLoader, in random sequences of steps
// against the emulator as it misbehaves, with the invariants checked after every step. A seed and
// a number of steps in the environment (VENTARI_SEQUENCE_SEED, VENTARI_SEQUENCE_STEPS) replace the
// fixed rows; VENTARI_SEQUENCE_TRACE=1 prints every step as it runs.
class tst_Sequences : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void sequences_data();
    void sequences();

private:
    QPluginLoader m_loader;
};

void tst_Sequences::initTestCase()
{
    QVERIFY(sharedEmulator().isRunning());
    Kelvar::Preferences::instance()->setUsername(QString::fromLatin1(hostUser));
    Kelvar::Preferences::instance()->setLocalTimeZoneId("Europe/Zurich");
    if (!locator()->hasService<Kelvar::INotifications>())
        locator()->addService<Kelvar::INotifications>(new Kelvar::Notifications);
    m_loader.setFileName(QStringLiteral(VENTARI_PLUGIN_BUILD_PATH));
    QVERIFY2(m_loader.load(), qPrintable(m_loader.errorString()));
}

void tst_Sequences::cleanupTestCase()
{
    locator()->destroyService<Kelvar::INotifications>();
}

void tst_Sequences::sequences_data()
{
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<int>("steps");

    bool given = false;
    const quint32 seed = qEnvironmentVariable("VENTARI_SEQUENCE_SEED").toUInt(&given);
    if (given) {
        bool counted = false;
        const int steps = qEnvironmentVariable("VENTARI_SEQUENCE_STEPS").toInt(&counted);
        QTest::addRow("seed %u", seed) << seed << (counted ? steps : 400);
        return;
    }
    // Short, for the suite under the sanitizers too; seeds whose steps reach every operation, ended
    // runs, idle pools and models that add, remove and change.
    for (quint32 fixed : {14u, 16u, 38u})
        QTest::addRow("seed %u", fixed) << fixed << 120;
}

void tst_Sequences::sequences()
{
    QFETCH(quint32, seed);
    QFETCH(int, steps);
    const bool trace = qEnvironmentVariableIntValue("VENTARI_SEQUENCE_TRACE") != 0;
    qInfo("seed %u, %d steps", seed, steps);

    Sequence sequence(seed, qobject_cast<Kelvar::IPlugin*>(m_loader.instance()));
    QStringList done;
    for (int step = 1; step <= steps; ++step) {
        done << QStringLiteral("%1: %2").arg(step).arg(sequence.step());
        if (trace)
            qInfo("%s", qPrintable(done.last()));
        const QStringList found = sequence.check();
        if (!found.isEmpty()) {
            if (!trace)
                qInfo("%s", qPrintable(done.join(QLatin1Char('\n'))));
            QFAIL(qPrintable(QStringLiteral("seed %1, step %2:\n%3").arg(seed).arg(done.last(), found.join(QLatin1Char('\n')))));
        }
    }
    const QStringList left = sequence.finish();
    QVERIFY2(left.isEmpty(), qPrintable(QStringLiteral("seed %1, at the end:\n%2").arg(seed).arg(left.join(QLatin1Char('\n')))));
    qInfo("%s", qPrintable(sequence.summary()));
}

QTEST_MAIN(tst_Sequences)
#include "tst_sequences.moc"
