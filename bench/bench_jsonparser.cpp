// Parses realistic stream replies with the plugin's JSON reader, with QJsonDocument and with
// nlohmann::json, and prints the reader's time relative to QJsonDocument for each reply size.

#include "common/jsonparser.h"
#include "ventaridecoders.h"

#include "timesreporter.h"

#include <QtCore/QJsonDocument>
#include <QtCore/QVariant>

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>


namespace {

using Json = nlohmann::ordered_json; // members in the order the service writes them

const int replySizes[] = {1, 30, 200};

// Builds a stream reply as the service sends it: the envelope, the stream's subject and
// messages with varied bodies, symbols, likes and chart or video entities.
class ReplyGenerator
{
public:
    explicit ReplyGenerator(unsigned seed)
        : m_random(seed)
    {
    }

    QByteArray reply(int messageCount)
    {
        Json messages = Json::array();
        for (int i = 0; i < messageCount; ++i)
            messages.push_back(message(90000000 - i * 37));
        Json reply = {
            {"response", {{"status", 200}}},
            {"cursor", {{"more", true}, {"since", 90000000}, {"max", 90000000 - messageCount * 37}}},
            {"symbol", symbol(0)},
            {"messages", messages},
        };
        const std::string text = reply.dump();
        return QByteArray(text.data(), int(text.size()));
    }

private:
    int pick(int count) { return std::uniform_int_distribution<int>(0, count - 1)(m_random); }

    Json symbol(int index)
    {
        static const char* const symbols[][3] = {
            {"AAPL", "Apple Inc.", "Technology"},       {"EURUSD", "Euro / US Dollar", "Forex"},
            {"GOOG", "Alphabet Inc.", "Technology"},    {"BTC.X", "Bitcoin", "Crypto"},
            {"SPY", "SPDR S&P 500 ETF", "ETF"},         {"TSLA", "Tesla, Inc.", "Consumer Goods"},
            {"NESN.SW", "Nestl\u00e9 S.A.", "Food"},   {"7203.T", "\u30c8\u30e8\u30bf\u81ea\u52d5\u8eca", "Autos"},
        };
        const auto& s = symbols[index % 8];
        return {{"id", 600 + index % 8}, {"symbol", s[0]},   {"title", s[1]},
                {"sector", s[2]},        {"exchange", "NASDAQ"}, {"is_following", index % 3 == 0}};
    }

    Json user(int id)
    {
        static const char* const names[] = {"Jane Trader", "Jos\u00e9 Mart\u00edn", "\u674e\u660e",
                                            "Zo\u00eb M\u00fcller", "Bob", "Ana \u0160imi\u0107"};
        const std::string username = "trader" + std::to_string(id);
        return {{"id", id},
                {"username", username},
                {"name", names[id % 6]},
                {"avatar_url", "https://avatars.example.com/production/" + std::to_string(id) + "/thumb-1371234567.png"},
                {"avatar_url_ssl", "https://avatars.example.com/production/" + std::to_string(id) + "/thumb.png"},
                {"join_date", "2011-0" + std::to_string(1 + id % 9) + "-1" + std::to_string(id % 10)},
                {"official", id % 11 == 0},
                {"identity", "User"},
                {"classification", id % 5 == 0 ? Json::array({"suggested"}) : Json::array()},
                {"followers", 100 + id * 7},
                {"following", 20 + id % 300},
                {"ideas", 1000 + id * 3},
                {"is_following", id % 4 == 0}};
    }

    std::string body()
    {
        static const char* const openings[] = {
            "$AAPL breaking out above resistance, volume confirms",
            "Short $TSLA here, target 180 \u2014 risk/reward looks great",
            "Caf\u00e9 talk: $NESN.SW dividend is safe, \u20ac payout up 4%",
            "\u65e5\u672c\u682a\u306f\u5f37\u3044 $7203.T",
            "Watching \"the level\" on $SPY: 420 or bust",
            "$BTC.X \U0001F680\U0001F680 to the moon?",
            "Earnings tomorrow after close.\nExpecting a beat on revenue, guidance is the key",
            "Is $EURUSD going to parity again? ECB says no, charts say maybe",
        };
        std::string text = openings[pick(8)];
        const int extra = pick(4);
        for (int i = 0; i < extra; ++i)
            text += i % 2 ? " Stop below the 50-day, adding on dips." : " http://stks.co/a1B2c3 #trading";
        return text;
    }

