#pragma once

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
    NameValueList headers;      // as sent, ordered by name
    std::string body;           // raw bytes
    std::string remoteAddress;
    bool queryMalformed = false;
    int status = 0;             // 0 when the connection was dropped

    bool hasQueryItem(const std::string& name) const;
    std::string queryValue(const std::string& name) const; // first item of that name
    std::string header(const std::string& name) const;     // case-insensitive; empty when absent
};

// Every request the service received, oldest first, until a test clears it.
class RequestLog
{
public:
    void append(RecordedRequest request);
    std::vector<RecordedRequest> all() const;
    std::size_t size() const;
    void clear();

private:
    mutable std::mutex m_mutex;
    std::vector<RecordedRequest> m_requests;
};

} // namespace Emulator
