#pragma once

#include <httplib.h>

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "TestHttpServer.h"

namespace testsupport {

// A real HTTP server on a free loopback port that plays the update host: answers GET paths from
// a table, records every path asked for, and can cut a body off half way.
class UpdateHost {
public:
    struct Answer {
        int status = 200;
        std::string body;
        bool cutOff = false;  // announce the full length, send half, drop the connection
        std::string location;  // with a 3xx status: where the answer redirects to
    };

    UpdateHost() {
        host_.Server().Get(".*", [this](const httplib::Request& req, httplib::Response& res) {
            Answer answer;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                requests_.push_back(req.path);
                userAgents_.push_back(req.get_header_value("User-Agent"));
                contentTypes_.push_back(req.get_header_value("Content-Type"));
                const auto it = answers_.find(req.path);
                if (it == answers_.end()) {
                    res.status = 404;
                    res.set_content("<html><body>404 Not Found</body></html>", "text/html");
                    return;
                }
                answer = it->second;
            }
            res.status = answer.status;
            if (!answer.location.empty()) res.set_header("Location", answer.location);
            if (!answer.cutOff) {
                res.set_content(answer.body, "application/octet-stream");
                return;
            }
            const std::string body = answer.body;
            res.set_content_provider(body.size(), "application/octet-stream",
                                     [body](size_t offset, size_t, httplib::DataSink& sink) {
                                         if (offset >= body.size() / 2) return false;  // drop it
                                         sink.write(body.data(), body.size() / 2);
                                         return true;
                                     });
        });
        host_.Start();
    }
    UpdateHost(const UpdateHost&) = delete;
    UpdateHost& operator=(const UpdateHost&) = delete;

    void Stop() { host_.Stop(); }

    void Set(const std::string& path, Answer answer) {
        std::lock_guard<std::mutex> lock(mutex_);
        answers_[path] = std::move(answer);
    }
    void Set(const std::string& path, const std::string& body) { Set(path, Answer{200, body, false, {}}); }
    // `path` answers with a redirect (and a body of its own) to `location`.
    void Redirect(const std::string& path, int status, const std::string& location) {
        Set(path, Answer{status, "<html>moved</html>", false, location});
    }

    std::vector<std::string> Requests() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return requests_;
    }
    std::vector<std::string> UserAgents() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return userAgents_;
    }
    std::vector<std::string> ContentTypes() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return contentTypes_;
    }
    std::string Url() const { return host_.Url(""); }
    int port() const { return host_.Port(); }

private:
    TestHttpServer host_;
    mutable std::mutex mutex_;
    std::map<std::string, Answer> answers_;
    std::vector<std::string> requests_;
    std::vector<std::string> userAgents_;
    std::vector<std::string> contentTypes_;
};

}  // namespace testsupport
