#include "CurlConnection.h"

namespace http {
namespace {

struct SinkCall {
    CURL* easy;
    const CurlConnection::BodySink* sink;
};

size_t ToSink(char* data, size_t size, size_t count, void* user) {
    auto* call = static_cast<SinkCall*>(user);
    long status = 0;
    curl_easy_getinfo(call->easy, CURLINFO_RESPONSE_CODE, &status);
    return (*call->sink)(data, size * count, status) ? size * count : 0;
}

}  // namespace

std::unique_ptr<CurlConnection> CurlConnection::Open(const CurlSession& session, std::string host, std::uint16_t port) {
    if (host.empty()) return nullptr;
    CurlEasyPtr easy(curl_easy_init());
    if (!easy) return nullptr;
    // An empty cookie file turns the cookie engine on without reading any file.
    curl_easy_setopt(easy.get(), CURLOPT_COOKIEFILE, "");
    curl_easy_setopt(easy.get(), CURLOPT_SHARE, session.Share().get());
    return std::unique_ptr<CurlConnection>(
        new CurlConnection(std::move(easy), session.Share(), session.Agent(), std::move(host), port));
}

CurlConnection::Reply CurlConnection::Send(const std::string& verb, bool secure, const std::string& objectName,
                                           const std::vector<std::string>& headers, const std::string& body) {
    std::string received;
    Reply reply = Send(verb, secure, objectName, headers, body, [&received](const char* data, std::size_t size, long) {
        received.append(data, size);
        return true;
    });
    if (reply.received) reply.body = std::move(received);
    return reply;
}

CurlConnection::Reply CurlConnection::Send(const std::string& verb, bool secure, const std::string& objectName,
                                           const std::vector<std::string>& headers, const std::string& body,
                                           const BodySink& sink) {
    Reply reply;
    CURL* easy = easy_.get();
    const std::string url = std::string(secure ? "https://" : "http://") + host_ + ":" + std::to_string(port_) +
                            (objectName.starts_with('/') ? "" : "/") + objectName;

    CurlSlistPtr list;
    for (const auto& line : headers) {
        curl_slist* grown = curl_slist_append(list.get(), line.c_str());
        if (grown == nullptr) {
            reply.error = "out of memory";
            return reply;
        }
        (void)list.release();
        list.reset(grown);
    }
    // libcurl would otherwise wait for "100 Continue" before sending a large body.
    if (curl_slist* grown = curl_slist_append(list.get(), "Expect:")) {
        (void)list.release();
        list.reset(grown);
    }

    char errorText[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_USERAGENT, agent_.c_str());
    if (verb == "GET" && body.empty()) {
        curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, nullptr);
        curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    } else {
        curl_easy_setopt(easy, CURLOPT_POST, 1L);
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
        curl_easy_setopt(easy, CURLOPT_COPYPOSTFIELDS, body.c_str());
        curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, verb == "POST" ? nullptr : verb.c_str());
    }
    SinkCall call{easy, &sink};
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, list.get());
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &ToSink);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &call);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, 60000L);
    // The receive and send time-outs of the platform HTTP stack are per operation (30 s without
    // progress), not a bound on the whole exchange.
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, 30L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");

    const CURLcode code = curl_easy_perform(easy);

    // The handle outlives this call: drop pointers into our stack before returning.
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, nullptr);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, nullptr);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, nullptr);

    if (code != CURLE_OK) {
        reply.error = errorText[0] != '\0' ? errorText : curl_easy_strerror(code);
        return reply;
    }
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &reply.status);
    reply.received = true;
    return reply;
}

}  // namespace http
