#include "sharingfixture.h"

#include "protocolfixture.h"

#include "actions/ventarishareaction.h"

#include <QtTest/QtTest>

using namespace SharingTest;
using Ventari::VentariShareAction;

namespace {

const QByteArray multipartType = "multipart/form-data; boundary=margin";

// The multipart body spelt out part by part, as the service expects to read it.
QByteArray multipart(const QByteArray& token, const QByteArray& text, const QByteArray& replyTo, const QByteArray& jpeg)
{
    QByteArray body = "--margin\r\n"
                      "Content-Disposition: form-data; name=\"action\"\r\n\r\nscript.php\r\n--margin\r\n"
                      "Content-Disposition: form-data; name=\"access_token\"\r\n\r\n" + token + "\r\n--margin\r\n"
                      "Content-Disposition: form-data; name=\"body\"\r\n\r\n" + text + "\r\n--margin\r\n";
    if (!replyTo.isNull())
        body += "Content-Disposition: form-data; name=\"in_reply_to_message_id\"\r\n\r\n" + replyTo + "\r\n--margin\r\n";
    return body + "Content-Disposition: form-data; name=\"chart\"; filename=\"chart.jpg\"\r\n"
                  "Content-Type: image/jpeg\r\n\r\n" + jpeg + "\r\n--margin--\r\n.\r\n";
}

} // namespace

// The share action's bodies byte for byte, and its posts as the service receives and keeps them.
class tst_ShareAction : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void formBody_data();
    void formBody();
    void multipartBody_data();
    void multipartBody();
    void postedAndReadBack_data();
    void postedAndReadBack();
};

void tst_ShareAction::init()
{
    ProtocolTest::resetEmulator();
}

void tst_ShareAction::formBody_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("replyTo");
    QTest::addColumn<QByteArray>("body");

    QTest::newRow("worked example") << QStringLiteral("a+b c;d") << -1 << QByteArray("body=a%2Bb%20c%3Bd");
    QTest::newRow("reply to 0") << QStringLiteral("hi") << 0 << QByteArray("body=hi&in_reply_to_message_id=0");
    QTest::newRow("reply to 42") << QStringLiteral("@alice yes") << 42
                                 << QByteArray("body=@alice%20yes&in_reply_to_message_id=42");
    QTest::newRow("non-ASCII") << QString::fromUtf8("\xC3\xBC" "ber \xE6\xA0\xAA") << -1
                               << QByteArray("body=%C3%BCber%20%E6%A0%AA");
    QTest::newRow("percent signs are text") << QStringLiteral("50%25 off, %41") << -1
                                            << QByteArray("body=50%2525%20off,%20%2541");
    QTest::newRow("delimiters") << QStringLiteral("a&b=c#d") << -1 << QByteArray("body=a%26b%3Dc%23d");
    QTest::newRow("line break") << QStringLiteral("one\ntwo") << -1 << QByteArray("body=one%0Atwo");
    QTest::newRow("empty") << QString() << -1 << QByteArray("body=");
}

void tst_ShareAction::formBody()
{
    QFETCH(QString, text);
    QFETCH(int, replyTo);
    QFETCH(QByteArray, body);

    TestHost host;
    VentariShareAction action(text, QImage(), replyTo);
    action.setAccessToken("t0k");
    QCOMPARE(action.postData(), body);
    // The token travels in the address only, and the body is built once.
    action.setAccessToken("n3w");
    QCOMPARE(action.postData(), body);
    const QNetworkRequest request = action.createRequest();
    QCOMPARE(request.rawHeaderList(), QList<QByteArray>{"Content-Type"});
    QCOMPARE(request.rawHeader("Content-Type"), QByteArray("application/x-www-form-urlencoded"));
    QCOMPARE(request.url(), QUrl(apiUrl(QStringLiteral("messages/create.json?access_token=n3w"))));
}

void tst_ShareAction::multipartBody_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("replyTo");
    QTest::addColumn<QByteArray>("bodyText");
    QTest::addColumn<QByteArray>("replyField");

    QTest::newRow("no reply") << QStringLiteral("a+b c;d") << -1 << QByteArray("a+b c;d") << QByteArray();
    QTest::newRow("reply to 0") << QStringLiteral("hi") << 0 << QByteArray("hi") << QByteArray("0");
    QTest::newRow("non-ASCII, raw") << QString::fromUtf8("Gr\xC3\xBCn \xE2\x9C\x93 50%") << 10003
                                    << QByteArray("Gr\xC3\xBCn \xE2\x9C\x93 50%") << QByteArray("10003");
}

