#include "emulator/service.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <QtCore/QBuffer>
#include <QtCore/QElapsedTimer>
#include <QtCore/QLocale>
#include <QtCore/QRegularExpression>
#include <QtGui/QImage>
#include <QtNetwork/QNetworkAccessManager>
#include <QtNetwork/QNetworkReply>
#include <QtNetwork/QTcpSocket>
#include <QtTest/QtTest>
#include <QtWebKitWidgets/QWebFrame>
#include <QtWebKitWidgets/QWebPage>

#include <atomic>
#include <memory>
#include <thread>

using Emulator::Fault;
using Emulator::FaultKind;
using Emulator::HeaderDefect;
using json = nlohmann::json;

Q_DECLARE_METATYPE(Emulator::FaultKind)
Q_DECLARE_METATYPE(Emulator::HeaderDefect)

namespace {

const std::int64_t fixedNow = 1700000000; // Tue, 14 Nov 2023 22:13:20 GMT

QString text(const std::string& s)
{
    return QString::fromStdString(s);
}

// The body of a JSON answer, or a discarded value when it is none.
json bodyOf(const httplib::Result& result)
{
    if (!result)
        return json(json::value_t::discarded);
    return json::parse(result->body, nullptr, false);
}

QDateTime parseHttpDate(const QString& date)
{
    QDateTime time = QLocale(QLocale::English, QLocale::UnitedStates)
                         .toDateTime(date, QStringLiteral("ddd, dd MMM yyyy HH:mm:ss 'GMT'"));
    time.setTimeSpec(Qt::UTC);
    return time;
}

QByteArray jpegImage()
{
    QImage image(48, 32, QImage::Format_RGB32);
    image.fill(QColor(30, 90, 160));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG");
    return bytes;
}

// The multipart body as the plugin's share action writes it.
std::string pluginMultipart(const std::string& token, const std::string& body, int replyTo, const QByteArray& jpeg)
{
    std::string out = "--margin\r\n";
    auto field = [&out](const std::string& name, const std::string& value) {
        out += "Content-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value + "\r\n--margin\r\n";
    };
    field("action", "script.php");
    field("access_token", token);
    field("body", body);
    if (replyTo != -1)
        field("in_reply_to_message_id", std::to_string(replyTo));
    out += "Content-Disposition: form-data; name=\"chart\"; filename=\"chart.jpg\"\r\n";
    out += "Content-Type: image/jpeg\r\n\r\n";
    out += jpeg.toStdString();
    out += "\r\n--margin--\r\n.\r\n";
    return out;
}

std::vector<int> idsOf(const json& messages)
{
    std::vector<int> ids;
    for (const json& message : messages)
        ids.push_back(message.at("id").get<int>());
    return ids;
}

} // namespace

// The service emulator over loopback: envelope, limits, tokens, streams, actions, pages and faults.
class tst_Emulator : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void settingsPointAtTheService();
    void bindsLoopbackOnlyAndRefusesATakenPort();
    void headersOnEveryAnswer_data();
    void headersOnEveryAnswer();
    void remainingCountDecreasesPerClient();
    void exhaustedLimitAnswers429();
    void windowRenewsAtReset();
    void tokens_data();
    void tokens();
    void revokeAllEndsEverySession();
    void qtSeesTheAnswersAsThePluginWill();
    void streamPagesWithMax();
    void streamFilters_data();
    void streamFilters();
    void streamSubjects();
    void everyStreamAnswers_data();
    void everyStreamAnswers();
    void likeAndUnlike();
    void followAndUnfollow();
    void watchListsAndUserInfo();
    void shareAsForm();
    void shareRefusals_data();
    void shareRefusals();
    void shareAsMultipart();
    void badMultipart_data();
    void badMultipart();
    void authorizationPage();
    void authorizationPageScript_data();
    void authorizationPageScript();
    void faults_data();
    void faults();
    void faultScope();
    void badRequestsKeepTheServiceRunning();
    void requestLogRecordsEverything();
    void generatorPostsMessages();
    void concurrentClientsAreCountedExactly();
    void restartsAfterStop();

private:
    httplib::Result get(const std::string& target);
    httplib::Result post(const std::string& target, const std::string& body,
                         const std::string& contentType = "application/x-www-form-urlencoded");
    std::string api(const std::string& path, const std::string& token = std::string()) const;

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

httplib::Result tst_Emulator::get(const std::string& target)
{
    return m_client->Get(target.c_str());
}

httplib::Result tst_Emulator::post(const std::string& target, const std::string& body, const std::string& contentType)
{
    return m_client->Post(target.c_str(), body, contentType.c_str());
}

std::string tst_Emulator::api(const std::string& path, const std::string& token) const
{
    std::string target = "/api/2/" + path;
    if (!token.empty())
        target += (target.find('?') == std::string::npos ? "?" : "&") + std::string("access_token=") + token;
    return target;
}

void tst_Emulator::settingsPointAtTheService()
{
    const std::string base = m_service->baseUrl();
    QCOMPARE(text(base), QStringLiteral("http://127.0.0.1:%1/").arg(m_service->port()));
    QVERIFY(m_service->port() != 0);

    const auto settings = m_service->remoteSettings();
    const QStringList keys = {"streamApiUrl", "likeUrl", "unlikeUrl", "friendshipsUrl", "stockshipsUrl",
                              "watchListsUrl", "userInfoUrl", "shareUrl", "authorizationUrl", "OrvaneId",
                              "symbolsLimit", "urlSymbols"};
    QCOMPARE(int(settings.size()), keys.size());
    for (const QString& key : keys)
        QVERIFY2(settings.count(key.toStdString()), qPrintable(key));
    QCOMPARE(text(settings.at("streamApiUrl")), text(base + "api/2/"));
    QCOMPARE(text(settings.at("symbolsLimit")), QStringLiteral("140"));
    QCOMPARE(text(settings.at("urlSymbols")), QStringLiteral("20"));
    QCOMPARE(text(settings.at("OrvaneId")), QStringLiteral("orvane-desktop"));

    // The host fills the templates with QString::arg, so each marker must be there exactly once.
    const QString authorization = text(settings.at("authorizationUrl"));
    QCOMPARE(authorization.count('%'), 1);
    QVERIFY(authorization.startsWith(text(base + "oauth/authorize?client_id=%1&")));
    QVERIFY(authorization.endsWith(text("redirect_uri=" + base + "oauth/done")));
    for (const char* key : {"friendshipsUrl", "stockshipsUrl"}) {
        const QString address = text(settings.at(key));
        QCOMPARE(address.count('%'), 2);
        const std::string filled = address.arg("create").arg(4).toStdString();
        QVERIFY(filled.rfind(base, 0) == 0);
    }

    // Every address answers once filled in, as the plugin would fill it.
    const std::string token = m_service->issueToken("alice");
    auto targetOf = [&](const std::string& url) { return url.substr(base.size() - 1); };
    auto result = get(targetOf(text(settings.at("authorizationUrl")).arg("orvane-desktop").toStdString()));
    QVERIFY(result);
    QCOMPARE(result->status, 200);
    result = get(targetOf(settings.at("streamApiUrl") + "streams/symbol/AAPL.json?access_token=" + token));
    QCOMPARE(result->status, 200);
    result = get(targetOf(settings.at("watchListsUrl") + "?access_token=" + token));
    QCOMPARE(result->status, 200);
    result = get(targetOf(settings.at("userInfoUrl") + "?access_token=" + token));
    QCOMPARE(result->status, 200);
    result = post(targetOf(settings.at("likeUrl") + "?id=10001&access_token=" + token), "");
    QCOMPARE(result->status, 200);
    result = post(targetOf(settings.at("unlikeUrl") + "?id=10001&access_token=" + token), "");
    QCOMPARE(result->status, 200);
    result = post(targetOf(text(settings.at("friendshipsUrl")).arg("create").arg(4).toStdString() +
                           "?access_token=" + token), "");
    QCOMPARE(result->status, 200);
    result = post(targetOf(text(settings.at("stockshipsUrl")).arg("destroy").arg(686).toStdString() +
                           "?access_token=" + token), "");
    QCOMPARE(result->status, 200);
    result = post(targetOf(settings.at("shareUrl") + "?access_token=" + token), "body=hello");
    QCOMPARE(result->status, 200);
}

