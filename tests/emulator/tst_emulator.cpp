#include "emulator/commandline.h"
#include "emulator/service.h"
#include "testsupport.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <QtCore/QBuffer>
#include <QtCore/QDeadlineTimer>
#include <QtCore/QElapsedTimer>
#include <QtCore/QLocale>
#include <QtCore/QRegularExpression>
#include <QtCore/QUrl>
#include <QtCore/QUrlQuery>
#include <QtGui/QImage>
#include <QtNetwork/QTcpSocket>
#include <QtTest/QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <map>
#include <memory>
#include <set>
#include <tuple>
#include <thread>

using Emulator::Fault;
using Emulator::HeaderDefect;
using Order = Emulator::MessageGenerator::Order;
using json = nlohmann::json;

Q_DECLARE_METATYPE(Emulator::Fault)
Q_DECLARE_METATYPE(Order)

namespace {

const std::int64_t fixedNow = 1700000000; // Tue, 14 Nov 2023 22:13:20 GMT
const char formType[] = "application/x-www-form-urlencoded";
const char multipartType[] = "multipart/form-data; boundary=margin";

QString text(const std::string& s) { return QString::fromStdString(s); }
int statusOf(const json& reply) { return reply.at("response").at("status").get<int>(); }
std::string errorOf(const json& reply) { return reply.at("errors").at(0).at("message").get<std::string>(); }
int remainingOf(const httplib::Result& r) { return std::stoi(r->get_header_value("X-RateLimit-Remaining")); }
std::int64_t resetOf(const httplib::Result& r) { return std::stoll(r->get_header_value("X-RateLimit-Reset")); }

// The body of a JSON answer, or a discarded value when it is none.
json bodyOf(const httplib::Result& result)
{
    return result ? json::parse(result->body, nullptr, false) : json(json::value_t::discarded);
}

QStringList symbolsOf(const json& message)
{
    QStringList symbols;
    for (const json& symbol : message.at("symbols"))
        symbols << text(symbol.at("symbol").get<std::string>());
    return symbols;
}

std::string withToken(const std::string& target, const std::string& token)
{
    if (token.empty())
        return target;
    return target + (target.find('?') == std::string::npos ? "?" : "&") + "access_token=" + token;
}

QDateTime parseHttpDate(const std::string& date)
{
    QDateTime time = QLocale(QLocale::English, QLocale::UnitedStates)
                         .toDateTime(text(date), QStringLiteral("ddd, dd MMM yyyy HH:mm:ss 'GMT'"));
    time.setTimeSpec(Qt::UTC);
    return time;
}

// The multipart body as the plugin's share action writes it, "." epilogue included.
std::string pluginMultipart(const std::string& token, const std::string& body, int replyTo, const QByteArray& jpeg)
{
    std::string out;
    auto field = [&out](const std::string& name, const std::string& value) {
        out += "--margin\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value + "\r\n";
    };
    field("action", "script.php");
    field("access_token", token);
    field("body", body);
    if (replyTo != -1)
        field("in_reply_to_message_id", std::to_string(replyTo));
    return out + "--margin\r\nContent-Disposition: form-data; name=\"chart\"; filename=\"chart.jpg\"\r\n"
                 "Content-Type: image/jpeg\r\n\r\n" + jpeg.toStdString() + "\r\n--margin--\r\n.\r\n";
}

// The service's answer to bytes sent as they stand, up to the end of the answer's head.
QByteArray exchange(std::uint16_t port, const QByteArray& request)
{
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    if (!socket.waitForConnected(5000))
        return QByteArray();
    socket.write(request);
    QByteArray answer;
    while (!answer.contains("\r\n\r\n") && socket.waitForReadyRead(5000))
        answer += socket.readAll();
    return answer;
}

// A plain socket, for clients that misbehave on purpose; -1 when it cannot connect.
int connectTo(std::uint16_t port)
{
    const int socket = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (socket >= 0 && ::connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(socket);
        return -1;
    }
    return socket;
}

// Whether the server closes the connection within the time, whatever it answers first.
bool closedWithin(int socket, int milliseconds)
{
    QElapsedTimer timer;
    timer.start();
    char buffer[4096];
    for (;;) {
        const qint64 left = milliseconds - timer.elapsed();
        if (left <= 0)
            return false;
        pollfd entry{socket, POLLIN, 0};
        if (::poll(&entry, 1, int(left)) <= 0)
            continue;
        const ssize_t n = ::recv(socket, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
            return true;
    }
}

} // namespace

// The service emulator over loopback: envelope, limits, tokens, streams, actions, pages and faults.
class tst_Emulator : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void lifecycle();
    void tokens();
    void endpoints_data();
    void endpoints();
    void answers_data();
    void answers();
    void rateLimit();
    void actions();
    void share();
    void authorizationPage();
    void faults_data();
    void faults();
    void faultScope();
    void removedMessage();
    void concurrentClientsAreCountedExactly();
    void requestLogKeepsTheRecentRequests();
    void idleConnectionsDoNotHoldUpRequests();
    void stoppingClosesSlowConnectionsAtOnce();
    void slowSendersAreCutOff_data();
    void slowSendersAreCutOff();
    void commandLine_data();
    void commandLine();
    void generatorOrders_data();
    void generatorOrders();
    void streamMessageIds_data();
    void streamMessageIds();

private:
    httplib::Result get(const std::string& target) { return m_client->Get(target.c_str()); }
    httplib::Result post(const std::string& target, const std::string& body, const char* type = formType)
    {
        return m_client->Post(target.c_str(), body, type);
    }
    std::string api(const std::string& path, const std::string& token = std::string()) const
    {
        return withToken("/api/2/" + path, token);
    }

    std::unique_ptr<Emulator::Service> m_service;
    std::unique_ptr<httplib::Client> m_client;
};

void tst_Emulator::init()
{
    Emulator::ServiceOptions options;
    options.seedTime = fixedNow;
    m_service = std::make_unique<Emulator::Service>(options);
    QVERIFY(m_service->start());
    m_client = std::make_unique<httplib::Client>("127.0.0.1", m_service->port());
    m_client->set_connection_timeout(5);
    m_client->set_read_timeout(10);
}

void tst_Emulator::cleanup()
{
    m_client.reset();
    m_service.reset();
}

// Bound to loopback alone. Stopped, the service neither answers nor generates; started again on
// the same port, it keeps what clients did and generates on at a period under a second.
void tst_Emulator::lifecycle()
{
    Emulator::ServiceOptions options;
    options.seedTime = fixedNow;
    options.generatorPeriod = std::chrono::milliseconds(20);
    Emulator::Service service(options);
    QVERIFY(service.start());
    QVERIFY(!service.start());
    const std::uint16_t port = service.port();
    QCOMPARE(text(service.baseUrl()), QStringLiteral("http://127.0.0.1:%1/").arg(port));
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.2"), port);
    QVERIFY(!socket.waitForConnected(2000));
    // A port in use is refused, and the service can still start elsewhere.
    m_service->stop();
    QCOMPARE(m_service->port(), std::uint16_t(0));
    QVERIFY(!m_service->start(port));
    QVERIFY(!m_service->isRunning());
    QVERIFY(m_service->start());

    httplib::Client client("127.0.0.1", port);
    client.set_connection_timeout(2);
    const std::string alice = service.issueToken("alice");
    auto asAlice = [&](const std::string& path, const char* postBody = nullptr) {
        const std::string target = withToken("/api/2/" + path, alice);
        return postBody ? client.Post(target.c_str(), postBody, formType) : client.Get(target.c_str());
    };
    const int postedId = bodyOf(asAlice("messages/create.json", "body=%24XOM%20still")).at("message").at("id").get<int>();
    QCOMPARE(asAlice("messages/like.json?id=10010", "")->status, 200);
    QCOMPARE(asAlice("friendships/create/4.json", "")->status, 200);
    const int remaining = remainingOf(asAlice("streams/home.json"));
    QTRY_VERIFY_WITH_TIMEOUT(service.store().newestMessageId() > postedId + 3, 5000);

    for (int round = 0; round < 3; ++round) {
        service.stop();
        QVERIFY(!service.isRunning());
        const int newestWhileStopped = service.store().newestMessageId();
        QVERIFY(!client.Get("/api/2/streams/trending.json"));
        QTest::qWait(100); // five periods of the generator
        QCOMPARE(service.store().newestMessageId(), newestWhileStopped);
        QVERIFY2(service.start(port), "the port is free again at once");
        QCOMPARE(service.port(), port);
        QTRY_VERIFY_WITH_TIMEOUT(service.store().newestMessageId() > newestWhileStopped + 3, 5000);
    }

    const std::vector<int> xom = service.streamMessageIds("streams/symbol/XOM.json", "alice");
    QVERIFY(std::count(xom.begin(), xom.end(), postedId));
    QVERIFY(bodyOf(asAlice("streams/user/dave.json")).at("user").at("is_following").get<bool>());
    QVERIFY(service.store().message(10010)->likes.count(1));
    const auto home = asAlice("streams/home.json");
    QCOMPARE(home->status, 200);
    QCOMPARE(remainingOf(home), remaining - 2);
    // What was generated after the restart is served.
    const int newest = service.store().newestMessageId();
    const std::string author = service.store().user(service.store().message(newest)->userId)->username;
    const json byAuthor = bodyOf(client.Get(("/api/2/streams/user/" + author + ".json").c_str()));
    QVERIFY(byAuthor.at("messages").at(0).at("id").get<int>() >= newest);
}

