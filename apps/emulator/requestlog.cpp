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

void RequestLog::append(RecordedRequest request)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_requests.push_back(std::move(request));
}

std::vector<RecordedRequest> RequestLog::all() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
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
