// Replies as the service could send them, read by the JSON reader and then by every record decoder
// and by the actions that decode them: a decoder either gives its record or throws FormatException,
// and an action answers once (success, error, or success followed by the error of its result) and
// is deleted.
#include "fuzzsupport.h"

#include "actions/ventarilikeunlikeaction.h"
#include "actions/ventariloadwatchlistsaction.h"
#include "actions/ventariuserinfoaction.h"
#include "common/jsonparser.h"
#include "ventaridecoders.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QPointer>

#include <memory>

using namespace Ventari;

namespace {

template <typename Decode>
void decodeOrRefuse(Decode decode)
{
    try {
        decode();
    } catch (const FormatException& e) {
        FUZZ_CHECK(!e.message.isEmpty());
    }
}

void decodeRecords(const QVariantMap& reply)
{
    decodeOrRefuse([&] {
        const ResponseError e = decodeResponseError(reply);
        FUZZ_CHECK(e.status == reply.value(QStringLiteral("response")).toMap().value(QStringLiteral("status")).toInt());
    });
    decodeOrRefuse([&] {
        const QVariantList list = reply.value(QStringLiteral("messages")).toList();
        const Messages messages = decodeMessages(list);
        FUZZ_CHECK(messages.size() == list.size());
        for (int i = 0; i < list.size(); ++i) {
            const QVariantMap map = list.at(i).toMap();
            FUZZ_CHECK(messages.at(i).id == map.value(QStringLiteral("id")).toInt());
            FUZZ_CHECK(messages.at(i).createdAt.isValid());
        }
    });
    decodeOrRefuse([&] { decodeMessage(reply.value(QStringLiteral("message")).toMap()); });
    decodeOrRefuse([&] {
        const UserInfo user = decodeUserInfo(reply.value(QStringLiteral("user")).toMap());
        // The authorized user survives the trip through the settings.
        FUZZ_CHECK(userInfoFromVariant(userInfoToVariant(user)) == user);
    });
    decodeOrRefuse([&] { decodeSymbolInfo(reply.value(QStringLiteral("symbol")).toMap()); });
    decodeOrRefuse([&] {
        const QVariantList list = reply.value(QStringLiteral("watchlists")).toList();
        FUZZ_CHECK(decodeWatchLists(list).size() == list.size());
    });
}

// Counts what one action says about one reply.
struct Answers
{
    int successes = 0;
    int errors = 0;
    int results = 0;
};

template <typename Action, typename Result>
void answerOnce(const QByteArray& body, Action* action, void (Action::*result)(Result))
{
    QPointer<Action> guard(action);
    Answers answers;
    QObject::connect(action, &VentariAbstractAction::success, [&answers] { ++answers.successes; });
    QObject::connect(action, &VentariAbstractAction::error, [&answers](const ResponseError& e) {
        ++answers.errors;
        FUZZ_CHECK(e.status != 200);
    });
    QObject::connect(action, result, [&answers] { ++answers.results; });

    action->processReply(body);
    FUZZ_CHECK(answers.successes <= 1 && answers.errors <= 1 && answers.results <= 1);
    FUZZ_CHECK(answers.successes + answers.errors >= 1);
    // A result only after success, and never together with an error.
    FUZZ_CHECK(answers.results == 0 || (answers.successes == 1 && answers.errors == 0));
    FUZZ_CHECK(answers.successes == 0 || answers.results == 1 || answers.errors == 1);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    // Only a call without a filter drops delivered events from the queue, which would grow otherwise.
    QCoreApplication::sendPostedEvents();
    FUZZ_CHECK(guard.isNull());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzEnvironment& environment = FuzzEnvironment::instance();
    const QByteArray body(reinterpret_cast<const char*>(data), int(size));

    decodeRecords(Common::JsonParser().parseNoThrow(body).toMap());
    answerOnce(body, new VentariLikeUnlikeAction(VentariLikeUnlikeAction::Like, 1), &VentariLikeUnlikeAction::done);
    answerOnce(body, new VentariUserInfoAction, &VentariUserInfoAction::userInfoReceived);
    answerOnce(body, new VentariLoadWatchListsAction, &VentariLoadWatchListsAction::watchListsReceived);
    environment.checkNoReports();
    return 0;
}