// A token of an earlier run is honoured for its user until it is revoked, alone or with all others.
void tst_Emulator::tokens()
{
    const std::string earlier = "0123456789abcdef0123456789abcdef";
    QCOMPARE(get(api("account/verify.json", earlier))->status, 401);

    QVERIFY(!m_service->adoptToken(earlier, "nobody"));
    QVERIFY(!m_service->adoptToken("", "alice"));
    QVERIFY(m_service->adoptToken(earlier, "alice"));
    QVERIFY(m_service->adoptToken(earlier, "alice"));
    QVERIFY(!m_service->adoptToken(earlier, "bob"));

    const json user = bodyOf(get(api("account/verify.json", earlier))).at("user");
    QCOMPARE(user.at("username").get<std::string>(), std::string("alice"));
    QVERIFY(m_service->revokeToken(earlier));
    QVERIFY(!m_service->revokeToken(earlier));
    QCOMPARE(get(api("account/verify.json", earlier))->status, 401);

    const std::string bob = m_service->issueToken("bob");
    m_service->revokeAll();
    QCOMPARE(get(api("account/verify.json", bob))->status, 401);
    QVERIFY(m_service->issueToken("nobody").empty());
}

void tst_Emulator::endpoints_data()
{
    QTest::addColumn<QString>("key");      // the remote setting that names the endpoint
    QTest::addColumn<QStringList>("args"); // what the host fills into its markers
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<bool>("isPost");
    QTest::addColumn<bool>("needsUser");
    QTest::addColumn<QString>("rule"); // what every message of a stream has in common

    auto stream = [](const QString& path, bool needsUser, const QString& rule = QString(), const QString& query = {}) {
        QTest::newRow(qPrintable(path + query)) << "streamApiUrl" << QStringList() << "streams/" + path + ".json" + query
                                                << false << needsUser << rule;
    };
    for (const char* symbol : {"MSFT", "BRK.B", "RY.CA", "EURUSD", "ES_F"})
        stream(QStringLiteral("symbol/") + symbol, false, QStringLiteral("about:") + symbol);
    stream("user/carol", false, "by:carol");
    stream("suggested", false);
    stream("trending", false);
    stream("charts", false, "entity:chart");
    stream("investor_relations", false, "by:ventari_ir");
    stream("home", true);
    stream("friends", true, "by:bob|carol");
    stream("watchlist/9", true, "about:XOM|CL_F");
    stream("mentions", true, "mentions:@alice");
    stream("home", true, "entity:chart", "?filter=charts");
    stream("home", true, "entity:video", "?filter=videos");
    stream("home", true, "link", "?filter=links");
    auto action = [](const char* name, const char* key, const QStringList& args, const char* suffix, bool isPost) {
        QTest::newRow(name) << key << args << suffix << isPost << true << QString();
    };
    action("like", "likeUrl", {}, "?id=10010", true);
    action("unlike", "unlikeUrl", {}, "?id=10010", true);
    action("follow user", "friendshipsUrl", {"create", "4"}, "", true);
    action("unfollow symbol", "stockshipsUrl", {"destroy", "686"}, "", true);
    action("watch lists", "watchListsUrl", {}, "", false);
    action("user info", "userInfoUrl", {}, "", false);
    action("share", "shareUrl", {}, "", true);
}

void tst_Emulator::endpoints()
{
    QFETCH(QString, key);
    QFETCH(QStringList, args);
    QFETCH(QString, suffix);
    QFETCH(bool, isPost);
    QFETCH(bool, needsUser);
    QFETCH(QString, rule);

    // The address as the host builds it from the remote settings.
    const std::string base = m_service->baseUrl();
    QString address = text(m_service->remoteSettings().at(key.toStdString()));
    QCOMPARE(address.count('%'), args.size());
    for (const QString& arg : args)
        address = address.arg(arg);
    address += suffix;
    QVERIFY(address.startsWith(text(base)));
    const std::string target = address.mid(int(base.size()) - 1).toStdString();

    const std::string alice = m_service->issueToken("alice");
    const std::string revoked = m_service->issueToken("alice");
    QVERIFY(m_service->revokeToken(revoked));
    const std::tuple<std::string, int, std::string> attempts[] = {
        {std::string(), needsUser ? 401 : 200, "Authentication required"},
        {revoked, 401, "Invalid access token"},
        {"0123456789abcdef", 401, "Invalid access token"},
        {alice, 200, ""}};
    json reply;
    for (const auto& [token, status, error] : attempts) {
        const auto result = isPost ? post(withToken(target, token), "body=hello") : get(withToken(target, token));
        QVERIFY(result);
        QCOMPARE(result->status, status);
        reply = bodyOf(result);
        QCOMPARE(statusOf(reply), status);
        if (status == 401)
            QCOMPARE(errorOf(reply), error);
    }
    if (key != "streamApiUrl")
        return;

    const QStringList alternatives = rule.section(':', 1).split('|');
    auto follows = [&](const json& message) {
        const QString body = text(message.at("body").get<std::string>());
        if (rule.startsWith("entity:"))
            return message.at("entities").contains(alternatives.first().toStdString());
        if (rule.startsWith("about:"))
            return std::any_of(alternatives.begin(), alternatives.end(),
                               [symbols = symbolsOf(message)](const QString& symbol) { return symbols.contains(symbol); });
        if (rule.startsWith("by:"))
            return alternatives.contains(text(message.at("user").at("username").get<std::string>()));
        if (rule.startsWith("mentions:"))
            return body.contains(alternatives.first());
        return rule != "link" || body.contains("://");
    };
    QVERIFY(!reply.at("messages").empty());
    for (const json& message : reply.at("messages")) {
        QCOMPARE(message.at("likes").at("total").get<std::size_t>(), message.at("likes").at("user_ids").size());
        QVERIFY2(follows(message), message.dump().c_str());
    }
    // Unfiltered the stream holds other kinds too, so the filter did the choosing.
    if (suffix.contains('?')) {
        const json all = bodyOf(get(withToken(target.substr(0, target.find('?')), alice))).at("messages");
        QVERIFY(std::any_of(all.begin(), all.end(), [&](const json& message) { return !follows(message); }));
    }
}

