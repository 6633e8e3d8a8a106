#include "ServiceConfig.h"

#include <charconv>
#include <fstream>
#include <sstream>

#ifndef STRIMO_SERVICE_SOURCE_DIR
#define STRIMO_SERVICE_SOURCE_DIR "."
#endif

namespace {

std::string Trim(const std::string& s)
{
    const size_t first = s.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    return s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1);
}

bool ToInt(const std::string& text, long long low, long long high, long long& out)
{
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc{} && end == text.data() + text.size() && out >= low && out <= high;
}

}  // namespace

std::string ServiceConfig::Set(const std::string& key, const std::string& value)
{
    long long number = 0;
    auto integer = [&](long long low, long long high) {
        return ToInt(value, low, high, number);
    };
    if (key == "listen") listen = value;
    else if (key == "port") { if (!integer(0, 65535)) return "bad port: " + value; port = static_cast<int>(number); }
    else if (key == "data") dataDir = value;
    else if (key == "database") {
        if (!value.empty() && value.rfind("postgresql://", 0) != 0 && value.rfind("postgres://", 0) != 0) {
            return "bad database: " + value + " (a postgresql://… address; leave it out for the data folder's SQLite file)";
        }
        database = value;
    }
    else if (key == "rtmp-url") rtmpUrl = value;
    else if (key == "rtmp-app") rtmpApp = value;
    else if (key == "web-url") webUrl = value;
    else if (key == "web-root") webRoot = value;
    else if (key == "hls-js") hlsJs = value;
    else if (key == "games") gamesFile = value;
    else if (key == "update-dir") updateDir = value;
    else if (key == "hls-dir") hlsDir = value;
    else if (key == "callback-from") {
        callbackFrom.clear();
        std::istringstream list(value);
        std::string item;
        while (std::getline(list, item, ',')) {
            if (!Trim(item).empty()) callbackFrom.push_back(Trim(item));
        }
    }
    else if (key == "max-body") { if (!integer(1024, 1 << 30)) return "bad max-body: " + value; maxBody = static_cast<size_t>(number); }
    else if (key == "hash-iterations") { if (!integer(1000, 10'000'000)) return "bad hash-iterations: " + value; hashIterations = static_cast<int>(number); }
    else if (key == "reconnect-grace") { if (!integer(0, 86400)) return "bad reconnect-grace: " + value; reconnectGrace = static_cast<int>(number); }
    else if (key == "threads") { if (!integer(2, 1024)) return "bad threads: " + value; threads = static_cast<int>(number); }
    else if (key == "callback-port") { if (!integer(-1, 65535)) return "bad callback-port: " + value; callbackPort = static_cast<int>(number); }
    else if (key == "callback-threads") { if (!integer(1, 64)) return "bad callback-threads: " + value; callbackThreads = static_cast<int>(number); }
    else if (key == "rooms-per-minute") { if (!integer(0, 1'000'000)) return "bad rooms-per-minute: " + value; roomsPerMinute = static_cast<int>(number); }
    else if (key == "live-rooms-per-member") { if (!integer(0, 1000)) return "bad live-rooms-per-member: " + value; liveRoomsPerMember = static_cast<int>(number); }
    else if (key == "front-secret") frontSecret = value;
    else return "unknown setting: " + key;
    return {};
}

std::string ServiceConfig::LoadFile(const std::string& path)
{
    std::ifstream in(path);
    if (!in) return "cannot read " + path;
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        line = Trim(line.substr(0, line.find('#')));
        if (line.empty()) continue;
        const size_t eq = line.find('=');
        if (eq == std::string::npos) return path + ":" + std::to_string(number) + ": expected key = value";
        if (auto error = Set(Trim(line.substr(0, eq)), Trim(line.substr(eq + 1))); !error.empty()) {
            return path + ":" + std::to_string(number) + ": " + error;
        }
    }
    return {};
}

std::string ServiceConfig::ParseArgs(int argc, char** argv, int first, std::vector<std::string>& rest)
{
    for (int i = first; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--", 0) != 0) {
            rest.push_back(arg);
            continue;
        }
        if (i + 1 >= argc) return "missing value for " + arg;
        const std::string value = argv[++i];
        if (arg == "--config") {
            if (auto error = LoadFile(value); !error.empty()) return error;
        } else if (auto error = Set(arg.substr(2), value); !error.empty()) {
            return error;
        }
    }
    return {};
}

void ServiceConfig::Complete()
{
    const std::string source = STRIMO_SERVICE_SOURCE_DIR;
    if (webRoot.empty()) webRoot = source + "/web";
    if (hlsJs.empty()) hlsJs = source + "/node_modules/hls.js/dist/hls.min.js";
    if (gamesFile.empty()) gamesFile = source + "/games.tsv";
    if (updateDir.empty()) updateDir = dataDir + "/updata";
    if (hlsDir.empty()) hlsDir = dataDir + "/hls";
    while (webUrl.size() > 1 && webUrl.back() == '/') webUrl.pop_back();
}