void tst_Emulator::bindsLoopbackOnlyAndRefusesATakenPort()
{
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.2"), m_service->port());
    QVERIFY(!socket.waitForConnected(2000));

    Emulator::ServiceOptions options;
    options.seedData = false;
    Emulator::Service second(options);
    QVERIFY(!second.start(m_service->port()));
    QVERIFY(!second.isRunning());
    QVERIFY(second.start());
    QVERIFY(second.port() != m_service->port());
}

void tst_Emulator::headersOnEveryAnswer_data()
{
    QTest::addColumn<QString>("method");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("contentType");
    QTest::addColumn<bool>("withToken");
    QTest::addColumn<int>("status");

    const QString form = QStringLiteral("application/x-www-form-urlencoded");
    QTest::newRow("stream") << "GET" << "/api/2/streams/trending.json" << QByteArray() << QString() << false << 200;
    QTest::newRow("unknown path") << "GET" << "/api/2/nothing.json" << QByteArray() << QString() << false << 404;
    QTest::newRow("user required") << "GET" << "/api/2/watchlists.json" << QByteArray() << QString() << false
                                   << 401;
    QTest::newRow("wrong method") << "GET" << "/api/2/messages/like.json" << QByteArray() << QString() << true
                                  << 405;
    QTest::newRow("malformed query") << "GET" << "/api/2/streams/trending.json?max=%zz" << QByteArray() << QString()
                                     << false << 400;
    QTest::newRow("bad max") << "GET" << "/api/2/streams/trending.json?max=ten" << QByteArray() << QString() << false
                             << 400;
    QTest::newRow("unknown filter") << "GET" << "/api/2/streams/trending.json?filter=gifs" << QByteArray()
                                    << QString() << false << 400;
    QTest::newRow("unknown symbol") << "GET" << "/api/2/streams/symbol/NOPE.json" << QByteArray() << QString()
                                    << false << 404;
    QTest::newRow("share") << "POST" << "/api/2/messages/create.json" << QByteArray("body=hi") << form << true
                           << 200;
    QTest::newRow("empty share") << "POST" << "/api/2/messages/create.json" << QByteArray("body=") << form << true
                                 << 422;
    QTest::newRow("huge body") << "POST" << "/api/2/messages/create.json" << QByteArray(3 * 1024 * 1024, 'x')
                               << form << true << 413;
    QTest::newRow("bad multipart") << "POST" << "/api/2/messages/create.json" << QByteArray("--margin\r\nnothing")
                                   << "multipart/form-data; boundary=margin" << true << 400;
    QTest::newRow("page") << "GET" << "/oauth/done" << QByteArray() << QString() << false << 200;
}

void tst_Emulator::headersOnEveryAnswer()
{
    QFETCH(QString, method);
    QFETCH(QString, target);
    QFETCH(QByteArray, body);
    QFETCH(QString, contentType);
    QFETCH(bool, withToken);
    QFETCH(int, status);

    std::string address = target.toStdString();
    if (withToken)
        address += (target.contains('?') ? "&" : "?") + std::string("access_token=") + m_service->issueToken("bob");
    const auto result = method == "GET" ? get(address) : post(address, body.toStdString(), contentType.toStdString());
    QVERIFY(result);
    QCOMPARE(result->status, status);

    const QString date = text(result->get_header_value("Date"));
    QVERIFY2(QRegularExpression("^(Mon|Tue|Wed|Thu|Fri|Sat|Sun), \\d\\d "
                                "(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) \\d{4} \\d\\d:\\d\\d:\\d\\d GMT$")
                 .match(date)
                 .hasMatch(),
             qPrintable(date));
    const QDateTime serverTime = parseHttpDate(date);
    QVERIFY(serverTime.isValid());
    QVERIFY(qAbs(serverTime.secsTo(QDateTime::currentDateTimeUtc())) < 60);

    bool ok = false;
    const int remaining = text(result->get_header_value("X-RateLimit-Remaining")).toInt(&ok, 10);
    QVERIFY(ok);
    QCOMPARE(remaining, 199);
    const qint64 reset = text(result->get_header_value("X-RateLimit-Reset")).toLongLong(&ok, 10);
    QVERIFY(ok);
    QCOMPARE(reset - serverTime.toSecsSinceEpoch(), qint64(3600));

    if (text(result->get_header_value("Content-Type")).startsWith("application/json")) {
        const json reply = bodyOf(result);
        QVERIFY(!reply.is_discarded());
        QCOMPARE(reply.at("response").at("status").get<int>(), status);
        QCOMPARE(reply.contains("errors"), status != 200);
        if (status != 200)
            QVERIFY(!reply.at("errors").at(0).at("message").get<std::string>().empty());
    } else {
        QVERIFY(text(result->get_header_value("Content-Type")).startsWith("text/html"));
    }
}

void tst_Emulator::remainingCountDecreasesPerClient()
{
    auto remainingOf = [](const httplib::Result& r) { return std::stoi(r->get_header_value("X-RateLimit-Remaining")); };
    const std::string alice = m_service->issueToken("alice");
    QCOMPARE(remainingOf(get(api("streams/trending.json"))), 199);
    QCOMPARE(remainingOf(get(api("streams/trending.json"))), 198);
    // A token has a count of its own, and so has every token.
    QCOMPARE(remainingOf(get(api("streams/trending.json", alice))), 199);
    QCOMPARE(remainingOf(get(api("streams/home.json", alice))), 198);
    QCOMPARE(remainingOf(get(api("streams/home.json", m_service->issueToken("bob")))), 199);
    // Refused requests count too.
    QCOMPARE(get(api("nothing.json"))->status, 404);
    QCOMPARE(remainingOf(get(api("streams/trending.json"))), 196);
}

void tst_Emulator::exhaustedLimitAnswers429()
{
    m_service->setServerTime(fixedNow);
    m_service->setResetTime(fixedNow + 100);
    m_service->setRemaining(2);

    auto first = get(api("streams/trending.json"));
    QCOMPARE(first->status, 200);
    QCOMPARE(first->get_header_value("X-RateLimit-Remaining"), std::string("1"));
    auto second = get(api("streams/trending.json"));
    QCOMPARE(second->status, 200);
    QCOMPARE(second->get_header_value("X-RateLimit-Remaining"), std::string("0"));

    auto refused = get(api("streams/trending.json"));
    QCOMPARE(refused->status, 429);
    QCOMPARE(refused->get_header_value("X-RateLimit-Remaining"), std::string("0"));
    QCOMPARE(refused->get_header_value("X-RateLimit-Reset"), std::to_string(fixedNow + 100));
    QCOMPARE(refused->get_header_value("Date"), std::string("Tue, 14 Nov 2023 22:13:20 GMT"));
    QCOMPARE(parseHttpDate(text(refused->get_header_value("Date"))).secsTo(QDateTime::fromSecsSinceEpoch(fixedNow + 100, Qt::UTC)),
             qint64(100));
    const json reply = bodyOf(refused);
    QCOMPARE(reply.at("response").at("status").get<int>(), 429);
    QCOMPARE(text(reply.at("errors").at(0).at("message").get<std::string>()), QStringLiteral("Rate limit exceeded"));

    // Clients first seen after "for all" start with the same count; one token can be set alone.
    const std::string alice = m_service->issueToken("alice");
    QCOMPARE(get(api("streams/home.json", alice))->get_header_value("X-RateLimit-Remaining"), std::string("1"));
    m_service->setRemainingForToken(alice, 0);
    QCOMPARE(get(api("streams/home.json", alice))->status, 429);
    m_service->setRemainingForAnonymous(5);
    QCOMPARE(get(api("streams/trending.json"))->get_header_value("X-RateLimit-Remaining"), std::string("4"));
    QCOMPARE(get(api("streams/home.json", alice))->status, 429);

    // A reset pinned in the past stays as it is: the test decides when the limit comes back.
    m_service->setResetTime(fixedNow - 30);
    m_service->setRemaining(0);
    auto stale = get(api("streams/trending.json"));
    QCOMPARE(stale->status, 429);
    QCOMPARE(stale->get_header_value("X-RateLimit-Reset"), std::to_string(fixedNow - 30));
}

