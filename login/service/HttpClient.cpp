#include "HttpClient.h"

#include <cstdio>
#include <vector>

#include "CHttpConnection.h"
#include "CHttpSession.h"
#include "CHttpUrl.h"

namespace {

constexpr const char* kSessionAgent = "TEST /1.0";

void Diagnose(const char* line) {
    std::fputs(line, stdout);
    std::fflush(stdout);
}

std::string WithoutLineEnd(std::string line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    return line;
}

struct OpenedSession {
    std::unique_ptr<CHttpSession> session;
    std::unique_ptr<CHttpConnection> connection;
};

// A new session and its connection to the URL's host; both null (and said why) on failure.
OpenedSession OpenSessionFor(const CHttpUrl& url) {
    OpenedSession opened;
    opened.session = CHttpSession::Open(kSessionAgent);
    if (!opened.session) {
        Diagnose("Error:Open session!\n");
        return opened;
    }
    opened.connection = CHttpConnection::Open(*opened.session, url.host, url.port);
    if (!opened.connection) {
        Diagnose("Error:Connect failed!\n");
        opened.session.reset();
    }
    return opened;
}

CHttpUrl Crack(const std::string& url) {
    CHttpUrl cracked(url);
    if (!cracked.Cracked()) Diagnose("Error:WinHttpCrackUrl failed!\n");
    return cracked;
}

}  // namespace

std::string ObjectNameOf(const std::string& url) {
    const auto slash = url.rfind('/');
    return slash == std::string::npos ? url : url.substr(slash);
}

std::string ReplyText(const std::string& bytes) {
    const auto nul = bytes.find('\0');
    return nul == std::string::npos ? bytes : bytes.substr(0, nul);
}

std::unique_ptr<CHttpRequest> OpenPostRequest(HttpHandle* connection, const std::string& verb,
                                              const std::string& objectName, int scheme,
                                              const std::string& headerLine, const std::string& body) {
    auto* http = dynamic_cast<CHttpConnection*>(connection);
    if (http == nullptr) {
        Diagnose("Error:OpenRequest failed!\n");
        return nullptr;
    }
    const std::vector<std::string> headers = {WithoutLineEnd(headerLine), "Cache-Control: no-cache",
                                              "User-Agent:test"};
    const auto reply = http->Curl().Send(verb, scheme == CHttpUrl::kSchemeHttps, objectName, headers, body);
    if (!reply.received) {
        std::printf("Error:SendRequest failed: %s\n", reply.error.c_str());
        std::fflush(stdout);
        return nullptr;
    }
    return std::make_unique<CHttpRequest>(reply.status, reply.body);
}

namespace {

struct PostedOnNewSession {
    OpenedSession opened;
    std::unique_ptr<CHttpRequest> request;  // null when nothing was received
};

// A form POST to `url` on a session and connection of its own, which the caller may keep.
PostedOnNewSession PostOnNewSession(const std::string& url, const std::string& body) {
    PostedOnNewSession posted;
    if (url.empty()) return posted;
    const CHttpUrl cracked = Crack(url);
    posted.opened = OpenSessionFor(cracked);
    if (!posted.opened.connection) return posted;
    posted.request = OpenPostRequest(posted.opened.connection.get(), "POST", ObjectNameOf(url), cracked.scheme,
                                     kFormContentType, body);
    return posted;
}

}  // namespace

LoginOutcome PostLogin(const std::string& url, const std::string& body) {
    LoginOutcome outcome;
    auto posted = PostOnNewSession(url, body);
    if (!posted.request) return outcome;
    // The verdict is the first byte of the whole reply, however long the reply is.
    const std::string& reply = posted.request->Body();
    outcome.accepted = !reply.empty() && (reply[0] == '1' || reply[0] == '\x01');
    outcome.session = std::move(posted.opened.session);
    outcome.connection = std::move(posted.opened.connection);
    return outcome;
}

bool PostForText(std::string& reply, const std::string& url, const std::string& body) {
    const auto posted = PostOnNewSession(url, body);
    if (!posted.request) return false;
    reply += ReplyText(posted.request->Body());
    return true;
}

bool PostOnConnection(std::string& reply, HttpHandle* connection, const std::string& url, const std::string& body) {
    if (url.empty()) return false;
    const CHttpUrl cracked = Crack(url);
    const auto request =
        OpenPostRequest(connection, "POST", ObjectNameOf(url), cracked.scheme, kFormContentType, body);
    if (!request) return false;
    reply += ReplyText(request->Body());
    return true;
}