void tst_Emulator::answers_data()
{
    QTest::addColumn<QByteArray>("method"); // RAW: the body is sent as it stands
    QTest::addColumn<QByteArray>("target"); // under /api/2/ alice's token is added
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("type");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("error"); // the refusal's exact text, where it matters

    auto row = [](const char* name, const char* method, const QByteArray& target, int status,
                  const QByteArray& body = QByteArray(), const QByteArray& type = formType, const QString& error = {}) {
        QTest::newRow(name) << QByteArray(method) << target << body << type << status << error;
    };
    auto share = [&row](const char* name, const QByteArray& body, int status, const QByteArray& type = formType,
                        const QString& error = {}) {
        row(name, "POST", "/api/2/messages/create.json", status, body, type, error);
    };
    // A post as the plugin makes it, with a chart whose first bytes make a JPEG for the service.
    auto withChart = [](int letters, int chartBytes) {
        const QByteArray chart = "\xFF\xD8\xFF\xE0" + QByteArray(chartBytes - 4, 'j');
        return QByteArray::fromStdString(pluginMultipart("", std::string(letters, 'x'), -1, chart));
    };

    row("stream", "GET", "/api/2/streams/trending.json", 200);
    row("page", "GET", "/oauth/done", 200);
    row("unknown path", "GET", "/api/2/nothing.json", 404);
    row("unknown stream", "GET", "/api/2/streams/nosuch.json", 404);
    row("unknown symbol", "GET", "/api/2/streams/symbol/NOSUCH.json", 404);
    row("unknown user", "GET", "/api/2/streams/user/nobody.json", 404);
    row("other's list", "GET", "/api/2/streams/watchlist/8.json", 404);
    row("unknown list", "GET", "/api/2/streams/watchlist/999.json", 404);
    row("bad max", "GET", "/api/2/streams/trending.json?max=ten", 400);
    row("unknown filter", "GET", "/api/2/streams/trending.json?filter=gifs", 400);
    row("malformed query", "GET", "/api/2/streams/trending.json?max=%zz", 400);
    row("not UTF-8 path", "GET", "/api/2/streams/symbol/%FF%FE.json", 404);
    row("dot segments", "GET", "/api/2/../../etc/passwd", 404);
    row("very long path", "GET", "/" + QByteArray(20000, 'a'), 414);
    row("GET like", "GET", "/api/2/messages/like.json?id=10001", 405);
    row("DELETE", "DELETE", "/api/2/watchlists.json", 405);
    row("like unknown", "POST", "/api/2/messages/like.json?id=99999999", 404);
    row("like no id", "POST", "/api/2/messages/like.json", 400);
    row("like text id", "POST", "/api/2/messages/like.json?id=abc", 400);
    row("follow oneself", "POST", "/api/2/friendships/create/1.json", 422);
    row("follow nobody", "POST", "/api/2/friendships/create/77.json", 404);
    row("follow no symbol", "POST", "/api/2/stockships/create/77.json", 404);
    row("stockship verb", "POST", "/api/2/stockships/follow/686.json", 404);

    const QByteArray link = "https://example.com/" + QByteArray(60, 'p');
    share("share empty", "body=", 422);
    share("share no body", "in_reply_to_message_id=10003", 422);
    share("share 140", "body=" + QByteArray(140, 'x'), 200);
    share("share 141", "body=" + QByteArray(141, 'x'), 422);
    share("share 140 letters", "body=" + QByteArray("%C3%BC").repeated(140), 200);
    share("share link counts 20", "body=" + QByteArray(120, 'x') + link, 200);
    share("share link and 121", "body=" + QByteArray(121, 'x') + link, 422);
    share("share short link as itself", "body=" + QByteArray(130, 'x') + "+http://a", 200);
    share("share two links", "body=" + QByteArray(99, 'x') + link + "+" + link, 200);
    share("share two links and 100", "body=" + QByteArray(100, 'x') + link + "+" + link, 422);
    share("share not UTF-8", "body=%FF%FE", 400);
    share("share broken escape", "body=100%", 400);
    share("reply to nothing", "body=hi&in_reply_to_message_id=5", 404);
    share("huge body", QByteArray(3 * 1024 * 1024, 'x'), 413);

    const QByteArray part = "--margin\r\nContent-Disposition: form-data; name=\"body\"\r\n\r\nhello\r\n";
    share("multipart", part + "--margin--\r\n", 200, multipartType);
    share("quoted boundary", part + "--margin--", 200, "multipart/form-data; boundary=\"margin\"");
    share("no closing boundary", part, 400, multipartType);
    share("no boundary parameter", part + "--margin--\r\n", 400, "multipart/form-data");
    share("other boundary", part + "--margin--\r\n", 400, "multipart/form-data; boundary=edge");
    share("part without name", "--margin\r\nContent-Disposition: form-data\r\n\r\nhello\r\n--margin--\r\n", 400,
          multipartType);
    share("part headers never end", "--margin\r\nContent-Disposition: form-data; name=\"body\"", 400, multipartType);
    share("chart is no JPEG",
          part + "--margin\r\nContent-Disposition: form-data; name=\"chart\"; filename=\"chart.jpg\"\r\n"
                 "Content-Type: image/jpeg\r\n\r\nGIF89a\r\n--margin--\r\n.\r\n",
          422, multipartType);
    share("chart alone", withChart(0, 5000), 200, multipartType);
    share("chart a byte under 1 MB", withChart(10, 1048575), 200, multipartType);
    share("chart of 1 MB", withChart(10, 1048576), 422, multipartType,
          "The chart must be under 1 MB; this one has 1048576 bytes");
    share("text of 140 with a chart", withChart(140, 5000), 200, multipartType);
    share("text of 141 with a chart", withChart(141, 5000), 422, multipartType, "Message body is over 140 characters");

    const QByteArray grant = "client_id=orvane-desktop&response_type=token&redirect_uri=http://127.0.0.1/oauth/done";
    row("approve unknown account", "POST", "/oauth/authorize", 400, grant + "&username=mallory&decision=approve");
    row("no decision", "POST", "/oauth/authorize", 400, grant + "&username=bob");
    row("unknown client", "GET", "/oauth/authorize?" + QByteArray(grant).replace("orvane-desktop", "someone"), 400);
    row("code grant", "GET", "/oauth/authorize?" + QByteArray(grant).replace("=token", "=code"), 400);
    row("ftp redirect", "GET", "/oauth/authorize?" + QByteArray(grant).replace("http:", "ftp:"), 400);
    const QByteArray brokenLine = QByteArray(grant).replace("/done", "/done%0D%0AX-Injected:%20yes");
    row("redirect with a line break", "GET", "/oauth/authorize?" + brokenLine, 400);
    row("approve to a line break", "POST", "/oauth/authorize", 400, brokenLine + "&username=bob&decision=approve");
    row("deny to a tab", "POST", "/oauth/authorize", 400,
        QByteArray(grant).replace("/done", "/do%09ne") + "&username=bob&decision=deny");

    row("not HTTP", "RAW", "", 400, "THIS IS NOT HTTP\r\n\r\n");
    row("no version", "RAW", "", 400, "GET /api/2/streams/trending.json\r\n\r\n");
    row("bad length", "RAW", "", 200, "GET /api/2/streams/trending.json HTTP/1.1\r\nContent-Length: nonsense\r\n\r\n");
    QByteArray fields;
    for (int i = 0; i < 100; ++i)
        fields += "X-Field-" + QByteArray::number(i) + ": " + QByteArray(300, 'v') + "\r\n";
    const QByteArray streamHead = "GET /api/2/streams/trending.json HTTP/1.1\r\n";
    row("100 header fields", "RAW", "", 200, streamHead + fields + "\r\n");
    row("101 header fields", "RAW", "", 431, streamHead + fields + "X-One-More: v\r\n\r\n");
    row("request line over 32 KB", "RAW", "", 431, "GET /" + QByteArray(40000, 'a') + " HTTP/1.1\r\n\r\n");
    // The transport takes header lines of up to 8 KB, line end included.
    row("header line of 8 KB", "RAW", "", 200, streamHead + "X-Long: " + QByteArray(8182, 'h') + "\r\n\r\n");
    row("header line a byte over 8 KB", "RAW", "", 431, streamHead + "X-Long: " + QByteArray(8183, 'h') + "\r\n\r\n");
    row("endless header", "RAW", "", 431, streamHead + QByteArray(2 * 1024 * 1024, 'h'));
    const QByteArray chunkedPost = "POST /api/2/messages/create.json HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n";
    const QByteArray chunk = "10000\r\n" + QByteArray(0x10000, 'x') + "\r\n";
    row("chunked body under 2 MB", "RAW", "", 401, chunkedPost + chunk.repeated(31) + "0\r\n\r\n");
    row("chunked body over 2 MB", "RAW", "", 413, chunkedPost + chunk.repeated(40) + "0\r\n\r\n");
    // Only a line that is exactly CR LF ends the head; lines the transport skips still count.
    QByteArray shortFields;
    for (int i = 0; i < 101; ++i)
        shortFields += "X-F" + QByteArray::number(i) + ": v\r\n";
    row("101 fields after CR CR LF", "RAW", "", 431, streamHead + "\r\r\n" + shortFields + "\r\n");
    row("101 fields after a bare LF", "RAW", "", 431, streamHead + "\n" + shortFields + "\r\n");
    row("101 bare LF lines", "RAW", "", 431, streamHead + QByteArray(shortFields).replace("\r\n", "\n") + "\r\n");
    row("head over 32 KB after a bare LF", "RAW", "", 431,
        streamHead + "\n" + ("X-Long: " + QByteArray(8000, 'h') + "\r\n").repeated(5) + "\r\n");
}