void tst_Emulator::windowRenewsAtReset()
{
    Emulator::ServiceOptions options;
    options.rateLimit = 3;
    options.rateWindowSeconds = 60;
    options.seedMessageCount = 20;
    Emulator::Service service(options);
    service.setServerTime(fixedNow);
    QVERIFY(service.start());
    httplib::Client client("127.0.0.1", service.port());
    for (int left = 2; left >= 0; --left) {
        auto r = client.Get("/api/2/streams/trending.json");
        QCOMPARE(r->status, 200);
        QCOMPARE(r->get_header_value("X-RateLimit-Remaining"), std::to_string(left));
        QCOMPARE(r->get_header_value("X-RateLimit-Reset"), std::to_string(fixedNow + 60));
    }
    QCOMPARE(client.Get("/api/2/streams/trending.json")->status, 429);
    service.clock().advance(59);
    QCOMPARE(client.Get("/api/2/streams/trending.json")->status, 429);
    service.clock().advance(1);
    auto renewed = client.Get("/api/2/streams/trending.json");
    QCOMPARE(renewed->status, 200);
    QCOMPARE(renewed->get_header_value("X-RateLimit-Remaining"), std::string("2"));
    QCOMPARE(renewed->get_header_value("X-RateLimit-Reset"), std::to_string(fixedNow + 120));
}

void tst_Emulator::tokens_data()
{
    QTest::addColumn<QString>("method");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("token"); // none, valid, revoked, unknown
    QTest::addColumn<int>("status");

    const QStringList open = {"streams/trending.json", "streams/suggested.json", "streams/charts.json",
                              "streams/investor_relations.json", "streams/symbol/AAPL.json",
                              "streams/user/carol.json"};
    for (const QString& path : open) {
        QTest::addRow("%s without token", qPrintable(path)) << "GET" << path << "none" << 200;
        QTest::addRow("%s valid", qPrintable(path)) << "GET" << path << "valid" << 200;
        QTest::addRow("%s revoked", qPrintable(path)) << "GET" << path << "revoked" << 401;
        QTest::addRow("%s unknown", qPrintable(path)) << "GET" << path << "unknown" << 401;
    }
    const QList<QPair<QString, QString>> required = {
        {"GET", "streams/home.json"},          {"GET", "streams/friends.json"},
        {"GET", "streams/mentions.json"},      {"GET", "streams/watchlist/7.json"},
        {"GET", "watchlists.json"},            {"GET", "account/verify.json"},
        {"POST", "messages/like.json?id=10010"}, {"POST", "messages/unlike.json?id=10010"},
        {"POST", "friendships/create/2.json"}, {"POST", "stockships/create/686.json"},
        {"POST", "messages/create.json"}};
    for (const auto& entry : required) {
        const QString& path = entry.second;
        QTest::addRow("%s without token", qPrintable(path)) << entry.first << path << "none" << 401;
        QTest::addRow("%s valid", qPrintable(path)) << entry.first << path << "valid" << 200;
        QTest::addRow("%s revoked", qPrintable(path)) << entry.first << path << "revoked" << 401;
        QTest::addRow("%s unknown", qPrintable(path)) << entry.first << path << "unknown" << 401;
    }
}

void tst_Emulator::tokens()
{
    QFETCH(QString, method);
    QFETCH(QString, path);
    QFETCH(QString, token);
    QFETCH(int, status);

    std::string value;
    if (token == "valid" || token == "revoked")
        value = m_service->issueToken("alice");
    if (token == "revoked")
        QVERIFY(m_service->revokeToken(value));
    if (token == "unknown")
        value = "0123456789abcdef";
    const std::string target = api(path.toStdString(), value);
    const auto result = method == "GET" ? get(target) : post(target, "body=hello");
    QVERIFY(result);
    QCOMPARE(result->status, status);
    const json reply = bodyOf(result);
    QCOMPARE(reply.at("response").at("status").get<int>(), status);
    if (status == 401) {
        const QString message = text(reply.at("errors").at(0).at("message").get<std::string>());
        QCOMPARE(message, token == "none" ? QStringLiteral("Authentication required")
                                          : QStringLiteral("Invalid access token"));
    }
}

void tst_Emulator::revokeAllEndsEverySession()
{
    QVERIFY(m_service->issueToken("nobody").empty());
    const std::string alice = m_service->issueToken("alice");
    const std::string bob = m_service->issueToken("bob");
    QVERIFY(alice != bob);
    QCOMPARE(m_service->tokens().userOf(bob).value_or(-1), 2);
    QCOMPARE(get(api("account/verify.json", alice))->status, 200);
    m_service->revokeAll();
    QCOMPARE(get(api("account/verify.json", alice))->status, 401);
    QCOMPARE(get(api("account/verify.json", bob))->status, 401);
    QVERIFY(!m_service->revokeToken(alice));
    // The page is not a user's: a stale token does not lock a user out of signing in again.
    QCOMPARE(get("/oauth/done?access_token=" + alice)->status, 200);
}

void tst_Emulator::qtSeesTheAnswersAsThePluginWill()
{
    QNetworkAccessManager manager;
    auto fetch = [&manager](const std::string& url) {
        QNetworkReply* reply = manager.get(QNetworkRequest(QUrl(text(url))));
        QSignalSpy finished(reply, &QNetworkReply::finished);
        finished.wait(10000);
        return reply;
    };
    const std::string base = m_service->baseUrl();
    const std::string token = m_service->issueToken("alice");

    QNetworkReply* good = fetch(base + "api/2/watchlists.json?access_token=" + token);
    QCOMPARE(good->error(), QNetworkReply::NoError);
    QCOMPARE(good->rawHeader("X-RateLimit-Remaining"), QByteArray("199"));
    QVERIFY(parseHttpDate(QString::fromUtf8(good->rawHeader("Date"))).isValid());
    QVERIFY(good->readAll().contains("\"watchlists\""));

    m_service->revokeToken(token);
    QNetworkReply* refused = fetch(base + "api/2/watchlists.json?access_token=" + token);
    QCOMPARE(refused->error(), QNetworkReply::AuthenticationRequiredError);

    m_service->setRemaining(0);
    QNetworkReply* limited = fetch(base + "api/2/streams/trending.json");
    QVERIFY(limited->error() != QNetworkReply::NoError);
    QCOMPARE(limited->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 429);
    QCOMPARE(limited->rawHeader("X-RateLimit-Remaining"), QByteArray("0"));
    QVERIFY(!limited->rawHeader("X-RateLimit-Reset").isEmpty());

    m_service->addFault(Fault::droppedConnection().times(1));
    QNetworkReply* dropped = fetch(base + "api/2/streams/trending.json");
    QVERIFY(dropped->error() != QNetworkReply::NoError);
    QVERIFY(dropped->error() != QNetworkReply::AuthenticationRequiredError);
}

