#include "CurlConnection.h"

#include <cstdlib>

#include "CurlUrl.h"

namespace http {
namespace {

bool IsFollowedRedirect(long status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// The redirect target of the response being received, when it is one we follow.
std::string RedirectTarget(CURL* easy) {
    long status = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    if (!IsFollowedRedirect(status)) return {};
    char* target = nullptr;
    curl_easy_getinfo(easy, CURLINFO_REDIRECT_URL, &target);
    return target != nullptr ? target : std::string();
}

struct SinkCall {
    CURL* easy;
    const CurlConnection::BodySink* sink;
};

size_t ToSink(char* data, size_t size, size_t count, void* user) {
    auto* call = static_cast<SinkCall*>(user);
    long status = 0;
    curl_easy_getinfo(call->easy, CURLINFO_RESPONSE_CODE, &status);
    // The body of a redirect we follow is nobody's content. (Where it leads is known only once
    // the transfer is done; that it leads somewhere, from its header.)
    curl_header* location = nullptr;
    if (IsFollowedRedirect(status) &&
        curl_easy_header(call->easy, "Location", 0, CURLH_HEADER, -1, &location) == CURLHE_OK)
        return size * count;
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

    // Followed by hand rather than by libcurl, which checks the scheme of a redirect only
    // against a fixed list: http -> https -> http would pass it.
    std::string url = std::string(secure ? "https://" : "http://") + host_ + ":" + std::to_string(port_) +
                      (objectName.starts_with('/') ? "" : "/") + EscapeRequestTarget(objectName);
    std::string method = verb;
    std::string content = body;
    for (int redirects = 0;; ++redirects) {
        char errorText[CURL_ERROR_SIZE] = {};
        const Exchange exchange = Perform(url, method, content, list.get(), sink, errorText);
        if (exchange.code != CURLE_OK) {
            reply.error = errorText[0] != '\0' ? errorText : curl_easy_strerror(exchange.code);
            return reply;
        }
        if (exchange.location.empty()) {
            reply.status = exchange.status;
            reply.received = true;
            return reply;
        }
        if (redirects == kMaxRedirects) {
            reply.error = "more than " + std::to_string(kMaxRedirects) + " redirects";
            return reply;
        }
        // A fragment names a place in a page; it is never sent.
        const std::string next = EscapeUrl(exchange.location.substr(0, exchange.location.find('#')));
        if (url.starts_with("https:") && !next.starts_with("https:")) {
            reply.error = "redirect from https to " + next + " refused";
            return reply;
        }
        if ((exchange.status == 303 && method != "HEAD") ||
            ((exchange.status == 301 || exchange.status == 302) && method == "POST")) {
            method = "GET";
            content.clear();
        }
        url = next;
    }
}

CurlConnection::Exchange CurlConnection::Perform(const std::string& url, const std::string& verb,
                                                 const std::string& body, curl_slist* headers,
                                                 const BodySink& sink, char* errorText) {
    CURL* easy = easy_.get();
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
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &ToSink);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &call);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, 60000L);
    // The receive and send time-outs of the platform HTTP stack are per operation (30 s without
    // progress), not a bound on the whole exchange.
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, 30L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    // OpenSSL's own variable, which libcurl leaves unread once it has a built-in bundle.
    if (const char* trusted = std::getenv("SSL_CERT_FILE"); trusted != nullptr && trusted[0] != '\0')
        curl_easy_setopt(easy, CURLOPT_CAINFO, trusted);
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");

    Exchange exchange;
    exchange.code = curl_easy_perform(easy);

    // The handle outlives this call: drop pointers into our stack before returning.
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, nullptr);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, nullptr);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, nullptr);

    if (exchange.code == CURLE_OK) {
        curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &exchange.status);
        exchange.location = RedirectTarget(easy);
    }
    return exchange;
}

}  // namespace http