void tst_Emulator::answers()
{
    QFETCH(QByteArray, method);
    QFETCH(QByteArray, target);
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, type);
    QFETCH(int, status);
    QFETCH(QString, error);

    const std::string alice = m_service->issueToken("alice");
    const int newest = m_service->store().newestMessageId();
    const std::size_t tokens = m_service->tokens().count();
    const std::string to = target.startsWith("/api/2/") ? withToken(target.toStdString(), alice) : target.toStdString();

    if (method == "RAW") {
        const QByteArray answer = exchange(m_service->port(), body);
        QVERIFY2(answer.startsWith("HTTP/1.1 " + QByteArray::number(status)), answer.constData());
        QVERIFY(answer.contains("X-RateLimit-Remaining: 199"));
        // Refused or not, the request is the client's own.
        QCOMPARE(m_service->requests().back().remoteAddress, std::string("127.0.0.1"));
    } else {
        const httplib::Result result = method == "GET"    ? get(to)
                                       : method == "POST" ? post(to, body.toStdString(), type.constData())
                                                          : m_client->Delete(to.c_str());
        QVERIFY(result);
        QCOMPARE(result->status, status);

        // Every answer, refusals included, carries the date and the client's count.
        const std::string date = result->get_header_value("Date");
        static const QRegularExpression dateForm("^(Mon|Tue|Wed|Thu|Fri|Sat|Sun), \\d\\d (Jan|Feb|Mar|Apr|May|Jun|Jul|"
                                                 "Aug|Sep|Oct|Nov|Dec) \\d{4} \\d\\d:\\d\\d:\\d\\d GMT$");
        QVERIFY2(dateForm.match(text(date)).hasMatch(), date.c_str());
        const QDateTime serverTime = parseHttpDate(date);
        QVERIFY(qAbs(serverTime.secsTo(QDateTime::currentDateTimeUtc())) < 60);
        QCOMPARE(result->get_header_value("X-RateLimit-Remaining"), std::string("199"));
        QCOMPARE(result->get_header_value("X-RateLimit-Reset"), std::to_string(serverTime.toSecsSinceEpoch() + 3600));

        const json reply = bodyOf(result);
        if (reply.is_discarded()) {
            QVERIFY(result->get_header_value("Content-Type").rfind("text/html", 0) == 0);
        } else {
            QCOMPARE(statusOf(reply), status);
            QCOMPARE(reply.contains("errors"), status != 200);
            if (status != 200)
                QVERIFY(!errorOf(reply).empty());
            if (!error.isEmpty())
                QCOMPARE(text(errorOf(reply)), error);
        }
    }

    // A refusal changes nothing, and the service goes on serving.
    const bool shared = status == 200 && target.contains("messages/create");
    QCOMPARE(m_service->store().newestMessageId(), shared ? newest + 1 : newest);
    QCOMPARE(m_service->tokens().count(), tokens);
    const auto next = get(api("streams/trending.json"));
    QVERIFY(next);
    QCOMPARE(next->status, 200);
    QVERIFY(!bodyOf(next).is_discarded());
}

void tst_Emulator::rateLimit()
{
    m_service->setServerTime(fixedNow);
    const std::string alice = m_service->issueToken("alice");
    // Every token has a count of its own, anonymous clients share one, and refusals count too.
    QCOMPARE(remainingOf(get(api("streams/trending.json"))), 199);
    QCOMPARE(remainingOf(get(api("streams/trending.json", alice))), 199);
    QCOMPARE(remainingOf(get(api("streams/home.json", alice))), 198);
    QCOMPARE(remainingOf(get(api("streams/home.json", m_service->issueToken("bob")))), 199);
    QCOMPARE(get(api("nothing.json"))->status, 404);
    QCOMPARE(remainingOf(get(api("streams/trending.json"))), 197);

    // The window renews when the clock reaches its reset, not a second before.
    m_service->setRemainingForToken(alice, 0);
    QCOMPARE(resetOf(get(api("streams/home.json", alice))), fixedNow + 3600);
    m_service->clock().advance(3599);
    QCOMPARE(get(api("streams/home.json", alice))->status, 429);
    m_service->clock().advance(1);
    const auto renewed = get(api("streams/home.json", alice));
    QCOMPARE(renewed->status, 200);
    QCOMPARE(remainingOf(renewed), 199);
    QCOMPARE(resetOf(renewed), fixedNow + 7200);

    m_service->setServerTime(fixedNow);
    m_service->setResetTime(fixedNow + 100);
    m_service->setRemaining(2);
    QCOMPARE(remainingOf(get(api("streams/trending.json"))), 1);
    QCOMPARE(remainingOf(get(api("streams/trending.json"))), 0);
    const auto refused = get(api("streams/trending.json"));
    QCOMPARE(refused->status, 429);
    QCOMPARE(remainingOf(refused), 0);
    QCOMPARE(resetOf(refused), fixedNow + 100);
    QCOMPARE(refused->get_header_value("Date"), std::string("Tue, 14 Nov 2023 22:13:20 GMT"));
    QCOMPARE(statusOf(bodyOf(refused)), 429);
    QCOMPARE(errorOf(bodyOf(refused)), std::string("Rate limit exceeded"));

    // "For all" also covers clients first seen afterwards; one token or the anonymous can be set alone.
    const std::string carol = m_service->issueToken("carol");
    QCOMPARE(remainingOf(get(api("streams/home.json", carol))), 1);
    m_service->setRemainingForToken(carol, 0);
    QCOMPARE(get(api("streams/home.json", carol))->status, 429);
    m_service->setRemainingForAnonymous(5);
    QCOMPARE(remainingOf(get(api("streams/trending.json"))), 4);
    QCOMPARE(get(api("streams/home.json", carol))->status, 429);

    // A reset pinned in the past stays: the test decides when the limit comes back.
    m_service->setResetTime(fixedNow - 30);
    m_service->setRemaining(0);
    const auto stale = get(api("streams/trending.json"));
    QCOMPARE(stale->status, 429);
    QCOMPARE(resetOf(stale), fixedNow - 30);
}

void tst_Emulator::actions()
{
    // A like given twice counts once; the round trip through the plugin is the model's test.
    const std::string alice = m_service->issueToken("alice");
    auto likes = [](const json& reply) { return reply.at("message").at("likes").at("user_ids").get<std::set<int>>(); };
    const std::set<int> before = m_service->store().message(10010)->likes;
    QVERIFY(!before.empty() && !before.count(1));
    const std::string like = api("messages/like.json?id=10010", alice);
    std::set<int> after = before;
    after.insert(1);
    QCOMPARE(likes(bodyOf(post(like, ""))), after);
    QCOMPARE(likes(bodyOf(post(like, ""))), after);
    QCOMPARE(likes(bodyOf(post(api("messages/unlike.json?id=10010", alice), ""))), before);

    // A follow shows on the next page of the subject; what dave posts reaches alice's friends stream
    // only while she follows him.
    auto following = [&](const std::string& stream, const char* subject) {
        return bodyOf(get(api(stream, alice))).at(subject).at("is_following").get<bool>();
    };
    const std::string dave = m_service->issueToken("dave");
    auto daveSays = [&](const char* body) {
        return bodyOf(post(api("messages/create.json", dave), body)).at("message").at("id").get<int>();
    };
    auto newestForAlice = [&] {
        return bodyOf(get(api("streams/friends.json", alice))).at("messages").at(0).at("id").get<int>();
    };
    QVERIFY(!following("streams/user/dave.json", "user"));
    const json user = bodyOf(post(api("friendships/create/4.json", alice), "")).at("user");
    QCOMPARE(user.at("id").get<int>(), 4);
    QVERIFY(user.at("is_following").get<bool>());
    QVERIFY(following("streams/user/dave.json", "user"));
    int posted = daveSays("body=from%20dave");
    QCOMPARE(newestForAlice(), posted);
    QVERIFY(!bodyOf(post(api("friendships/destroy/4.json", alice), "")).at("user").at("is_following").get<bool>());
    posted = daveSays("body=dave%20again");
    QVERIFY(newestForAlice() < posted - 1);

    QVERIFY(!following("streams/symbol/EURUSD.json", "symbol"));
    const json symbol = bodyOf(post(api("stockships/create/5961.json", alice), "")).at("symbol");
    QCOMPARE(symbol.at("symbol").get<std::string>(), std::string("EURUSD"));
    QVERIFY(following("streams/symbol/EURUSD.json", "symbol"));
    QCOMPARE(statusOf(bodyOf(post(api("stockships/destroy/5961.json", alice), ""))), 200);
    QVERIFY(!following("streams/symbol/EURUSD.json", "symbol"));

    const json carol = bodyOf(get(api("account/verify.json", m_service->issueToken("carol")))).at("user");
    QCOMPARE(carol.at("username").get<std::string>(), std::string("carol"));
    const std::string avatar = carol.at("avatar_url").get<std::string>();
    QCOMPARE(avatar, m_service->baseUrl() + "avatars/carol.svg");
    const auto picture = get(avatar.substr(m_service->baseUrl().size() - 1));
    QCOMPARE(picture->status, 200);
    QVERIFY(picture->body.find("<svg") != std::string::npos);
}