void tst_Emulator::streamPagesWithMax()
{
    const auto expected = m_service->store().select(
        [](const Emulator::Message& m) { return std::find(m.symbolIds.begin(), m.symbolIds.end(), 686) != m.symbolIds.end(); },
        Emulator::MessageFilter::None, -1, 100000);
    QVERIFY(expected.size() > 30);

    std::vector<int> seen;
    int max = -1;
    int pages = 0;
    QRegularExpression isoTime("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ$");
    for (;;) {
        const std::string target = "streams/symbol/AAPL.json" + (max == -1 ? std::string() : "?max=" + std::to_string(max));
        const json reply = bodyOf(get(api(target)));
        QCOMPARE(reply.at("response").at("status").get<int>(), 200);
        const json& messages = reply.at("messages");
        if (messages.empty())
            break;
        ++pages;
        QVERIFY(messages.size() <= 30);
        if (pages == 1)
            QCOMPARE(int(messages.size()), 30);
        const std::vector<int> ids = idsOf(messages);
        QString previousTime;
        for (std::size_t i = 0; i < ids.size(); ++i) {
            if (i > 0)
                QVERIFY(ids[i] < ids[i - 1]);
            if (max != -1)
                QVERIFY(ids[i] < max);
            const QString created = text(messages[i].at("created_at").get<std::string>());
            QVERIFY2(isoTime.match(created).hasMatch(), qPrintable(created));
            if (!previousTime.isEmpty())
                QVERIFY(created <= previousTime);
            previousTime = created;
        }
        seen.insert(seen.end(), ids.begin(), ids.end());
        max = ids.back();
        QVERIFY(pages < 100);
    }
    QCOMPARE(seen.size(), expected.size());
    for (std::size_t i = 0; i < seen.size(); ++i)
        QCOMPARE(seen[i], expected[i].id);

    // A bound at the newest id leaves that one out; a bound at zero leaves nothing.
    const int newest = expected.front().id;
    QCOMPARE(bodyOf(get(api("streams/symbol/AAPL.json?max=" + std::to_string(newest)))).at("messages").at(0).at("id").get<int>(),
             expected.at(1).id);
    QVERIFY(bodyOf(get(api("streams/symbol/AAPL.json?max=0"))).at("messages").empty());
}

void tst_Emulator::streamFilters_data()
{
    QTest::addColumn<QString>("filter");
    QTest::newRow("charts") << "charts";
    QTest::newRow("videos") << "videos";
    QTest::newRow("links") << "links";
}

void tst_Emulator::streamFilters()
{
    QFETCH(QString, filter);
    const std::string token = m_service->issueToken("alice");
    const json reply = bodyOf(get(api("streams/home.json?filter=" + filter.toStdString(), token)));
    QCOMPARE(reply.at("response").at("status").get<int>(), 200);
    const json& messages = reply.at("messages");
    QVERIFY(!messages.empty());
    for (const json& message : messages) {
        const json& entities = message.at("entities");
        const std::string body = message.at("body").get<std::string>();
        if (filter == "charts") {
            QVERIFY(entities.contains("chart"));
            for (const char* key : {"thumb", "large", "original"})
                QVERIFY(entities.at("chart").at(key).get<std::string>().rfind(m_service->baseUrl(), 0) == 0);
        } else if (filter == "videos") {
            QVERIFY(entities.contains("video"));
            for (const char* key : {"thumb", "duration", "video", "url"})
                QVERIFY(!entities.at("video").at(key).get<std::string>().empty());
        } else {
            QVERIFY2(body.find("http://") != std::string::npos || body.find("https://") != std::string::npos,
                     body.c_str());
        }
    }
    // Unfiltered pages hold messages of every kind, so the filter did the choosing.
    const json all = bodyOf(get(api("streams/home.json", token))).at("messages");
    QCOMPARE(all.size(), std::size_t(30));
    bool someOther = false;
    for (const json& message : all) {
        const bool matches = filter == "charts"   ? message.at("entities").contains("chart")
                             : filter == "videos" ? message.at("entities").contains("video")
                                                  : message.at("body").get<std::string>().find("http") != std::string::npos;
        someOther = someOther || !matches;
    }
    QVERIFY(someOther);
}

void tst_Emulator::streamSubjects()
{
    const std::string alice = m_service->issueToken("alice");
    const std::string bob = m_service->issueToken("bob");

    json reply = bodyOf(get(api("streams/symbol/AAPL.json", alice)));
    QCOMPARE(reply.at("symbol").at("id").get<int>(), 686);
    QCOMPARE(text(reply.at("symbol").at("symbol").get<std::string>()), QStringLiteral("AAPL"));
    QCOMPARE(text(reply.at("symbol").at("title").get<std::string>()), QStringLiteral("Apple Inc."));
    QCOMPARE(reply.at("symbol").at("is_following").get<bool>(), true);
    QVERIFY(!reply.contains("user"));
    QCOMPARE(bodyOf(get(api("streams/symbol/AAPL.json", bob))).at("symbol").at("is_following").get<bool>(), false);
    QCOMPARE(bodyOf(get(api("streams/symbol/AAPL.json"))).at("symbol").at("is_following").get<bool>(), false);

    // Every kind of service symbol has its stream, and every message there names the symbol.
    for (const char* symbol : {"RY.CA", "TD.CA", "BRK.B", "EURUSD", "GBPJPY", "ES_F", "CL_F", "MSFT", "GOOG"}) {
        reply = bodyOf(get(api(std::string("streams/symbol/") + symbol + ".json")));
        QCOMPARE(reply.at("response").at("status").get<int>(), 200);
        QCOMPARE(reply.at("symbol").at("symbol").get<std::string>(), std::string(symbol));
        QVERIFY(!reply.at("messages").empty());
        for (const json& message : reply.at("messages")) {
            bool named = false;
            for (const json& s : message.at("symbols"))
                named = named || s.at("symbol").get<std::string>() == symbol;
            QVERIFY2(named, symbol);
        }
    }

    reply = bodyOf(get(api("streams/user/bob.json", alice)));
    QCOMPARE(reply.at("user").at("id").get<int>(), 2);
    QCOMPARE(reply.at("user").at("is_following").get<bool>(), true);
    for (const json& message : reply.at("messages"))
        QCOMPARE(message.at("user").at("username").get<std::string>(), std::string("bob"));
    QCOMPARE(bodyOf(get(api("streams/user/dave.json", alice))).at("user").at("is_following").get<bool>(), false);
    reply = bodyOf(get(api("streams/user/zoe.json")));
    QCOMPARE(text(reply.at("user").at("name").get<std::string>()), QString::fromUtf8("Zoë Ødegaard"));

    // Watch-list streams carry the list's symbols only, and only for its owner.
    reply = bodyOf(get(api("streams/watchlist/9.json", alice)));
    QCOMPARE(reply.at("response").at("status").get<int>(), 200);
    QVERIFY(!reply.at("messages").empty());
    for (const json& message : reply.at("messages")) {
        bool energy = false;
        for (const json& s : message.at("symbols"))
            energy = energy || s.at("id").get<int>() == 7413 || s.at("id").get<int>() == 7791;
        QVERIFY(energy);
    }

    const QList<QPair<std::string, std::string>> unknown = {{"streams/symbol/NOSUCH.json", alice},
                                                            {"streams/user/nobody.json", alice},
                                                            {"streams/watchlist/8.json", alice},
                                                            {"streams/watchlist/999.json", alice},
                                                            {"streams/watchlist/abc.json", alice},
                                                            {"streams/nosuch.json", alice}};
    for (const auto& entry : unknown) {
        const auto result = get(api(entry.first, entry.second));
        QCOMPARE(result->status, 404);
        const json error = bodyOf(result);
        QCOMPARE(error.at("response").at("status").get<int>(), 404);
        QVERIFY(!error.at("errors").at(0).at("message").get<std::string>().empty());
    }
}

void tst_Emulator::everyStreamAnswers_data()
{
    QTest::addColumn<QString>("jsonPath");
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("needsUser");
    QTest::newRow("symbol") << "symbol/%1.json" << "MSFT" << false;
    QTest::newRow("user") << "user/%1.json" << "carol" << false;
    QTest::newRow("suggested") << "suggested.json" << "" << false;
    QTest::newRow("trending") << "trending.json" << "" << false;
    QTest::newRow("charts") << "charts.json" << "" << false;
    QTest::newRow("investor-relations") << "investor_relations.json" << "" << false;
    QTest::newRow("home") << "home.json" << "" << true;
    QTest::newRow("friends") << "friends.json" << "" << true;
    QTest::newRow("watchlist") << "watchlist/%1.json" << "7" << true;
    QTest::newRow("mentions") << "mentions.json" << "" << true;
}

