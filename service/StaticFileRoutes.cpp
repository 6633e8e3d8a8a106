#include "StaticFileRoutes.h"

#include <httplib.h>

#include <filesystem>

#include "HttpReply.h"

StaticFileRoutes::StaticFileRoutes(const ServiceConfig& config) : config_(config) {}

void StaticFileRoutes::Register(httplib::Server& server)
{
    // One plain file name: no "/" and no leading ".", so nothing outside the web root is reached.
    server.Get(R"(/static/([A-Za-z0-9_][A-Za-z0-9_.-]{0,63}))", [this](const auto& req, auto& res) { StaticFile(req, res); });
}

void StaticFileRoutes::StaticFile(const httplib::Request& req, httplib::Response& res)
{
    const std::string name = req.matches[1].str();
    const std::filesystem::path file =
        name == "hls.min.js" ? std::filesystem::path(config_.hlsJs) : std::filesystem::path(config_.webRoot) / name;
    if (!HttpReply::File(res, file, HttpReply::TypeOfFile(name))) {
        HttpReply::Plain(res, "not found\n", 404);
        return;
    }
    res.set_header("Cache-Control", "max-age=300");
}