// A post as the plugin makes it, the token in the form alone: symbols are read from the text, dots
// and underscores kept and a closing full stop left out; the chart is kept as sent and served at
// every size its entity names. What the plugin posts and reads back is the share action's test.
void tst_Emulator::share()
{
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    QVERIFY(buffer.open(QIODevice::WriteOnly) && testPicture().save(&buffer, "JPG"));
    const QString body = QString::fromUtf8("$TD.CA über 株 $ES_F.");
    const auto result = post(api("messages/create.json"),
                             pluginMultipart(m_service->issueToken("bob"), body.toStdString(), 10005, jpeg), multipartType);
    QCOMPARE(result->status, 200);
    const json message = bodyOf(result).at("message");
    QCOMPARE(message.at("user").at("id").get<int>(), 2);
    QCOMPARE(text(message.at("body").get<std::string>()), body);
    QCOMPARE(message.at("in_reply_to_message_id").get<int>(), 10005);
    QCOMPARE(symbolsOf(message), (QStringList{"TD.CA", "ES_F"}));
    QCOMPARE(bodyOf(get(api("streams/symbol/ES_F.json"))).at("messages").at(0).at("id"), message.at("id"));

    const int id = message.at("id").get<int>();
    const std::string base = m_service->baseUrl();
    for (const char* size : {"thumb", "large", "original"}) {
        const std::string url = message.at("entities").at("chart").at(size).get<std::string>();
        QCOMPARE(url, base + "charts/" + std::to_string(id) + "/" + size + ".jpg");
        const auto image = get(url.substr(base.size() - 1));
        QCOMPARE(image->status, 200);
        QCOMPARE(image->get_header_value("Content-Type"), std::string("image/jpeg"));
        QCOMPARE(QByteArray::fromStdString(image->body), jpeg);
    }
}

void tst_Emulator::authorizationPage()
{
    const std::string redirect = m_service->baseUrl() + "oauth/done";
    const std::string grant = "client_id=orvane-desktop&response_type=token&redirect_uri=" + redirect;

    const auto page = get("/oauth/authorize?" + grant);
    QCOMPARE(page->status, 200);
    QVERIFY(page->get_header_value("Content-Type").rfind("text/html", 0) == 0);
    for (const auto& user : m_service->store().users())
        QVERIFY(page->body.find("<option value=\"" + user.username + "\"") != std::string::npos);

    const std::string prefix = redirect + "#access_token=";
    auto userOf = [&](const httplib::Result& answer) {
        const std::string location = answer->get_header_value("Location");
        if (answer->status != 302 || location.rfind(prefix, 0) != 0)
            return -1;
        return m_service->tokens().userOf(location.substr(prefix.size())).value_or(-1);
    };
    QCOMPARE(userOf(post("/oauth/authorize", grant + "&username=bob&decision=approve")), 2);
    // Without script the pressed button speaks.
    QCOMPARE(userOf(post("/oauth/authorize", grant + "&username=dave&decision=&choice=approve")), 4);

    const std::size_t tokens = m_service->tokens().count();
    const auto denied = post("/oauth/authorize", grant + "&username=bob&decision=deny");
    QCOMPARE(denied->status, 302);
    QCOMPARE(denied->get_header_value("Location"), redirect + "#error=access_denied");
    QCOMPARE(m_service->tokens().count(), tokens);

    QVERIFY(get("/oauth/done")->body.find("You can close this window.") != std::string::npos);

    // A stale token does not lock anyone out of the page.
    const std::string stale = m_service->issueToken("bob");
    m_service->revokeAll();
    QCOMPARE(get("/oauth/authorize?" + grant + "&access_token=" + stale)->status, 200);
}

void tst_Emulator::faults_data()
{
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<int>("status"); // 0: the connection drops
    // What is broken: "body" (no JSON), a header that does not parse, or "missing" rate-limit headers.
    QTest::addColumn<QByteArray>("broken");
    auto row = [](const char* name, const Fault& fault, int status, const char* broken = "") {
        QTest::newRow(name) << fault << status << QByteArray(broken);
    };
    row("latency", Fault::latency(300), 200);
    row("error status", Fault::errorStatus(503, "Service unavailable"), 503);
    row("malformed body", Fault::malformedBody(), 200, "body");
    row("missing headers", Fault::missingRateLimitHeaders(), 200, "missing");
    row("remaining not a number", Fault::malformedRateLimitHeader(HeaderDefect::NonNumericRemaining), 200,
        "X-RateLimit-Remaining");
    row("reset not a number", Fault::malformedRateLimitHeader(HeaderDefect::NonNumericReset), 200, "X-RateLimit-Reset");
    row("date with offset", Fault::malformedRateLimitHeader(HeaderDefect::DateWithZoneOffset), 200, "Date");
    row("dropped connection", Fault::droppedConnection(), 0);
}

void tst_Emulator::faults()
{
    QFETCH(Fault, fault);
    QFETCH(int, status);
    QFETCH(QByteArray, broken);

    auto check = [](const httplib::Result& result, int status, const QByteArray& broken) {
        QCOMPARE(result->status, status);
        QCOMPARE(bodyOf(result).is_discarded(), broken == "body");
        QVERIFY(!result->body.empty());
        for (const char* header : {"Date", "X-RateLimit-Remaining", "X-RateLimit-Reset"}) {
            const bool missing = broken == "missing" && qstrcmp(header, "Date") != 0;
            QCOMPARE(result->get_header_value_count(header), std::size_t(missing ? 0 : 1));
            const std::string value = result->get_header_value(header);
            bool parses = false;
            if (qstrcmp(header, "Date") == 0)
                parses = parseHttpDate(value).isValid();
            else
                text(value).toLongLong(&parses);
            QCOMPARE(parses, !missing && broken != header);
        }
    };

    QVERIFY(m_service->addFault(fault.times(1)) > 0);
    QElapsedTimer timer;
    timer.start();
    const auto result = get(api("streams/trending.json"));
    QVERIFY(timer.elapsed() >= fault.latencyMs);
    if (status == 0) {
        QVERIFY(!result);
        QCOMPARE(m_service->requests().back().status, 0);
    } else {
        check(result, status, broken);
        if (QTest::currentTestFailed())
            return;
        if (status != 200)
            QCOMPARE(errorOf(bodyOf(result)), fault.errorText);
    }

    // One request's worth: the next answer is whole again.
    QVERIFY(m_service->faults().active().empty());
    check(get(api("streams/trending.json")), 200, QByteArray());
}

void tst_Emulator::faultScope()
{
    const int forStreams = m_service->addFault(Fault::errorStatus(500).onPath("/api/2/streams/"));
    m_service->addFault(Fault::errorStatus(502).onPath("/api/2/watchlists").times(2));
    const std::string token = m_service->issueToken("alice");

    for (int i = 0; i < 3; ++i)
        QCOMPARE(get(api("streams/trending.json"))->status, 500);
    QCOMPARE(get(api("account/verify.json", token))->status, 200);
    QCOMPARE(get(api("watchlists.json", token))->status, 502);
    QCOMPARE(get(api("watchlists.json", token))->status, 502);
    QCOMPARE(get(api("watchlists.json", token))->status, 200);
    QCOMPARE(int(m_service->faults().active().size()), 1);

    QVERIFY(m_service->faults().remove(forStreams));
    QVERIFY(!m_service->faults().remove(forStreams));
    QCOMPARE(get(api("streams/trending.json"))->status, 200);

    // Faults add up on one answer until cleared.
    m_service->addFault(Fault::malformedBody());
    m_service->addFault(Fault::missingRateLimitHeaders());
    const auto both = get(api("streams/trending.json"));
    QVERIFY(bodyOf(both).is_discarded() && !both->has_header("X-RateLimit-Remaining"));
    m_service->clearFaults();
    QVERIFY(!bodyOf(get(api("streams/trending.json"))).is_discarded());
}

