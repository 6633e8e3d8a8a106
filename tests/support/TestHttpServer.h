#pragma once

#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include <httplib.h>

namespace testsupport {

// A real HTTP (or HTTPS) server on a free loopback port, answering from its own thread until
// Stop or the end of the object. Register handlers on Server() before Start().
class TestHttpServer {
public:
    explicit TestHttpServer(std::unique_ptr<httplib::Server> server = std::make_unique<httplib::Server>())
        : server_(std::move(server)) {}
    ~TestHttpServer() { Stop(); }
    TestHttpServer(const TestHttpServer&) = delete;
    TestHttpServer& operator=(const TestHttpServer&) = delete;

    httplib::Server& Server() { return *server_; }

    // Returns once the server thread accepts connections: a stop() before that would be lost
    // and the thread would listen for ever.
    void Start() {
        port_ = server_->bind_to_any_port("127.0.0.1");
        if (port_ <= 0) throw std::runtime_error("test server: cannot bind");
        thread_ = std::thread([this] { server_->listen_after_bind(); });
        for (int waited = 0; !server_->is_running(); ++waited) {
            if (waited == 10000) throw std::runtime_error("test server: does not listen");
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    // Closes the port; nothing is answered after it returns.
    void Stop() {
        server_->stop();
        if (thread_.joinable()) thread_.join();
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

}  // namespace testsupport