    Json message(int id)
    {
        Json symbols = Json::array();
        const int symbolCount = 1 + pick(3);
        for (int i = 0; i < symbolCount; ++i)
            symbols.push_back(symbol(pick(8)));

        const int total = pick(5) == 0 ? 0 : pick(12);
        Json userIds = Json::array();
        for (int i = 0; i < total; ++i)
            userIds.push_back(100000 + pick(900000));

        const auto two = [this](int from, int count) {
            const int value = from + pick(count);
            return (value < 10 ? "0" : "") + std::to_string(value);
        };
        const std::string createdAt =
            "2013-" + two(1, 12) + '-' + two(1, 28) + 'T' + two(0, 24) + ':' + two(0, 60) + ':' + two(0, 60) + 'Z';

        Json message = {
            {"id", id},
            {"body", body()},
            {"created_at", createdAt},
            {"user", user(1000 + pick(5000))},
            {"source", {{"id", 1}, {"title", "Ventari"}, {"url", "http://ventari.example.com"}}},
            {"symbols", symbols},
            {"likes", {{"total", total}, {"user_ids", userIds}}},
            {"conversation", {{"parent_message_id", id - pick(100)}, {"in_reply_to_message_id", nullptr},
                              {"parent", pick(2) == 0}, {"replies", pick(20)}}},
            {"mentioned_users", Json::array()},
        };
        const int entity = pick(4);
        if (entity == 0)
            message["entities"] = {{"chart", {{"thumb", "https://charts.example.com/production/small_" + std::to_string(id) + ".png"},
                                              {"large", "https://charts.example.com/production/large_" + std::to_string(id) + ".png"},
                                              {"original", "https://charts.example.com/production/original_" + std::to_string(id) + ".png"},
                                              {"url", "http://stks.co/c" + std::to_string(id)}}}};
        else if (entity == 1)
            message["entities"] = {{"video", {{"thumb", "https://i.ytimg.example.com/vi/xYz" + std::to_string(id) + "/0.jpg"},
                                              {"duration", "3:" + std::to_string(10 + pick(50))},
                                              {"video", "https://video.example.com/embed/xYz" + std::to_string(id)},
                                              {"url", "http://stks.co/v" + std::to_string(id)}}}};
        else if (entity == 2)
            message["entities"] = {{"sentiment", {{"basic", pick(2) ? "Bullish" : "Bearish"}}}};
        return message;
    }

    std::mt19937 m_random;
};

const QByteArray& replyOf(int messageCount)
{
    static const std::map<int, QByteArray> replies = [] {
        std::map<int, QByteArray> result;
        ReplyGenerator generator(20130506);
        for (const int size : replySizes)
            result[size] = generator.reply(size);
        return result;
    }();
    return replies.at(messageCount);
}

void setCounters(benchmark::State& state, const QByteArray& reply)
{
    state.SetBytesProcessed(int64_t(state.iterations()) * reply.size());
    state.counters["bytes"] = reply.size();
}

void parseVentari(benchmark::State& state)
{
    const QByteArray& reply = replyOf(int(state.range(0)));
    const Common::JsonParser parser;
    for (auto _ : state) {
        QVariant value = parser.parse(reply);
        benchmark::DoNotOptimize(value);
    }
    setCounters(state, reply);
}

void parseQJsonDocument(benchmark::State& state)
{
    const QByteArray& reply = replyOf(int(state.range(0)));
    for (auto _ : state) {
        QVariant value = QJsonDocument::fromJson(reply).toVariant();
        benchmark::DoNotOptimize(value);
    }
    setCounters(state, reply);
}

void parseNlohmann(benchmark::State& state)
{
    const QByteArray& reply = replyOf(int(state.range(0)));
    for (auto _ : state) {
        nlohmann::json value = nlohmann::json::parse(reply.cbegin(), reply.cend());
        benchmark::DoNotOptimize(value);
    }
    setCounters(state, reply);
}

// The whole path of a stream reply: reading, then decoding the envelope and the messages.
void parseAndDecodeVentari(benchmark::State& state)
{
    const QByteArray& reply = replyOf(int(state.range(0)));
    const Common::JsonParser parser;
    for (auto _ : state) {
        const QVariantMap map = parser.parseNoThrow(reply).toMap();
        Ventari::ResponseError status = Ventari::decodeResponseError(map);
        Ventari::Messages messages = Ventari::decodeMessages(map.value(QStringLiteral("messages")).toList());
        benchmark::DoNotOptimize(status);
        benchmark::DoNotOptimize(messages);
    }
    setCounters(state, reply);
}

BENCHMARK(parseVentari)->Arg(1)->Arg(30)->Arg(200);
BENCHMARK(parseQJsonDocument)->Arg(1)->Arg(30)->Arg(200);
BENCHMARK(parseNlohmann)->Arg(1)->Arg(30)->Arg(200);
BENCHMARK(parseAndDecodeVentari)->Arg(1)->Arg(30)->Arg(200);

void printRatios(const TimesReporter& times)
{
    for (const int size : replySizes) {
        const std::string arg = "/" + std::to_string(size);
        const double ours = times.seconds("parseVentari" + arg);
        const double qt = times.seconds("parseQJsonDocument" + arg);
        const double nlohmann = times.seconds("parseNlohmann" + arg);
        if (ours < 0 || qt < 0)
            continue;
        std::printf("%3d messages (%6d bytes): ours %8.1f us, QJsonDocument %8.1f us, ratio ours/QJsonDocument %.2f",
                    size, int(replyOf(size).size()), ours * 1e6, qt * 1e6, ours / qt);
        if (nlohmann >= 0)
            std::printf(", nlohmann %8.1f us", nlohmann * 1e6);
        std::printf("\n");
    }
}

// The generated replies must be what the plugin decodes, or the figures mean nothing.
bool checkReplies()
{
    for (const int size : replySizes) {
        try {
            const QVariantMap map = Common::JsonParser().parse(replyOf(size)).toMap();
            const Ventari::Messages messages = Ventari::decodeMessages(map.value(QStringLiteral("messages")).toList());
            if (Ventari::decodeResponseError(map).status != 200 || messages.size() != size) {
                std::fprintf(stderr, "reply of %d messages decodes to %d\n", size, int(messages.size()));
                return false;
            }
        } catch (const Common::JsonParserException& e) {
            std::fprintf(stderr, "reply of %d messages: %s\n", size, e.what());
            return false;
        } catch (const Ventari::FormatException& e) {
            std::fprintf(stderr, "reply of %d messages: %s\n", size, qPrintable(e.message));
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    if (!checkReplies())
        return 1;
    TimesReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    printRatios(reporter);
    benchmark::Shutdown();
    return 0;
}
