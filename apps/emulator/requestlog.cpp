#include "requestlog.h"

#include <strings.h>

namespace Emulator {

bool RecordedRequest::hasQueryItem(const std::string& name) const
{
    for (const auto& item : query) {
        if (item.first == name)
            return true;
    }
    return false;
}

std::string RecordedRequest::queryValue(const std::string& name) const
{
    for (const auto& item : query) {
        if (item.first == name)
            return item.second;
    }
    return {};
}

std::string RecordedRequest::header(const std::string& name) const
{
    for (const auto& item : headers) {
        if (strcasecmp(item.first.c_str(), name.c_str()) == 0)
            return item.second;
    }
    return {};
}

RequestLog::RequestLog(std::size_t capacity, std::size_t bodyLimit, std::size_t headerCountLimit,
                       std::size_t headerBytesLimit)
    : m_capacity(capacity)
    , m_bodyLimit(bodyLimit)
    , m_headerCountLimit(headerCountLimit)
    , m_headerBytesLimit(headerBytesLimit)
{
}

void RequestLog::append(RecordedRequest request)
{
    request.bodySize = request.body.size();
    request.bodyCut = request.body.size() > m_bodyLimit;
    if (request.bodyCut) {
        request.body.resize(m_bodyLimit);
        request.body.shrink_to_fit();
    }
    NameValueList& headers = request.headers;
    std::size_t kept = 0;
    std::size_t bytes = 0;
    for (; kept < headers.size() && kept < m_headerCountLimit; ++kept) {
        auto& field = headers[kept];
        const std::size_t room = m_headerBytesLimit - bytes;
        if (field.first.size() + field.second.size() > room) {
            // A field that does not fit keeps its name and what of its value does.
            if (field.first.size() < room) {
                field.second.resize(room - field.first.size());
                ++kept;
            }
            request.headersCut = true;
            break;
        }
        bytes += field.first.size() + field.second.size();
    }
    if (kept < headers.size()) {
        request.headersCut = true;
        headers.resize(kept);
        headers.shrink_to_fit();
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_capacity == 0)
        return;
    if (m_requests.size() == m_capacity)
        m_requests.pop_front();
    m_requests.push_back(std::move(request));
}

std::vector<RecordedRequest> RequestLog::all() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return std::vector<RecordedRequest>(m_requests.begin(), m_requests.end());
}

std::size_t RequestLog::size() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests.size();
}

void RequestLog::clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_requests.clear();
}

} // namespace Emulator
