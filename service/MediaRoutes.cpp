#include "MediaRoutes.h"

#include <httplib.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "HttpReply.h"

namespace {

constexpr uintmax_t kPlaylistBytes = 256 * 1024;

}  // namespace

MediaRoutes::MediaRoutes(const ServiceConfig& config, ServiceStore& store) : config_(config), store_(store) {}

void MediaRoutes::Register(httplib::Server& server)
{
    server.Get(R"(/hls/room-(\d{1,18})\.m3u8)", [this](const auto& req, auto& res) { HlsPlaylist(req, res); });
    server.Get(R"(/hls/room-(\d{1,18})-(\d{1,18})\.ts)", [this](const auto& req, auto& res) { HlsSegment(req, res); });
}

void MediaRoutes::HlsPlaylist(const httplib::Request& req, httplib::Response& res)
{
    const auto room = store_.FindRoom(std::stoll(req.matches[1].str()));
    std::error_code ec;
    const auto file = std::filesystem::path(config_.hlsDir) / (room ? room->stream + ".m3u8" : "");
    if (!room || room->state != ServiceStore::RoomState::Live || !std::filesystem::is_regular_file(file, ec) ||
        std::filesystem::file_size(file, ec) > kPlaylistBytes) {
        HttpReply::Plain(res, "not found\n", 404);
        return;
    }
    std::ifstream in(file, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string alias = "room-" + std::to_string(room->lid);
    for (size_t pos = 0; (pos = text.find(room->stream, pos)) != std::string::npos; pos += alias.size()) {
        text.replace(pos, room->stream.size(), alias);
    }
    res.set_header("Cache-Control", "no-cache");
    res.set_content(text, "application/vnd.apple.mpegurl");
}

void MediaRoutes::HlsSegment(const httplib::Request& req, httplib::Response& res)
{
    const auto room = store_.FindRoom(std::stoll(req.matches[1].str()));
    const std::string name = room ? room->stream + "-" + req.matches[2].str() + ".ts" : std::string{};
    if (!room || room->state == ServiceStore::RoomState::Issued ||
        !HttpReply::File(res, std::filesystem::path(config_.hlsDir) / name, "video/mp2t",
                         config_.frontSecret.empty() ? std::string{} : "/.internal/hls/" + name)) {
        HttpReply::Plain(res, "not found\n", 404);
        return;
    }
    res.set_header("Cache-Control", "max-age=60");
}
