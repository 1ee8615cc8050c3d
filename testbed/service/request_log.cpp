#include "service/request_log.h"

#include <algorithm>

namespace standin {

void RequestLog::add(RecordedRequest request) {
    std::lock_guard lock(m_mutex);
    m_requests.push_back(std::move(request));
}

std::vector<RecordedRequest> RequestLog::all() const {
    std::lock_guard lock(m_mutex);
    return m_requests;
}

std::size_t RequestLog::count(std::string_view path) const {
    std::lock_guard lock(m_mutex);
    return static_cast<std::size_t>(
        std::count_if(m_requests.begin(), m_requests.end(), [&](const auto& r) { return r.path == path; }));
}

void RequestLog::clear() {
    std::lock_guard lock(m_mutex);
    m_requests.clear();
}

}  // namespace standin