void tst_Emulator::everyStreamAnswers()
{
    QFETCH(QString, jsonPath);
    QFETCH(QString, value);
    QFETCH(bool, needsUser);

    const QString path = value.isEmpty() ? jsonPath : jsonPath.arg(value);
    const std::string token = m_service->issueToken("alice");
    const json reply = bodyOf(get(api("streams/" + path.toStdString(), token)));
    QCOMPARE(reply.at("response").at("status").get<int>(), 200);
    const json& messages = reply.at("messages");
    QVERIFY(!messages.empty());
    for (const json& message : messages) {
        // What the plugin's decoder insists on.
        for (const char* key : {"id", "body", "created_at", "user", "likes", "symbols", "entities"})
            QVERIFY2(message.contains(key), key);
        for (const char* key : {"id", "username", "name", "avatar_url", "join_date"})
            QVERIFY2(message.at("user").contains(key), key);
        QCOMPARE(message.at("likes").at("total").get<std::size_t>(), message.at("likes").at("user_ids").size());
    }
    if (path == "charts.json") {
        for (const json& message : messages)
            QVERIFY(message.at("entities").contains("chart"));
    }
    if (path == "mentions.json") {
        for (const json& message : messages)
            QVERIFY(message.at("body").get<std::string>().find("@alice") != std::string::npos);
    }
    if (path == "investor_relations.json") {
        for (const json& message : messages)
            QCOMPARE(message.at("user").at("username").get<std::string>(), std::string("ventari_ir"));
    }
    if (path == "friends.json") {
        for (const json& message : messages) {
            const int author = message.at("user").at("id").get<int>();
            QVERIFY(author == 2 || author == 3);
        }
    }
    QCOMPARE(get(api("streams/" + path.toStdString()))->status, needsUser ? 401 : 200);
}

void tst_Emulator::likeAndUnlike()
{
    const std::string token = m_service->issueToken("alice");
    int id = -1;
    std::size_t before = 0;
    for (int candidate = 10001; candidate < 10300 && id == -1; ++candidate) {
        const auto message = m_service->store().message(candidate);
        if (message && !message->likes.count(1) && !message->likes.empty()) {
            id = candidate;
            before = message->likes.size();
        }
    }
    QVERIFY(id != -1);

    json reply = bodyOf(post(api("messages/like.json?id=" + std::to_string(id), token), ""));
    QCOMPARE(reply.at("response").at("status").get<int>(), 200);
    QCOMPARE(reply.at("message").at("id").get<int>(), id);
    QCOMPARE(reply.at("message").at("likes").at("total").get<std::size_t>(), before + 1);
    const auto ids = reply.at("message").at("likes").at("user_ids").get<std::vector<int>>();
    QVERIFY(std::find(ids.begin(), ids.end(), 1) != ids.end());
    QVERIFY(m_service->store().message(id)->likes.count(1));

    // Liking twice changes nothing more.
    reply = bodyOf(post(api("messages/like.json?id=" + std::to_string(id), token), ""));
    QCOMPARE(reply.at("message").at("likes").at("total").get<std::size_t>(), before + 1);

    reply = bodyOf(post(api("messages/unlike.json?id=" + std::to_string(id), token), ""));
    QCOMPARE(reply.at("message").at("likes").at("total").get<std::size_t>(), before);
    QVERIFY(!m_service->store().message(id)->likes.count(1));

    QCOMPARE(post(api("messages/like.json?id=99999999", token), "")->status, 404);
    QCOMPARE(post(api("messages/like.json", token), "")->status, 400);
    QCOMPARE(post(api("messages/like.json?id=abc", token), "")->status, 400);
    QCOMPARE(get(api("messages/like.json?id=" + std::to_string(id), token))->status, 405);
}

void tst_Emulator::followAndUnfollow()
{
    const std::string token = m_service->issueToken("alice");
    auto following = [&](const std::string& stream, const char* subject) {
        return bodyOf(get(api(stream, token))).at(subject).at("is_following").get<bool>();
    };
    QVERIFY(!following("streams/user/dave.json", "user"));
    json reply = bodyOf(post(api("friendships/create/4.json", token), ""));
    QCOMPARE(reply.at("response").at("status").get<int>(), 200);
    QCOMPARE(reply.at("user").at("id").get<int>(), 4);
    QCOMPARE(reply.at("user").at("is_following").get<bool>(), true);
    QVERIFY(following("streams/user/dave.json", "user"));
    // What dave posts now reaches alice's friends stream, and stops reaching it after unfollowing.
    const std::string dave = m_service->issueToken("dave");
    int posted = bodyOf(post(api("messages/create.json", dave), "body=from%20dave")).at("message").at("id").get<int>();
    QCOMPARE(bodyOf(get(api("streams/friends.json", token))).at("messages").at(0).at("id").get<int>(), posted);
    reply = bodyOf(post(api("friendships/destroy/4.json", token), ""));
    QCOMPARE(reply.at("user").at("is_following").get<bool>(), false);
    QVERIFY(!following("streams/user/dave.json", "user"));
    posted = bodyOf(post(api("messages/create.json", dave), "body=dave%20again")).at("message").at("id").get<int>();
    QVERIFY(bodyOf(get(api("streams/friends.json", token))).at("messages").at(0).at("id").get<int>() < posted - 1);

    QVERIFY(!following("streams/symbol/EURUSD.json", "symbol"));
    reply = bodyOf(post(api("stockships/create/5961.json", token), ""));
    QCOMPARE(reply.at("symbol").at("symbol").get<std::string>(), std::string("EURUSD"));
    QCOMPARE(reply.at("symbol").at("is_following").get<bool>(), true);
    QVERIFY(following("streams/symbol/EURUSD.json", "symbol"));
    QCOMPARE(bodyOf(post(api("stockships/destroy/5961.json", token), "")).at("response").at("status").get<int>(), 200);
    QVERIFY(!following("streams/symbol/EURUSD.json", "symbol"));

    QCOMPARE(post(api("friendships/create/1.json", token), "")->status, 422);
    QCOMPARE(post(api("friendships/create/77.json", token), "")->status, 404);
    QCOMPARE(post(api("stockships/create/77.json", token), "")->status, 404);
    QCOMPARE(post(api("stockships/follow/686.json", token), "")->status, 404);
    QCOMPARE(get(api("stockships/create/686.json", token))->status, 405);
}

void tst_Emulator::watchListsAndUserInfo()
{
    json reply = bodyOf(get(api("watchlists.json", m_service->issueToken("alice"))));
    QCOMPARE(reply.at("response").at("status").get<int>(), 200);
    QCOMPARE(reply.at("watchlists").dump(), json::parse(R"([{"id":7,"name":"Tech"},{"id":9,"name":"Energy"}])").dump());
    reply = bodyOf(get(api("watchlists.json", m_service->issueToken("zoe"))));
    QCOMPARE(text(reply.at("watchlists").at(0).at("name").get<std::string>()), QString::fromUtf8("Währungen"));
    reply = bodyOf(get(api("watchlists.json", m_service->issueToken("dave"))));
    QVERIFY(reply.at("watchlists").is_array());
    QVERIFY(reply.at("watchlists").empty());

    reply = bodyOf(get(api("account/verify.json", m_service->issueToken("carol"))));
    const json& user = reply.at("user");
    QCOMPARE(user.at("id").get<int>(), 3);
    QCOMPARE(user.at("username").get<std::string>(), std::string("carol"));
    QCOMPARE(user.at("name").get<std::string>(), std::string("Carol Chen"));
    QCOMPARE(user.at("join_date").get<std::string>(), std::string("2013-01-21"));
    const std::string avatar = user.at("avatar_url").get<std::string>();
    QCOMPARE(avatar, m_service->baseUrl() + "avatars/carol.svg");
    const auto picture = get(avatar.substr(m_service->baseUrl().size() - 1));
    QCOMPARE(picture->status, 200);
    QVERIFY(picture->body.find("<svg") != std::string::npos);
}

