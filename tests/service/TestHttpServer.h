#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include <httplib.h>

// A real HTTP (or HTTPS) server on a free loopback port, answering from its own thread for the
// life of the object. Register handlers on Server() before Start().
class TestHttpServer {
public:
    explicit TestHttpServer(std::unique_ptr<httplib::Server> server = std::make_unique<httplib::Server>())
        : server_(std::move(server)) {}
    ~TestHttpServer() {
        server_->stop();
        if (thread_.joinable()) thread_.join();
    }
    TestHttpServer(const TestHttpServer&) = delete;
    TestHttpServer& operator=(const TestHttpServer&) = delete;

    httplib::Server& Server() { return *server_; }

    // Binds before returning, so connections made afterwards wait in the backlog until the
    // server thread accepts them.
    void Start() {
        port_ = server_->bind_to_any_port("127.0.0.1");
        if (port_ <= 0) throw std::runtime_error("test server: cannot bind");
        thread_ = std::thread([this] { server_->listen_after_bind(); });
    }

    int Port() const { return port_; }
    std::string Url(const std::string& path, const std::string& scheme = "http") const {
        return scheme + "://127.0.0.1:" + std::to_string(port_) + path;
    }

private:
    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
    int port_ = 0;
};
