#include "UpdateConnection.h"

#include <cstdio>
#include <optional>

#include "CurlConnection.h"
#include "CurlSession.h"
#include "CurlUrl.h"

namespace {

const std::vector<std::string> kHeaders = {"Content-Type: application/x-www-form-urlencoded"};

std::string RequestPath(const std::string& path) { return path.starts_with('/') ? path : "/" + path; }

// Only the scheme of the server URL decides anything per request; its path never does.
std::optional<http::CrackedUrl> Crack(const std::string& serverUrl) {
    auto cracked = http::CrackUrl(serverUrl);
    if (!cracked) std::printf("Error:WinHttpCrackUrl failed!\n");
    return cracked;
}

}  // namespace

struct UpdateConnection::Handle {
    std::unique_ptr<http::CurlSession> session;
    std::unique_ptr<http::CurlConnection> connection;
};

UpdateConnection::UpdateConnection(std::unique_ptr<Handle> handle) : handle_(std::move(handle)) {}
UpdateConnection::~UpdateConnection() = default;

bool UpdateConnection::PassesCheck(const std::string& body) {
    return !body.empty() && (body[0] == '1' || body[0] == '\x01');
}

int UpdateConnection::ConnectAndCheck(const std::string& serverUrl, const std::string& path,
                                      std::unique_ptr<UpdateConnection>& connection) {
    if (serverUrl.empty()) return 0;
    const auto url = Crack(serverUrl);
    auto handle = std::make_unique<Handle>();
    handle->session = http::CurlSession::Open("TEST /1.0");
    if (!handle->session) {
        std::printf("Error:Open session!\n");
        return 0;
    }
    if (url) handle->connection = http::CurlConnection::Open(*handle->session, url->host, url->port);
    if (!handle->connection) {
        std::printf("Error:Connect failed!\n");
        return 0;
    }
    const auto reply = handle->connection->Send("GET", url->secure, RequestPath(path), kHeaders, {});
    if (!reply.received) return 0;
    connection.reset(new UpdateConnection(std::move(handle)));
    return PassesCheck(reply.body) ? 1 : 0;
}

int UpdateConnection::GetText(const std::string& serverUrl, const std::string& path, std::string& text) {
    if (serverUrl.empty()) return 0;
    const auto url = Crack(serverUrl);
    if (!url) return 0;
    const auto reply = handle_->connection->Send("GET", url->secure, RequestPath(path), kHeaders, {});
    if (!reply.received) return 0;
    text += reply.body;
    return 1;
}

int UpdateConnection::GetToFile(const std::string& serverUrl, const std::string& path,
                                const std::string& localFile) {
    if (serverUrl.empty()) return 0;
    struct FileClose {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<std::FILE, FileClose> file(std::fopen(localFile.c_str(), "wb"));
    if (!file) return 0;
    const auto url = Crack(serverUrl);
    if (!url) return 0;
    // Only a 200 answer is the file: an error page must never be installed under its name.
    const auto reply = handle_->connection->Send(
        "GET", url->secure, RequestPath(path), kHeaders, {}, [&file](const char* data, std::size_t size, long status) {
            return status == 200 && std::fwrite(data, 1, size, file.get()) == size;
        });
    const bool closed = std::fclose(file.release()) == 0;
    return reply.received && reply.status == 200 && closed ? 1 : 0;
}