void tst_Emulator::shareAsForm()
{
    const std::string token = m_service->issueToken("alice");
    const int newest = m_service->store().newestMessageId();

    // The plugin's worked example: "a+b c;d" with "+" and ";" escaped by hand.
    json reply = bodyOf(post(api("messages/create.json", token), "body=a%2Bb%20c%3Bd"));
    QCOMPARE(reply.at("response").at("status").get<int>(), 200);
    const json& message = reply.at("message");
    QCOMPARE(message.at("body").get<std::string>(), std::string("a+b c;d"));
    QCOMPARE(message.at("id").get<int>(), newest + 1);
    QCOMPARE(message.at("user").at("username").get<std::string>(), std::string("alice"));
    QVERIFY(message.at("entities").empty());
    QVERIFY(!message.contains("in_reply_to_message_id"));
    QCOMPARE(bodyOf(get(api("streams/user/alice.json"))).at("messages").at(0).at("id").get<int>(), newest + 1);

    reply = bodyOf(post(api("messages/create.json", token),
                        "body=%24TD.CA%20%C3%BCber%20%E6%A0%AA%20%24ES_F.&in_reply_to_message_id=10005"));
    QCOMPARE(reply.at("response").at("status").get<int>(), 200);
    QCOMPARE(text(reply.at("message").at("body").get<std::string>()), QString::fromUtf8("$TD.CA über 株 $ES_F."));
    QCOMPARE(reply.at("message").at("in_reply_to_message_id").get<int>(), 10005);
    const json& symbols = reply.at("message").at("symbols");
    QCOMPARE(symbols.size(), std::size_t(2));
    QCOMPARE(symbols.at(0).at("symbol").get<std::string>(), std::string("TD.CA"));
    QCOMPARE(symbols.at(1).at("symbol").get<std::string>(), std::string("ES_F"));
    QCOMPARE(bodyOf(get(api("streams/symbol/ES_F.json"))).at("messages").at(0).at("id").get<int>(), newest + 2);
}

void tst_Emulator::shareRefusals_data()
{
    QTest::addColumn<QByteArray>("form");
    QTest::addColumn<int>("status");
    const QByteArray link = "https://example.com/" + QByteArray(60, 'p');
    QTest::newRow("empty") << QByteArray("body=") << 422;
    QTest::newRow("no body") << QByteArray("in_reply_to_message_id=10003") << 422;
    QTest::newRow("140") << "body=" + QByteArray(140, 'x') << 200;
    QTest::newRow("141") << "body=" + QByteArray(141, 'x') << 422;
    QTest::newRow("140 letters, not bytes") << "body=" + QByteArray("%C3%BC").repeated(140) << 200;
    QTest::newRow("a link counts 20") << "body=" + QByteArray(120, 'x') + link << 200;
    QTest::newRow("a link and 121") << "body=" + QByteArray(121, 'x') + link << 422;
    QTest::newRow("not UTF-8") << QByteArray("body=%FF%FE") << 400;
    QTest::newRow("reply to nothing") << QByteArray("body=hi&in_reply_to_message_id=5") << 404;
    QTest::newRow("reply to text") << QByteArray("body=hi&in_reply_to_message_id=first") << 400;
    QTest::newRow("broken escape") << QByteArray("body=100%") << 400;
}

void tst_Emulator::shareRefusals()
{
    QFETCH(QByteArray, form);
    QFETCH(int, status);
    const int newest = m_service->store().newestMessageId();
    const auto result = post(api("messages/create.json", m_service->issueToken("bob")), form.toStdString());
    QCOMPARE(result->status, status);
    const json reply = bodyOf(result);
    QCOMPARE(reply.at("response").at("status").get<int>(), status);
    QCOMPARE(m_service->store().newestMessageId(), status == 200 ? newest + 1 : newest);
    if (status != 200)
        QVERIFY(!reply.at("errors").at(0).at("message").get<std::string>().empty());
}

void tst_Emulator::shareAsMultipart()
{
    const std::string token = m_service->issueToken("bob");
    const QByteArray jpeg = jpegImage();
    QVERIFY(jpeg.startsWith("\xFF\xD8\xFF"));
    const std::string body = pluginMultipart(token, "Chart of $RY.CA ✓", 10002, jpeg);
    m_service->clearRequests();

    auto result = post(api("messages/create.json", token), body, "multipart/form-data; boundary=margin");
    QCOMPARE(result->status, 200);
    json reply = bodyOf(result);
    const json& message = reply.at("message");
    QCOMPARE(text(message.at("body").get<std::string>()), QString::fromUtf8("Chart of $RY.CA ✓"));
    QCOMPARE(message.at("in_reply_to_message_id").get<int>(), 10002);
    QCOMPARE(message.at("symbols").at(0).at("symbol").get<std::string>(), std::string("RY.CA"));
    const int id = message.at("id").get<int>();

    // The image is kept as sent and served where the chart entity says.
    QCOMPARE(QByteArray::fromStdString(m_service->store().postedImage(id)), jpeg);
    const std::string base = m_service->baseUrl();
    for (const char* size : {"thumb", "large", "original"}) {
        const std::string url = message.at("entities").at("chart").at(size).get<std::string>();
        QCOMPARE(url, base + "charts/" + std::to_string(id) + "/" + size + ".jpg");
        const auto image = get(url.substr(base.size() - 1));
        QCOMPARE(image->status, 200);
        QCOMPARE(image->get_header_value("Content-Type"), std::string("image/jpeg"));
        QCOMPARE(QByteArray::fromStdString(image->body), jpeg);
    }

    const auto logged = m_service->requests();
    QCOMPARE(int(logged.size()), 4);
    QCOMPARE(logged.front().body, body);
    QCOMPARE(logged.front().header("content-type"), std::string("multipart/form-data; boundary=margin"));
    QCOMPARE(logged.front().status, 200);

    // The token may come in the form only; an image alone needs no text.
    result = post(api("messages/create.json"), pluginMultipart(token, "", -1, jpeg),
                  "multipart/form-data; boundary=margin");
    QCOMPARE(result->status, 200);
    reply = bodyOf(result);
    QCOMPARE(reply.at("message").at("user").at("id").get<int>(), 2);
    QVERIFY(!reply.at("message").contains("in_reply_to_message_id"));
    QVERIFY(reply.at("message").at("entities").contains("chart"));
}

void tst_Emulator::badMultipart_data()
{
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("status");
    const QByteArray part = "--margin\r\nContent-Disposition: form-data; name=\"body\"\r\n\r\nhello\r\n";
    QTest::newRow("well formed") << QByteArray("multipart/form-data; boundary=margin") << part + "--margin--\r\n" << 200;
    QTest::newRow("quoted boundary") << QByteArray("multipart/form-data; boundary=\"margin\"") << part + "--margin--" << 200;
    QTest::newRow("no closing boundary") << QByteArray("multipart/form-data; boundary=margin") << part << 400;
    QTest::newRow("no boundary parameter") << QByteArray("multipart/form-data") << part + "--margin--\r\n" << 400;
    QTest::newRow("other boundary") << QByteArray("multipart/form-data; boundary=edge") << part + "--margin--\r\n"
                                    << 400;
    QTest::newRow("part without name")
        << QByteArray("multipart/form-data; boundary=margin")
        << QByteArray("--margin\r\nContent-Disposition: form-data\r\n\r\nhello\r\n--margin--\r\n") << 400;
    QTest::newRow("headers never end") << QByteArray("multipart/form-data; boundary=margin")
                                       << QByteArray("--margin\r\nContent-Disposition: form-data; name=\"body\"")
                                       << 400;
    QTest::newRow("chart is no JPEG")
        << QByteArray("multipart/form-data; boundary=margin")
        << part + "--margin\r\nContent-Disposition: form-data; name=\"chart\"; filename=\"chart.jpg\"\r\n"
                  "Content-Type: image/jpeg\r\n\r\nGIF89a\r\n--margin--\r\n.\r\n"
        << 422;
}

void tst_Emulator::badMultipart()
{
    QFETCH(QByteArray, contentType);
    QFETCH(QByteArray, body);
    QFETCH(int, status);
    const auto result = post(api("messages/create.json", m_service->issueToken("alice")), body.toStdString(),
                             contentType.toStdString());
    QVERIFY(result);
    QCOMPARE(result->status, status);
    QCOMPARE(bodyOf(result).at("response").at("status").get<int>(), status);
}

