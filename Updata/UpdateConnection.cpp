#include "UpdateConnection.h"

#include <curl/curl.h>

#include <cstdio>
#include <optional>

namespace {

struct CurlFree {
    void operator()(CURL* c) const { curl_easy_cleanup(c); }
};
struct CurlUrlFree {
    void operator()(CURLU* u) const { curl_url_cleanup(u); }
};
struct SlistFree {
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};
struct CurlStringFree {
    void operator()(char* s) const { curl_free(s); }
};
using CurlPtr = std::unique_ptr<CURL, CurlFree>;
using SlistPtr = std::unique_ptr<curl_slist, SlistFree>;

constexpr long kConnectTimeoutSeconds = 60;  // the defaults the service has always been given
constexpr long kStallSeconds = 30;

void GlobalInit() {
    static const bool done = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    (void)done;
}

// "scheme://host:port" of the server URL; its path and query play no part in any request.
std::optional<std::string> Origin(const std::string& serverUrl) {
    std::unique_ptr<CURLU, CurlUrlFree> url(curl_url());
    if (!url || curl_url_set(url.get(), CURLUPART_URL, serverUrl.c_str(), 0) != CURLUE_OK) return std::nullopt;
    auto part = [&](CURLUPart which, unsigned flags) -> std::optional<std::string> {
        char* raw = nullptr;
        if (curl_url_get(url.get(), which, &raw, flags) != CURLUE_OK) return std::nullopt;
        std::unique_ptr<char, CurlStringFree> owned(raw);
        return std::string(raw);
    };
    const auto scheme = part(CURLUPART_SCHEME, 0);
    const auto host = part(CURLUPART_HOST, 0);
    const auto port = part(CURLUPART_PORT, CURLU_DEFAULT_PORT);
    if (!scheme || !host || !port || (*scheme != "http" && *scheme != "https")) return std::nullopt;
    return *scheme + "://" + *host + ":" + *port;
}

std::string RequestUrl(const std::string& origin, const std::string& path) {
    return origin + (path.empty() || path.front() != '/' ? "/" : "") + path;
}

struct Sink {
    std::string* text = nullptr;
    std::FILE* file = nullptr;
    CURL* curl = nullptr;
    bool requireOk = false;
    bool failed = false;
};

size_t OnBody(char* data, size_t size, size_t count, void* user) {
    auto* sink = static_cast<Sink*>(user);
    const size_t bytes = size * count;
    if (sink->requireOk) {
        long status = 0;
        curl_easy_getinfo(sink->curl, CURLINFO_RESPONSE_CODE, &status);
        if (status != 200) {
            sink->failed = true;
            return 0;  // stops the transfer: nothing of an error page reaches the file
        }
    }
    if (sink->text != nullptr) sink->text->append(data, bytes);
    if (sink->file != nullptr && std::fwrite(data, 1, bytes, sink->file) != bytes) {
        sink->failed = true;
        return 0;
    }
    return bytes;
}

}  // namespace

struct UpdateConnection::Handle {
    CurlPtr curl;
    SlistPtr headers;
};

UpdateConnection::UpdateConnection(std::unique_ptr<Handle> handle) : handle_(std::move(handle)) {}
UpdateConnection::~UpdateConnection() = default;

bool UpdateConnection::PassesCheck(const std::string& body) {
    return !body.empty() && (body[0] == '1' || body[0] == '\x01');
}

namespace {

// Sends one GET on `curl`; true when a response arrived and the sink took all of it.
bool Send(CURL* curl, curl_slist* headers, const std::string& url, Sink& sink) {
    sink.curl = curl;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
    const CURLcode code = curl_easy_perform(curl);
    if (code == CURLE_COULDNT_CONNECT || code == CURLE_COULDNT_RESOLVE_HOST || code == CURLE_OPERATION_TIMEDOUT)
        std::printf("Error:Connect failed!\n");
    return code == CURLE_OK && !sink.failed;
}

}  // namespace

int UpdateConnection::ConnectAndCheck(const std::string& serverUrl, const std::string& path,
                                      std::unique_ptr<UpdateConnection>& connection) {
    if (serverUrl.empty()) return 0;
    GlobalInit();
    const auto origin = Origin(serverUrl);
    if (!origin) std::printf("Error:WinHttpCrackUrl failed!\n");

    auto handle = std::make_unique<Handle>();
    handle->curl.reset(curl_easy_init());
    if (!handle->curl) {
        std::printf("Error:Open session!\n");
        return 0;
    }
    CURL* curl = handle->curl.get();
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "TEST /1.0");
    curl_easy_setopt(curl, CURLOPT_COOKIEFILE, "");  // cookie engine on for the whole run
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, kStallSeconds);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);  // requests run on the timer thread too
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    handle->headers.reset(curl_slist_append(nullptr, "Content-Type: application/x-www-form-urlencoded"));
    if (!handle->headers) {
        std::printf("Error:AddRequestHeaders failed!\n");
        return 0;
    }
    if (!origin) return 0;

    std::string body;
    Sink sink;
    sink.text = &body;
    if (!Send(curl, handle->headers.get(), RequestUrl(*origin, path), sink)) return 0;
    connection.reset(new UpdateConnection(std::move(handle)));
    return PassesCheck(body) ? 1 : 0;
}

int UpdateConnection::GetText(const std::string& serverUrl, const std::string& path, std::string& text) {
    if (serverUrl.empty()) return 0;
    const auto origin = Origin(serverUrl);
    if (!origin) {
        std::printf("Error:WinHttpCrackUrl failed!\n");
        return 0;
    }
    Sink sink;
    sink.text = &text;
    return Send(handle_->curl.get(), handle_->headers.get(), RequestUrl(*origin, path), sink) ? 1 : 0;
}

int UpdateConnection::GetToFile(const std::string& serverUrl, const std::string& path,
                                const std::string& localFile) {
    if (serverUrl.empty()) return 0;
    struct FileClose {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<std::FILE, FileClose> file(std::fopen(localFile.c_str(), "wb"));
    if (!file) return 0;
    const auto origin = Origin(serverUrl);
    if (!origin) {
        std::printf("Error:WinHttpCrackUrl failed!\n");
        return 0;
    }
    Sink sink;
    sink.file = file.get();
    sink.requireOk = true;
    bool ok = Send(handle_->curl.get(), handle_->headers.get(), RequestUrl(*origin, path), sink);
    if (ok) {
        // An empty body never reaches the write callback: check the status here as well.
        long status = 0;
        curl_easy_getinfo(handle_->curl.get(), CURLINFO_RESPONSE_CODE, &status);
        ok = status == 200;
    }
    const bool closed = std::fclose(file.release()) == 0;
    return ok && closed ? 1 : 0;
}