// A deleted message cannot be deleted again or liked, and its id is never given again; that later
// pages leave it out is the model's test.
void tst_Emulator::removedMessage()
{
    const int newest = m_service->store().newestMessageId();
    QVERIFY(m_service->removeMessage(10010));
    QVERIFY(!m_service->removeMessage(10010));
    QCOMPARE(statusOf(bodyOf(post(api("messages/like.json?id=10010", m_service->issueToken("alice")), ""))), 404);
    QVERIFY(m_service->removeMessage(newest));
    QCOMPARE(m_service->generateMessage(), newest + 1);
}

void tst_Emulator::concurrentClientsAreCountedExactly()
{
    const int threads = 4;
    const int each = 25;
    std::atomic<int> ok{0};
    std::vector<std::thread> workers;
    const std::uint16_t port = m_service->port();
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&ok, port, t] {
            httplib::Client client("127.0.0.1", port);
            client.set_keep_alive(t % 2 == 0);
            for (int i = 0; i < each; ++i) {
                const auto r = client.Get(i % 2 ? "/api/2/streams/trending.json"
                                                : "/api/2/streams/charts.json?filter=charts");
                if (r && r->status == 200 && json::parse(r->body, nullptr, false).is_object())
                    ++ok;
            }
        });
    }
    for (std::thread& worker : workers)
        worker.join();
    QCOMPARE(ok.load(), threads * each);
    QCOMPARE(int(m_service->requests().size()), threads * each);
    QCOMPARE(get(api("streams/trending.json"))->get_header_value("X-RateLimit-Remaining"),
             std::to_string(200 - threads * each - 1));
}

void tst_Emulator::requestLogKeepsTheRecentRequests()
{
    Emulator::ServiceOptions options;
    options.seedMessageCount = 5;
    options.requestLogCapacity = 3;
    options.requestLogBodyLimit = 16;
    Emulator::Service service(options);
    QVERIFY(service.start());
    httplib::Client client("127.0.0.1", service.port());
    for (int i = 0; i < 5; ++i)
        QVERIFY(client.Get(("/api/2/streams/trending.json?n=" + std::to_string(i)).c_str()));
    auto logged = service.requests();
    QCOMPARE(int(logged.size()), 3);
    for (int i = 0; i < 3; ++i)
        QCOMPARE(logged[i].queryValue("n"), std::to_string(i + 2));

    QVERIFY(client.Post("/api/2/messages/create.json", "body=hi", formType));
    const std::string longBody = "body=" + std::string(95, 'x');
    QVERIFY(client.Post("/api/2/messages/create.json", longBody, formType));
    logged = service.requests();
    QCOMPARE(logged[1].body, std::string("body=hi"));
    QCOMPARE(logged[1].bodySize, std::size_t(7));
    QVERIFY(!logged[1].bodyCut);
    QCOMPARE(logged[2].body, longBody.substr(0, 16));
    QCOMPARE(logged[2].bodySize, longBody.size());
    QVERIFY(logged[2].bodyCut);

    // With the defaults a refused post just under the payload limit costs the log a few KB.
    const std::string huge(1900 * 1024, 'x');
    QCOMPARE(post(api("messages/create.json"), huge)->status, 401);
    const Emulator::RecordedRequest last = m_service->requests().back();
    QCOMPARE(last.bodySize, huge.size());
    QVERIFY(last.bodyCut);
    QVERIFY(last.body.size() <= 8 * 1024);
    QCOMPARE(last.body.size(), m_service->options().requestLogBodyLimit);

    // So does a head at the transport's limits.
    httplib::Headers fields;
    for (int i = 0; i < 90; ++i)
        fields.emplace("X-Field-" + std::to_string(i), std::string(300, 'v'));
    QCOMPARE(m_client->Get("/api/2/streams/trending.json", fields)->status, 200);
    std::size_t fieldBytes = 0;
    const Emulator::RecordedRequest withFields = m_service->requests().back();
    for (const auto& field : withFields.headers)
        fieldBytes += field.first.size() + field.second.size();
    QVERIFY2(fieldBytes <= 8 * 1024, qPrintable(QString::number(fieldBytes)));

    // The log keeps the first fields by name, the last one kept cut to fit the bytes.
    const Emulator::NameValueList whole{{"A", "1234567890"}, {"B", "1234567890"}, {"C", "1234567890"}, {"D", "x"}};
    const struct {
        std::size_t count, bytes;
        Emulator::NameValueList kept;
    } limits[] = {{4, 100, whole},
                  {3, 100, {whole.begin(), whole.begin() + 3}},
                  {4, 30, {{"A", "1234567890"}, {"B", "1234567890"}, {"C", "1234567"}}},
                  {4, 22, {whole.begin(), whole.begin() + 2}}};
    for (const auto& limit : limits) {
        options.requestLogHeaderCountLimit = limit.count;
        options.requestLogHeaderBytesLimit = limit.bytes;
        Emulator::Service limited(options);
        QVERIFY(limited.start());
        exchange(limited.port(), "GET /api/2/streams/trending.json HTTP/1.1\r\nD: x\r\nB: 1234567890\r\n"
                                 "A: 1234567890\r\nC: 1234567890\r\n\r\n");
        QVERIFY(!limited.requests().empty());
        QCOMPARE(limited.requests().back().headers, limit.kept);
        QCOMPARE(limited.requests().back().headersCut, limit.kept != whole);
    }
}

void tst_Emulator::idleConnectionsDoNotHoldUpRequests()
{
    Emulator::ServiceOptions options;
    options.seedMessageCount = 5;
    options.transport.idleTimeoutMs = 2000;
    options.transport.maxIdleConnections = 250;
    Emulator::Service service(options);
    QVERIFY(service.start());

    std::vector<std::unique_ptr<QTcpSocket>> idle;
    auto connectIdle = [&idle](std::uint16_t port, int count) {
        for (int i = 0; i < count; ++i) {
            idle.push_back(std::make_unique<QTcpSocket>());
            idle.back()->connectToHost(QStringLiteral("127.0.0.1"), port);
            if (!idle.back()->waitForConnected(10000))
                return false;
        }
        return true;
    };
    auto open = [&idle] {
        return std::count_if(idle.begin(), idle.end(),
                             [](const auto& socket) { return socket->state() == QAbstractSocket::ConnectedState; });
    };
    QVERIFY(connectIdle(service.port(), 200));

    // Well within the idle timeout, while every idle connection is still held.
    httplib::Client client("127.0.0.1", service.port());
    QElapsedTimer timer;
    timer.start();
    const auto answer = client.Get("/api/2/streams/trending.json");
    const qint64 elapsed = timer.elapsed();
    QVERIFY(answer);
    QCOMPARE(answer->status, 200);
    QVERIFY2(elapsed < 1500, qPrintable(QStringLiteral("%1 ms").arg(elapsed)));
    QCoreApplication::processEvents();
    QCOMPARE(open(), std::ptrdiff_t(200));

    // They are closed once idle for the timeout, and beyond the capacity the longest waiting ones
    // go at once (which those are depends on the order the workers took them in).
    QVERIFY(QTest::qWaitFor([&] { return open() == 0; }, 10000));
    idle.clear();
    options.transport.idleTimeoutMs = 60000;
    options.transport.maxIdleConnections = 10;
    Emulator::Service small(options);
    QVERIFY(small.start());
    QVERIFY(connectIdle(small.port(), 15));
    QVERIFY(QTest::qWaitFor([&] { return open() == 10; }, 10000));
}

void tst_Emulator::slowSendersAreCutOff_data()
{
    QTest::addColumn<QByteArray>("start"); // what each slow sender sends at once, before trickling
    QTest::newRow("head") << QByteArray("GET /api/2/streams/trending.json HTTP/1.1\r\nX-Slow: ");
    QTest::newRow("body") << QByteArray("POST /api/2/messages/create.json HTTP/1.1\r\nContent-Length: 100000\r\n\r\n");
    // Refused at once, then read a little longer so that the refusal arrives.
    QTest::newRow("head over 32 KB")
        << "GET /api/2/streams/trending.json HTTP/1.1\r\nX-Long: " + QByteArray(40 * 1024, 'h');
}

