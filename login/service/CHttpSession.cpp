#include "CHttpSession.h"

#include "CHttpConnection.h"

std::unique_ptr<CHttpSession> CHttpSession::Open(const std::string& agent) {
    auto curl = http::CurlSession::Open(agent);
    if (!curl) return nullptr;
    return std::unique_ptr<CHttpSession>(new CHttpSession(std::move(curl)));
}

std::unique_ptr<CHttpConnection> CHttpConnection::Open(const CHttpSession& session, const std::string& host,
                                                       std::uint16_t port) {
    auto curl = http::CurlConnection::Open(session.Curl(), host, port);
    if (!curl) return nullptr;
    return std::unique_ptr<CHttpConnection>(new CHttpConnection(std::move(curl)));
}
