#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <curl/curl.h>

#include "CurlSession.h"

namespace http {

struct CurlEasyCleanup {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
using CurlEasyPtr = std::unique_ptr<CURL, CurlEasyCleanup>;

struct CurlSlistFree {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using CurlSlistPtr = std::unique_ptr<curl_slist, CurlSlistFree>;

// One kept easy handle bound to a host and port, in a session. Requests on it reuse the TCP
// connection when the server allows and carry the session's cookies. Synchronous; one thread.
class CurlConnection {
public:
    struct Reply {
        bool received = false;  // a complete response arrived, whatever its status
        long status = 0;
        std::string body;
        std::string error;  // libcurl's words when nothing was received
    };

    // Takes the body as it arrives, with the response's status; false stops the transfer.
    using BodySink = std::function<bool(const char* data, std::size_t size, long status)>;

    // Null when the host is empty or no easy handle can be made.
    static std::unique_ptr<CurlConnection> Open(const CurlSession& session, std::string host, std::uint16_t port);

    // Redirects followed per request, as the platform HTTP stack does; one more fails it.
    static constexpr int kMaxRedirects = 10;

    // Sends one request to `objectName` (path and query, starting with "/") on this host and
    // port, over TLS (certificate and host name verified) when `secure`. Bytes a URL cannot carry
    // are percent-encoded (EscapeRequestTarget). `headers` are whole header lines without line
    // ends. Time-outs: connect 60 s; the transfer is abandoned when nothing moves for 30 s.
    // Redirects (301, 302, 303, 307, 308) are followed, at most kMaxRedirects of them and never
    // from https to http; either limit makes the request fail. A POST answered with 301, 302 or
    // 303 goes on as a GET without a body; 307 and 308 keep the verb and the body. The reply is
    // the last response's. SSL_CERT_FILE, when set, names certificates trusted besides the
    // system's.
    Reply Send(const std::string& verb, bool secure, const std::string& objectName,
               const std::vector<std::string>& headers, const std::string& body);

    // The same, streaming the body into `sink` instead of `Reply::body` (the bodies of followed
    // redirects never reach it). A GET with an empty body is sent as a plain GET. `received` is
    // false when the sink stopped the transfer.
    Reply Send(const std::string& verb, bool secure, const std::string& objectName,
               const std::vector<std::string>& headers, const std::string& body, const BodySink& sink);

    const std::string& Host() const { return host_; }
    std::uint16_t Port() const { return port_; }

private:
    struct Exchange {
        CURLcode code = CURLE_OK;
        long status = 0;
        std::string location;  // where a followed redirect leads, absolute; empty otherwise
    };
    // One request and its response, no redirect followed.
    Exchange Perform(const std::string& url, const std::string& verb, const std::string& body,
                     curl_slist* headers, const BodySink& sink, char* errorText);

    CurlConnection(CurlEasyPtr easy, CurlSharePtr share, std::string agent, std::string host, std::uint16_t port)
        : share_(std::move(share)), easy_(std::move(easy)), agent_(std::move(agent)), host_(std::move(host)), port_(port) {}

    CurlSharePtr share_;  // declared first: the easy handle uses it until it is cleaned up
    CurlEasyPtr easy_;
    std::string agent_;
    std::string host_;
    std::uint16_t port_;
};

}  // namespace http
