// A form POST the way the program's service client makes it (libcurl, gzip or deflate accepted, the body as
// POST fields), for the stand-in tests.
#pragma once

#include "service/service_standin.h"

#include <curl/curl.h>
#include <nlohmann/json.hpp>

#include <string>

namespace standin_test {

struct HttpReply {
    CURLcode code = CURLE_OK;
    long status = 0;
    std::string body;
};

inline std::size_t writeInto(char* data, std::size_t size, std::size_t count, void* target) {
    static_cast<std::string*>(target)->append(data, size * count);
    return size * count;
}

inline HttpReply post(const std::string& url, const std::string& body) {
    HttpReply reply;
    CURL* curl = curl_easy_init();
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "deflate,gzip");
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply.body);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &writeInto);
    // Only a guard against a hung suite; nothing here measures time.
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 60L);
    reply.code = curl_easy_perform(curl);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply.status);
    curl_easy_cleanup(curl);
    return reply;
}

inline HttpReply get(const std::string& url) {
    HttpReply reply;
    CURL* curl = curl_easy_init();
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply.body);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &writeInto);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 60L);
    reply.code = curl_easy_perform(curl);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply.status);
    curl_easy_cleanup(curl);
    return reply;
}

// Throws when the transfer fails or the body is no JSON, so that a test shows what came instead.
inline nlohmann::json postJson(const std::string& url, const std::string& body) {
    const HttpReply reply = post(url, body);
    if (reply.code != CURLE_OK) throw std::runtime_error(std::string("transfer failed: ") + curl_easy_strerror(reply.code));
    return nlohmann::json::parse(reply.body);
}

}  // namespace standin_test