void tst_Emulator::authorizationPage()
{
    const std::string base = m_service->baseUrl();
    const std::string redirect = base + "oauth/done";
    const std::string query = "client_id=orvane-desktop&response_type=token&redirect_uri=" + redirect;

    auto page = get("/oauth/authorize?" + query);
    QCOMPARE(page->status, 200);
    QVERIFY(page->get_header_value("Content-Type").rfind("text/html", 0) == 0);
    QVERIFY(page->body.find("function approve(username)") != std::string::npos);
    QVERIFY(page->body.find("function deny()") != std::string::npos);
    for (const auto& user : m_service->store().users())
        QVERIFY(page->body.find("<option value=\"" + user.username + "\"") != std::string::npos);

    const std::string form = "client_id=orvane-desktop&response_type=token&redirect_uri=" + redirect;
    auto approved = post("/oauth/authorize", form + "&username=bob&decision=approve");
    QCOMPARE(approved->status, 302);
    const std::string location = approved->get_header_value("Location");
    const std::string prefix = redirect + "#access_token=";
    QVERIFY2(location.rfind(prefix, 0) == 0, location.c_str());
    const std::string token = location.substr(prefix.size());
    QVERIFY(token.size() >= 16);
    QCOMPARE(m_service->tokens().userOf(token).value_or(-1), 2);
    QCOMPARE(bodyOf(get(api("account/verify.json", token))).at("user").at("username").get<std::string>(),
             std::string("bob"));

    // Without script the pressed button speaks.
    approved = post("/oauth/authorize", form + "&username=dave&decision=&choice=approve");
    QCOMPARE(approved->status, 302);
    QCOMPARE(m_service->tokens().userOf(approved->get_header_value("Location").substr(prefix.size())).value_or(-1), 4);

    const std::size_t tokensBefore = m_service->tokens().count();
    auto denied = post("/oauth/authorize", form + "&username=bob&decision=deny");
    QCOMPARE(denied->status, 302);
    QCOMPARE(denied->get_header_value("Location"), redirect + "#error=access_denied");
    QCOMPARE(m_service->tokens().count(), tokensBefore);

    QCOMPARE(post("/oauth/authorize", form + "&username=mallory&decision=approve")->status, 400);
    QCOMPARE(post("/oauth/authorize", form + "&username=bob")->status, 400);
    QCOMPARE(get("/oauth/authorize?client_id=someone&response_type=token&redirect_uri=" + redirect)->status, 400);
    QCOMPARE(get("/oauth/authorize?client_id=orvane-desktop&response_type=code&redirect_uri=" + redirect)->status, 400);
    QCOMPARE(get("/oauth/authorize?client_id=orvane-desktop&response_type=token&redirect_uri=ftp://x")->status, 400);
    QCOMPARE(m_service->tokens().count(), tokensBefore);

    auto done = get("/oauth/done");
    QCOMPARE(done->status, 200);
    QVERIFY(done->body.find("You can close this window.") != std::string::npos);
}

void tst_Emulator::authorizationPageScript_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("fragment"); // what the final address ends with, a token stands for "*"
    QTest::addColumn<int>("user");
    QTest::newRow("approve carol") << "approve('carol')" << "access_token=*" << 3;
    QTest::newRow("approve the selected") << "document.getElementById('username').value = 'zoe'; approve()"
                                          << "access_token=*" << 5;
    QTest::newRow("deny") << "deny()" << "error=access_denied" << -1;
}

void tst_Emulator::authorizationPageScript()
{
    QFETCH(QString, script);
    QFETCH(QString, fragment);
    QFETCH(int, user);

    // The page as the plugin's dialog shows it, driven through its own functions.
    QWebPage page;
    QSignalSpy loaded(&page, &QWebPage::loadFinished);
    QSignalSpy changed(page.mainFrame(), &QWebFrame::urlChanged);
    const QString address = text(m_service->remoteSettings().at("authorizationUrl")).arg("orvane-desktop");
    page.mainFrame()->load(QUrl(address));
    QVERIFY(loaded.wait(10000));
    QVERIFY(loaded.first().first().toBool());
    changed.clear();

    page.mainFrame()->evaluateJavaScript(script);
    QTRY_VERIFY_WITH_TIMEOUT(!changed.isEmpty() && changed.last().first().toUrl().hasFragment(), 10000);
    const QUrl finalUrl = changed.last().first().toUrl();
    QCOMPARE(finalUrl.adjusted(QUrl::RemoveFragment).toString(), text(m_service->baseUrl() + "oauth/done"));
    if (user == -1) {
        QCOMPARE(finalUrl.fragment(), fragment);
        QCOMPARE(m_service->tokens().count(), std::size_t(0));
    } else {
        QVERIFY(finalUrl.fragment().startsWith(fragment.chopped(1)));
        const std::string token = finalUrl.fragment().mid(fragment.size() - 1).toStdString();
        QCOMPARE(m_service->tokens().userOf(token).value_or(-1), user);
    }
}

void tst_Emulator::faults_data()
{
    QTest::addColumn<FaultKind>("kind");
    QTest::addColumn<HeaderDefect>("defect");
    QTest::newRow("latency") << FaultKind::Latency << HeaderDefect::NonNumericRemaining;
    QTest::newRow("error status") << FaultKind::ErrorStatus << HeaderDefect::NonNumericRemaining;
    QTest::newRow("malformed body") << FaultKind::MalformedBody << HeaderDefect::NonNumericRemaining;
    QTest::newRow("missing headers") << FaultKind::MissingRateLimitHeaders << HeaderDefect::NonNumericRemaining;
    QTest::newRow("remaining not a number") << FaultKind::MalformedRateLimitHeader << HeaderDefect::NonNumericRemaining;
    QTest::newRow("reset not a number") << FaultKind::MalformedRateLimitHeader << HeaderDefect::NonNumericReset;
    QTest::newRow("date with offset") << FaultKind::MalformedRateLimitHeader << HeaderDefect::DateWithZoneOffset;
    QTest::newRow("dropped connection") << FaultKind::DroppedConnection << HeaderDefect::NonNumericRemaining;
}

void tst_Emulator::faults()
{
    QFETCH(FaultKind, kind);
    QFETCH(HeaderDefect, defect);

    Fault fault;
    switch (kind) {
    case FaultKind::Latency: fault = Fault::latency(300); break;
    case FaultKind::ErrorStatus: fault = Fault::errorStatus(503, "Service unavailable"); break;
    case FaultKind::MalformedBody: fault = Fault::malformedBody(); break;
    case FaultKind::MissingRateLimitHeaders: fault = Fault::missingRateLimitHeaders(); break;
    case FaultKind::MalformedRateLimitHeader: fault = Fault::malformedRateLimitHeader(defect); break;
    case FaultKind::DroppedConnection: fault = Fault::droppedConnection(); break;
    }
    QVERIFY(m_service->addFault(fault.times(1)) > 0);

    QElapsedTimer timer;
    timer.start();
    const auto result = get(api("streams/trending.json"));
    const qint64 elapsed = timer.elapsed();
    switch (kind) {
    case FaultKind::Latency:
        QCOMPARE(result->status, 200);
        QVERIFY(elapsed >= 300);
        QVERIFY(!bodyOf(result).is_discarded());
        break;
    case FaultKind::ErrorStatus: {
        QCOMPARE(result->status, 503);
        const json reply = bodyOf(result);
        QCOMPARE(reply.at("response").at("status").get<int>(), 503);
        QCOMPARE(reply.at("errors").at(0).at("message").get<std::string>(), std::string("Service unavailable"));
        QVERIFY(result->has_header("X-RateLimit-Remaining"));
        break;
    }
    case FaultKind::MalformedBody:
        QCOMPARE(result->status, 200);
        QVERIFY(!result->body.empty());
        QVERIFY(bodyOf(result).is_discarded());
        break;
    case FaultKind::MissingRateLimitHeaders:
        QCOMPARE(result->status, 200);
        QVERIFY(!result->has_header("X-RateLimit-Remaining"));
        QVERIFY(!result->has_header("X-RateLimit-Reset"));
        QVERIFY(result->has_header("Date"));
        break;
    case FaultKind::MalformedRateLimitHeader: {
        QCOMPARE(result->status, 200);
        bool ok = true;
        if (defect == HeaderDefect::NonNumericRemaining)
            text(result->get_header_value("X-RateLimit-Remaining")).toInt(&ok);
        else if (defect == HeaderDefect::NonNumericReset)
            text(result->get_header_value("X-RateLimit-Reset")).toUInt(&ok);
        else
            ok = parseHttpDate(text(result->get_header_value("Date"))).isValid();
        QVERIFY(!ok);
        QCOMPARE(result->get_header_value_count("Date"), std::size_t(1));
        QVERIFY(result->has_header("X-RateLimit-Remaining") && result->has_header("X-RateLimit-Reset"));
        break;
    }
    case FaultKind::DroppedConnection:
        QVERIFY(!result);
        QCOMPARE(m_service->requests().back().status, 0);
        break;
    }

    // One request's worth: the next answer is whole again.
    QVERIFY(m_service->faults().active().empty());
    const auto next = get(api("streams/trending.json"));
    QCOMPARE(next->status, 200);
    QVERIFY(!bodyOf(next).is_discarded());
    QVERIFY(parseHttpDate(text(next->get_header_value("Date"))).isValid());
    bool ok = false;
    text(next->get_header_value("X-RateLimit-Remaining")).toInt(&ok);
    QVERIFY(ok);
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

    m_service->addFault(Fault::malformedBody());
    m_service->addFault(Fault::missingRateLimitHeaders());
    const auto both = get(api("streams/trending.json"));
    QVERIFY(bodyOf(both).is_discarded());
    QVERIFY(!both->has_header("X-RateLimit-Remaining"));
    m_service->clearFaults();
    QVERIFY(!bodyOf(get(api("streams/trending.json"))).is_discarded());
}

