// What the stand-ins were asked: every request in arrival order, for tests to check afterwards.
#pragma once

#include <cstddef>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace standin {

struct RecordedRequest {
    std::string method;                       // "GET", "POST", ...
    std::string path;                         // the URL path, without query
    std::map<std::string, std::string> form;  // query and URL-encoded form fields (the last of a repeated name)
    std::string body;                         // the request body as sent (a form body before any decoding)
};

// Written by the server's worker threads, read by the test thread: everything under one mutex, copies out.
class RequestLog {
public:
    void add(RecordedRequest request);
    std::vector<RecordedRequest> all() const;
    std::size_t count(std::string_view path) const;  // requests of exactly this path
    void clear();

private:
    mutable std::mutex m_mutex;
    std::vector<RecordedRequest> m_requests;
};

}  // namespace standin