void tst_ShareAction::multipartBody()
{
    QFETCH(QString, text);
    QFETCH(int, replyTo);
    QFETCH(QByteArray, bodyText);
    QFETCH(QByteArray, replyField);

    TestHost host;
    const QImage picture = testPicture();
    VentariShareAction action(text, picture, replyTo);
    action.setAccessToken("t0k");
    const QByteArray expected = multipart("t0k", bodyText, replyField, jpegOf(picture));
    QCOMPARE(action.postData(), expected);

    // A resent request keeps the body, and the token in it, of its first sending.
    action.setAccessToken("n3w");
    QCOMPARE(action.postData(), expected);
    const QNetworkRequest request = action.createRequest();
    QCOMPARE(request.rawHeaderList(), (QList<QByteArray>{"Content-Type", "Content-Length"}));
    QCOMPARE(request.rawHeader("Content-Type"), multipartType);
    QCOMPARE(request.rawHeader("Content-Length"), QByteArray::number(expected.size()));
    QCOMPARE(request.url(), QUrl(apiUrl(QStringLiteral("messages/create.json?access_token=n3w"))));
}

void tst_ShareAction::postedAndReadBack_data()
{
    QTest::addColumn<bool>("withImage");
    QTest::addColumn<int>("replyTo");

    QTest::newRow("form") << false << -1;
    QTest::newRow("form, reply") << false << 10003;
    QTest::newRow("multipart") << true << -1;
    QTest::newRow("multipart, reply") << true << 10004;
}

void tst_ShareAction::postedAndReadBack()
{
    QFETCH(bool, withImage);
    QFETCH(int, replyTo);

    ProtocolTest::StartedHost started(true);
    QVERIFY(started.isStarted());
    ReportRecorder recorder;
    const QString text = QString::fromUtf8("$AAPL a+b c;d \xC3\xBC") + (withImage ? QStringLiteral(" chart") : QString());
    const QImage picture = withImage ? testPicture(120, 80) : QImage();
    auto* action = new VentariShareAction(text, picture, replyTo);
    ProtocolTest::Outcome outcome;
    QVERIFY(outcome.watch(action));
    started.handler()->executeAction(action);
    QVERIFY(outcome.waitForEvents(1));
    QCOMPARE(outcome.events, QStringList{QStringLiteral("a:success")});

    // The service got the bytes the action built.
    const auto requests = ProtocolTest::requestsTo(QStringLiteral("messages/create.json"));
    QCOMPARE(int(requests.size()), 1);
    const QByteArray token = QByteArray::fromStdString(started.token());
    const QByteArray utf8 = text.toUtf8();
    const QByteArray replyField = replyTo == -1 ? QByteArray() : QByteArray::number(replyTo);
    const QByteArray sent = QByteArray::fromStdString(requests.front().body);
    if (withImage)
        QCOMPARE(sent, multipart(token, utf8, replyField, jpegOf(picture)));
    else
        QCOMPARE(sent, "body=$AAPL%20a%2Bb%20c%3Bd%20%C3%BC" + (replyTo == -1 ? QByteArray() : "&in_reply_to_message_id=" + replyField));

    // Alice's stream and the symbol's stream both show it, as posted.
    for (const QString& stream : {QStringLiteral("streams/user/alice.json"), QStringLiteral("streams/symbol/AAPL.json")}) {
        const QJsonObject message = newestMessage(stream);
        QCOMPARE(message.value(QStringLiteral("body")).toString(), text);
        QCOMPARE(message.value(QStringLiteral("user")).toObject().value(QStringLiteral("username")).toString(), QStringLiteral("alice"));
        QCOMPARE(message.value(QStringLiteral("in_reply_to_message_id")).toInt(-1), replyTo);
        const QJsonObject chart = message.value(QStringLiteral("entities")).toObject().value(QStringLiteral("chart")).toObject();
        QCOMPARE(chart.isEmpty(), !withImage);
        if (withImage)
            QCOMPARE(download(chart.value(QStringLiteral("original")).toString()), jpegOf(picture));
    }
    QVERIFY_NO_REPORTS(recorder);
}

QTEST_MAIN(tst_ShareAction)
#include "tst_shareaction.moc"
