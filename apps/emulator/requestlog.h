#pragma once

#include <deque>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace Emulator {

using NameValueList = std::vector<std::pair<std::string, std::string>>;

// One request as the service received it, with the status it answered.
struct RecordedRequest
{
    std::string method;
    std::string path;           // decoded, without the query
    std::string target;         // as sent: path and query, still encoded
    NameValueList query;        // decoded items, in the order sent
    NameValueList headers;      // as sent, ordered by name; only the first ones in the log (see headersCut)
    std::string body;           // raw bytes, cut short in the log (see bodyCut)
    std::size_t bodySize = 0;   // the length as received
    bool bodyCut = false;       // whether body holds only the first bytes of it
    bool headersCut = false;    // whether some fields, or the end of the last one kept, were left out
    std::string remoteAddress;
    bool queryMalformed = false;
    int status = 0;             // 0 when the connection was dropped

    bool hasQueryItem(const std::string& name) const;
    std::string queryValue(const std::string& name) const; // first item of that name
    std::string header(const std::string& name) const;     // case-insensitive; empty when absent
};

// The most recent requests the service received, oldest first, until a test clears it: a busy
// or hostile client cannot make it grow without bound.
class RequestLog
{
public:
    // capacity: requests kept; bodyLimit: bytes of a body kept; headerCountLimit and
    // headerBytesLimit: fields of a request kept, and their bytes (names and values) in all.
    RequestLog(std::size_t capacity, std::size_t bodyLimit, std::size_t headerCountLimit,
               std::size_t headerBytesLimit);

    void append(RecordedRequest request);
    std::vector<RecordedRequest> all() const;
    std::size_t size() const;
    void clear();

private:
    std::size_t m_capacity;
    std::size_t m_bodyLimit;
    std::size_t m_headerCountLimit;
    std::size_t m_headerBytesLimit;
    mutable std::mutex m_mutex;
    std::deque<RecordedRequest> m_requests;
};

} // namespace Emulator