// As many senders as there are workers, each trickling a byte far within the read timeout, hold
// the workers only until their deadline.
void tst_Emulator::slowSendersAreCutOff()
{
    QFETCH(QByteArray, start);
    Emulator::ServiceOptions options;
    options.seedMessageCount = 5;
    options.transport.headTimeoutMs = 300;
    options.transport.bodyTimeoutMs = 300;
    options.transport.drainTimeoutMs = 200;
    Emulator::Service service(options);
    QVERIFY(service.start());

    std::vector<int> senders;
    for (int i = 0; i < 12; ++i) {
        senders.push_back(connectTo(service.port()));
        QVERIFY(senders.back() >= 0);
        QCOMPARE(::send(senders.back(), start.constData(), std::size_t(start.size()), MSG_NOSIGNAL),
                 ssize_t(start.size()));
    }
    std::atomic<bool> stop{false};
    std::thread trickle([&stop, &senders] {
        while (!stop) {
            for (const int socket : senders)
                ::send(socket, "a", 1, MSG_NOSIGNAL | MSG_DONTWAIT);
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));

    httplib::Client client("127.0.0.1", service.port());
    client.set_read_timeout(3);
    QElapsedTimer timer;
    timer.start();
    const auto answer = client.Get("/api/2/streams/trending.json");
    const qint64 elapsed = timer.elapsed();
    int closed = 0;
    const QDeadlineTimer deadline(1500);
    for (const int socket : senders)
        closed += closedWithin(socket, int(deadline.remainingTime())) ? 1 : 0;
    stop = true;
    trickle.join();
    for (const int socket : senders)
        ::close(socket);

    QVERIFY(answer);
    QCOMPARE(answer->status, 200);
    QVERIFY2(elapsed < 1500, qPrintable(QStringLiteral("%1 ms").arg(elapsed)));
    QCOMPARE(closed, 12);
}

// Three connections for every worker, each with one byte of a head: served one after another
// until their deadline, they would keep a stop waiting for seconds. Nor does a stop wait for the
// generator's next period.
void tst_Emulator::stoppingClosesSlowConnectionsAtOnce()
{
    Emulator::ServiceOptions options;
    options.seedMessageCount = 5;
    options.generatorPeriod = std::chrono::seconds(60);
    options.transport.headTimeoutMs = 1000;
    Emulator::Service service(options);
    QVERIFY(service.start());
    std::vector<int> slow;
    for (int i = 0; i < 36; ++i) {
        slow.push_back(connectTo(service.port()));
        QVERIFY(slow.back() >= 0);
    }
    // All wait to be readable first, so that the byte puts them all in the workers' queue.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    for (const int socket : slow)
        QCOMPARE(::send(socket, "G", 1, MSG_NOSIGNAL), ssize_t(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));

    QElapsedTimer timer;
    timer.start();
    service.stop();
    const qint64 elapsed = timer.elapsed();
    int closed = 0;
    for (const int socket : slow) {
        closed += closedWithin(socket, 500) ? 1 : 0;
        ::close(socket);
    }
    QVERIFY2(elapsed < 500, qPrintable(QStringLiteral("%1 ms").arg(elapsed)));
    QCOMPARE(closed, 36);
    QCOMPARE(service.store().messageCount(), std::size_t(5));
}

void tst_Emulator::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("periodMs"); // -1: refused
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("error"); // a pattern the refusal matches; empty: none

    const QString generate = QStringLiteral("--generate needs seconds");
    QTest::newRow("none") << QStringList() << 0 << 0 << QString();
    QTest::newRow("whole") << QStringList{"--generate", "5"} << 5000 << 0 << QString();
    QTest::newRow("fraction") << QStringList{"--generate", "0.2"} << 200 << 0 << QString();
    QTest::newRow("milliseconds") << QStringList{"--generate", "1.005"} << 1005 << 0 << QString();
    QTest::newRow("no leading digit") << QStringList{"--generate", ".5"} << 500 << 0 << QString();
    QTest::newRow("off") << QStringList{"--generate", "0"} << 0 << 0 << QString();
    QTest::newRow("a day") << QStringList{"--generate", "86400"} << 86400000 << 0 << QString();
    QTest::newRow("with port") << QStringList{"--port", "8080", "--generate", "0.25"} << 250 << 8080 << QString();
    QTest::newRow("negative") << QStringList{"--generate", "-1"} << -1 << 0 << generate + ".*not \"-1\"";
    QTest::newRow("word") << QStringList{"--generate", "fast"} << -1 << 0 << generate + ".*not \"fast\"";
    QTest::newRow("exponent") << QStringList{"--generate", "1e-1"} << -1 << 0 << generate;
    QTest::newRow("below a millisecond") << QStringList{"--generate", "0.0005"} << -1 << 0 << generate;
    QTest::newRow("over a day") << QStringList{"--generate", "86400.001"} << -1 << 0 << generate;
    QTest::newRow("blank") << QStringList{"--generate", " 1"} << -1 << 0 << generate;
    QTest::newRow("point only") << QStringList{"--generate", "."} << -1 << 0 << generate;
    QTest::newRow("missing") << QStringList{"--generate"} << -1 << 0 << generate + "[^\"]*$";
    QTest::newRow("other option") << QStringList{"--port", "70000", "--generate", "1"} << -1 << 0
                                  << "--port needs a number from 0 to 65535";
}

void tst_Emulator::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, periodMs);
    QFETCH(int, port);
    QFETCH(QString, error);

    std::vector<std::string> args;
    for (const QString& argument : arguments)
        args.push_back(argument.toStdString());
    const Emulator::CommandLine command = Emulator::parseCommandLine(args);
    const QRegularExpression expected(error.isEmpty() ? QStringLiteral("^$") : error);
    QVERIFY2(expected.match(text(command.error)).hasMatch(), command.error.c_str());
    if (periodMs < 0)
        return;
    QCOMPARE(command.options.generatorPeriod.count(), qint64(periodMs));
    QCOMPARE(int(command.port), port);
}

// Skewed, a few streams take most messages and most stay quiet; in turn, which tests rely on,
// every stream gets its share. Counted from what the store holds afterwards.
void tst_Emulator::generatorOrders_data()
{
    QTest::addColumn<Order>("order");
    QTest::addColumn<bool>("skewed");
    QTest::newRow("skewed") << Order::Skewed << true;
    QTest::newRow("in turn") << Order::InTurn << false;
}

void tst_Emulator::generatorOrders()
{
    QFETCH(Order, order);
    QFETCH(bool, skewed);

    const int draws = 2000;
    const int first = m_service->store().newestMessageId() + 1;
    std::vector<Emulator::Message> drawn;
    for (int i = 0; i < draws; ++i) {
        QCOMPARE(m_service->generateMessage(order), first + i);
        drawn.push_back(*m_service->store().message(first + i));
    }

    // Messages by symbol, by person writing (investor relations desks left out) and by user mentioned.
    const std::vector<Emulator::User> users = m_service->store().users();
    std::map<int, int> bySymbol, byPerson, byMention;
    for (const Emulator::Symbol& symbol : m_service->store().symbols())
        bySymbol[symbol.id] = 0;
    for (const Emulator::User& user : users) {
        byMention[user.id] = 0;
        if (!user.investorRelations)
            byPerson[user.id] = 0;
    }
    for (const Emulator::Message& message : drawn) {
        for (int symbol : message.symbolIds)
            ++bySymbol[symbol];
        if (byPerson.count(message.userId))
            ++byPerson[message.userId];
        for (const Emulator::User& user : users)
            byMention[user.id] += message.body.find("@" + user.username) != std::string::npos ? 1 : 0;
    }
    // The busiest against the average, and whether most are below that average.
    struct Spread
    {
        int busiest = 0;
        int least = draws;
        double peak = 0;
        bool mostQuiet = false;
    };
    QString figures;
    auto spread = [&figures](const char* what, const std::map<int, int>& counts) {
        Spread result;
        int total = 0;
        for (const auto& entry : counts) {
            total += entry.second;
            result.busiest = std::max(result.busiest, entry.second);
            result.least = std::min(result.least, entry.second);
        }
        const double average = double(total) / double(counts.size());
        const auto quiet = std::count_if(counts.begin(), counts.end(), [&](const auto& e) { return e.second < average; });
        result.peak = result.busiest / average;
        result.mostQuiet = std::size_t(quiet) * 2 > counts.size();
        figures += QStringLiteral("%1 %2x, %3 of %4 quiet; ").arg(what).arg(result.peak).arg(quiet).arg(counts.size());
        return result;
    };
    const Spread ofSymbols = spread("symbols", bySymbol);
    const Spread ofAuthors = spread("authors", byPerson);
    const Spread ofMentions = spread("mentions", byMention);
    if (skewed) {
        // A quarter of all messages or more: at five a second, over one a second for the busiest stream.
        QVERIFY2(ofSymbols.busiest > 0.25 * draws && ofSymbols.peak > 3.0 && ofSymbols.mostQuiet, qPrintable(figures));
        QVERIFY2(ofAuthors.peak > 1.8 && ofAuthors.mostQuiet, qPrintable(figures));
        QVERIFY2(ofMentions.peak > 1.8 && ofMentions.mostQuiet, qPrintable(figures));
    } else {
        QVERIFY2(ofSymbols.peak < 1.3 && ofAuthors.peak < 1.3 && ofMentions.peak < 1.3, qPrintable(figures));
        QVERIFY2(ofSymbols.least > 0, qPrintable(figures));
    }

    // Trending follows what is talked about: the stream holds the newest message about the symbol
    // busiest among the latest hundred.
    std::map<int, int> recent;
    for (auto message = drawn.end() - 100; message != drawn.end(); ++message) {
        for (int symbol : message->symbolIds)
            ++recent[symbol];
    }
    const int hot = std::max_element(recent.begin(), recent.end(), [](auto a, auto b) { return a.second < b.second; })
                        ->first;
    const auto newestHot = std::find_if(drawn.rbegin(), drawn.rend(), [hot](const Emulator::Message& message) {
        return std::count(message.symbolIds.begin(), message.symbolIds.end(), hot) > 0;
    });
    const std::vector<int> trending = m_service->streamMessageIds("streams/trending.json");
    QVERIFY(std::count(trending.begin(), trending.end(), newestHot->id));

    // The same seed draws the same messages.
    Emulator::ServiceOptions options;
    options.seedTime = fixedNow;
    Emulator::Service again(options);
    for (const Emulator::Message& message : std::vector<Emulator::Message>(drawn.begin(), drawn.begin() + 50)) {
        const int id = again.generateMessage(order);
        QCOMPARE(id, message.id);
        QCOMPARE(again.store().message(id)->body, message.body);
        QCOMPARE(again.store().message(id)->userId, message.userId);
    }
}