void tst_Emulator::badRequestsKeepTheServiceRunning()
{
    auto stillServing = [this] {
        const auto r = get(api("streams/trending.json"));
        return r && r->status == 200 && !bodyOf(r).is_discarded();
    };
    auto rawExchange = [this](const QByteArray& request) {
        QTcpSocket socket;
        socket.connectToHost(QStringLiteral("127.0.0.1"), m_service->port());
        if (!socket.waitForConnected(5000))
            return QByteArray();
        socket.write(request);
        socket.waitForBytesWritten(5000);
        QByteArray answer;
        while (socket.waitForReadyRead(3000)) {
            answer += socket.readAll();
            if (answer.contains("\r\n\r\n") && answer.contains("}"))
                break;
        }
        return answer;
    };

    QByteArray answer = rawExchange("THIS IS NOT HTTP\r\n\r\n");
    QVERIFY2(answer.startsWith("HTTP/1.1 400"), answer.constData());
    QVERIFY(answer.contains("X-RateLimit-Remaining: "));
    QVERIFY(answer.contains("\"status\":400"));
    QVERIFY(stillServing());

    answer = rawExchange("GET /api/2/streams/trending.json HTTP/1.1\r\nHost: x\r\nContent-Length: nonsense\r\n"
                         "Connection: close\r\n\r\n");
    QVERIFY(answer.startsWith("HTTP/1.1 "));
    QVERIFY(stillServing());

    answer = rawExchange("GET /api/2/streams/trending.json\r\n\r\n");
    QVERIFY2(answer.startsWith("HTTP/1.1 400"), answer.constData());
    QVERIFY(stillServing());

    rawExchange("GET / HTTP/1.1\r\nX-Long: " + QByteArray(100000, 'h') + "\r\n\r\n");
    QVERIFY(stillServing());

    QCOMPARE(get("/" + std::string(6000, 'a'))->status, 404);
    QVERIFY(get("/" + std::string(20000, 'a')));
    QCOMPARE(get(api("streams/trending.json?=&&&max"))->status, 400);
    QCOMPARE(get(api("streams/trending.json?max=%"))->status, 400);
    QCOMPARE(get("/api/2/streams/symbol/%FF%FE.json")->status, 404);
    QCOMPARE(get("/api/2/../../etc/passwd")->status, 404);
    QCOMPARE(m_client->Delete("/api/2/watchlists.json")->status, 405);
    QCOMPARE(m_client->Put("/api/2/nothing", "x", "text/plain")->status, 404);
    QCOMPARE(post(api("messages/create.json", m_service->issueToken("bob")), std::string(3 * 1024 * 1024, 'y'))->status,
             413);
    QVERIFY(stillServing());
    QVERIFY(m_service->isRunning());
}

void tst_Emulator::requestLogRecordsEverything()
{
    m_service->clearRequests();
    QCOMPARE(int(m_service->requests().size()), 0);

    httplib::Headers headers = {{"X-Probe", "yes"}};
    const auto r = m_client->Get("/api/2/streams/symbol/AAPL.json?filter=charts&max=10200&access_token=abc&x=%C3%BC",
                                 headers);
    QCOMPARE(r->status, 401);
    post(api("messages/create.json", m_service->issueToken("alice")), "body=logged%21");

    const auto logged = m_service->requests();
    QCOMPARE(int(logged.size()), 2);
    const Emulator::RecordedRequest& first = logged[0];
    QCOMPARE(first.method, std::string("GET"));
    QCOMPARE(first.path, std::string("/api/2/streams/symbol/AAPL.json"));
    QCOMPARE(first.target, std::string("/api/2/streams/symbol/AAPL.json?filter=charts&max=10200&access_token=abc&x=%C3%BC"));
    const Emulator::NameValueList expected = {{"filter", "charts"}, {"max", "10200"}, {"access_token", "abc"}, {"x", "ü"}};
    QVERIFY(first.query == expected);
    QCOMPARE(first.header("x-probe"), std::string("yes"));
    QCOMPARE(first.status, 401);
    QCOMPARE(first.remoteAddress, std::string("127.0.0.1"));
    QCOMPARE(logged[1].method, std::string("POST"));
    QCOMPARE(logged[1].body, std::string("body=logged%21"));
    QCOMPARE(logged[1].status, 200);

    m_service->clearRequests();
    QVERIFY(m_service->requests().empty());
}

void tst_Emulator::generatorPostsMessages()
{
    const int newest = m_service->store().newestMessageId();
    const int id = m_service->generateMessage();
    QCOMPARE(id, newest + 1);
    const auto message = m_service->store().message(id);
    QVERIFY(message);
    QVERIFY(!message->body.empty());
    QVERIFY(!message->symbolIds.empty());
    QVERIFY(message->createdAt >= m_service->store().message(newest)->createdAt);
    const std::string author = m_service->store().user(message->userId)->username;
    QCOMPARE(bodyOf(get(api("streams/user/" + author + ".json"))).at("messages").at(0).at("id").get<int>(), id);

    // A short period, so the generator's own thread is seen at work and stops promptly.
    Emulator::ServiceOptions options;
    options.seedMessageCount = 5;
    options.generatorPeriodSeconds = 1;
    Emulator::Service service(options);
    QVERIFY(service.start());
    QTRY_VERIFY_WITH_TIMEOUT(service.store().messageCount() >= 6, 5000);
    service.stop();
    QVERIFY(!service.isRunning());
    const std::size_t stopped = service.store().messageCount();

    // Stopping wakes a generator in the middle of a long period instead of waiting it out.
    options.generatorPeriodSeconds = 60;
    Emulator::Service slow(options);
    QVERIFY(slow.start());
    QElapsedTimer timer;
    timer.start();
    slow.stop();
    QVERIFY(timer.elapsed() < 30000);
    QCOMPARE(slow.store().messageCount(), std::size_t(5));
    QCOMPARE(service.store().messageCount(), stopped);
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
                const auto r = client.Get(i % 2 ? "/api/2/streams/trending.json" : "/api/2/streams/charts.json?filter=charts");
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

void tst_Emulator::restartsAfterStop()
{
    const std::uint16_t first = m_service->port();
    m_service->stop();
    QVERIFY(!m_service->isRunning());
    QCOMPARE(m_service->port(), std::uint16_t(0));
    QVERIFY(!get(api("streams/trending.json")));
    QVERIFY(m_service->start(first));
    QCOMPARE(m_service->port(), first);
    QCOMPARE(get(api("streams/trending.json"))->status, 200);
    QVERIFY(!m_service->start());
}

QTEST_MAIN(tst_Emulator)
#include "tst_emulator.moc"