void tst_Emulator::streamMessageIds_data()
{
    QTest::addColumn<QString>("target"); // as given to streamMessageIds
    QTest::addColumn<QString>("user");
    QTest::addColumn<bool>("spansPages"); // more messages than a page holds
    QTest::addColumn<QString>("error"); // what the service answers instead, if it refuses
    QTest::addColumn<int>("symbolId");  // the one symbol all its messages are about, if any

    auto row = [](const char* name, const char* target, const char* user, bool isLong, const char* error = "",
                  int symbolId = 0) { QTest::newRow(name) << target << user << isLong << error << symbolId; };
    row("symbol", "streams/symbol/AAPL.json", "", true, "", 686);
    row("symbol charts", "streams/symbol/AAPL.json?filter=charts", "", false);
    row("symbol signed in", "streams/symbol/MSFT.json", "alice", true);
    row("user from the base", "api/2/streams/user/carol.json", "", true);
    row("absolute", "/api/2/streams/symbol/BRK.B.json?filter=links", "", false);
    row("encoded", "streams/symbol/ES%5FF.json", "", true);
    row("below a bound", "streams/charts.json?max=10200", "", true);
    row("trending", "streams/trending.json", "", true);
    row("suggested anonymous", "streams/suggested.json", "", true);
    row("suggested for carol", "streams/suggested.json", "carol", true); // she follows ventari_ir
    row("home links", "streams/home.json?filter=links", "alice", true);
    row("friends", "streams/friends.json", "alice", true);
    row("mentions", "streams/mentions.json", "bob", false);
    row("watch list", "streams/watchlist/7.json", "alice", true);
    row("someone else's watch list", "streams/watchlist/8.json", "alice", false, "Watch list not found: 8");
    row("home anonymous", "streams/home.json", "", false, "Authentication required");
    row("unknown filter", "streams/trending.json?filter=gifs", "", false, "Unknown filter: gifs");
    row("unknown symbol", "streams/symbol/NOPE.json", "", false, "Symbol not found: NOPE");
    row("no stream", "account/verify.json", "alice", false, "Not a stream: account/verify.json");
    row("unknown user", "streams/trending.json", "mallory", false, "Unknown user: mallory");
}

// The ids are those the stream pages over HTTP list, walked down with "max" in pages of 30 newest
// first, and reading them costs nothing of the budget and leaves no trace in the log.
void tst_Emulator::streamMessageIds()
{
    QFETCH(QString, target);
    QFETCH(QString, user);
    QFETCH(bool, spansPages);
    QFETCH(QString, error);
    QFETCH(int, symbolId);

    // Enough new messages for several pages in every stream, some in each filter.
    for (int i = 0; i < 150; ++i)
        m_service->generateMessage(i % 2 ? Order::Skewed : Order::InTurn);
    const std::string token = user.isEmpty() || user == "mallory" ? std::string()
                                                                   : m_service->issueToken(user.toStdString());
    // The same stream as an address below the API's, and the bound it starts below, if any.
    std::string relative = target.toStdString();
    relative = relative.substr(relative.find("streams/") == std::string::npos ? 0 : relative.find("streams/"));
    const std::string path = relative.substr(0, relative.find('?'));
    const QUrlQuery query(QUrl(text(relative)).query());
    QUrlQuery pageQuery(query);
    pageQuery.removeQueryItem(QStringLiteral("max"));
    const std::size_t logged = m_service->requests().size();
    const int remaining = m_service->rateLimiter().limit();

    try {
        const std::vector<int> ids = m_service->streamMessageIds(target.toStdString(), user.toStdString());
        QVERIFY2(error.isEmpty(), "no refusal");
        QCOMPARE(int(m_service->requests().size()), int(logged));
        const std::vector<int> firstFive = m_service->streamMessageIds(target.toStdString(), user.toStdString(), 5);
        QCOMPARE(firstFive, std::vector<int>(ids.begin(), ids.begin() + std::min<std::size_t>(5, ids.size())));

        const QRegularExpression isoTime("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ$");
        std::string previousTime = "9";
        std::vector<int> paged;
        int requests = 0;
        for (;; ++requests) {
            QUrlQuery bounded(pageQuery);
            if (!paged.empty())
                bounded.addQueryItem(QStringLiteral("max"), QString::number(paged.back()));
            else if (query.hasQueryItem(QStringLiteral("max")))
                bounded.addQueryItem(QStringLiteral("max"), query.queryItemValue(QStringLiteral("max")));
            const std::string page = path + (bounded.isEmpty() ? std::string() : "?" + bounded.query().toStdString());
            const auto reply = get(api(page, token));
            QCOMPARE(reply->status, 200);
            if (requests == 0)
                QCOMPARE(remainingOf(reply), remaining - 1);
            const json messages = bodyOf(reply).at("messages");
            QCOMPARE(int(messages.size()), std::min(30, int(ids.size() - paged.size())));
            if (messages.empty())
                break;
            for (const json& message : messages) {
                const std::string created = message.at("created_at").get<std::string>();
                QVERIFY2(isoTime.match(text(created)).hasMatch() && created <= previousTime, created.c_str());
                previousTime = created;
                paged.push_back(message.at("id").get<int>());
            }
        }
        QVERIFY(!ids.empty());
        if (spansPages)
            QVERIFY2(requests > 1, "no page size");
        QCOMPARE(ids, paged);
        if (symbolId) {
            std::vector<int> about; // read message by message from the store
            for (int id = m_service->store().newestMessageId(); id > 0; --id) {
                const auto message = m_service->store().message(id);
                if (message && std::count(message->symbolIds.begin(), message->symbolIds.end(), symbolId))
                    about.push_back(id);
            }
            QCOMPARE(ids, about);
        }
    } catch (const std::invalid_argument& refusal) {
        QVERIFY2(!error.isEmpty(), refusal.what());
        QVERIFY2(QString::fromUtf8(refusal.what()).startsWith(error), refusal.what());
        QCOMPARE(int(m_service->requests().size()), int(logged));
        // Where HTTP reaches the same target, it is refused the same way.
        if (relative.rfind("streams/", 0) == 0 && user != "mallory")
            QCOMPARE(text(errorOf(bodyOf(get(api(relative, token))))), error);
    }
}

QTEST_MAIN(tst_Emulator)
#include "tst_emulator.moc"
