#pragma once

#include <cstddef>
#include <string>
#include <vector>

// What one service instance needs to know: where it listens, where its data lives, and the
// public addresses it tells clients about. Read from a "key = value" file, then from
// command-line options of the same names ("--port 18081").
struct ServiceConfig {
    std::string listen = "127.0.0.1";
    int port = 18080;
    std::string dataDir = "service-data";
    // Where members, sessions and rooms live: empty for the SQLite file in the data folder, or
    // a PostgreSQL database that several instances share ("postgresql://user@host/db").
    std::string database;
    std::string rtmpUrl = "rtmp://127.0.0.1:11935/live";  // told to the broadcaster as "pipUrl"
    std::string rtmpApp = "live";                          // the only application publishes go to
    std::string webUrl = "http://127.0.0.1:18080";         // public address of these pages
    std::string webRoot;     // static files of the pages (style, room script)
    std::string hlsJs;       // hls.min.js, served as /static/hls.min.js
    std::string gamesFile;   // first-start game list, "gid<TAB>gname" per line
    std::string updateDir;   // the update host's files; default DATA/updata
    std::string hlsDir;      // where nginx writes HLS; default DATA/hls
    std::vector<std::string> callbackFrom{"127.0.0.1"};  // addresses nginx calls back from
    size_t maxBody = 64 * 1024;
    int hashIterations = 100000;
    int reconnectGrace = 60;  // seconds a dropped publisher may come back under the same name
    int threads = 32;
    int roomsPerMinute = 30;     // rooms one member may ask for in a minute; 0: no limit
    int liveRoomsPerMember = 0;  // rooms of one member live at once; 0: no limit
    // A second listener, on `listen`, that answers only nginx's publish callbacks with threads of
    // its own, so nothing on the public side can hold them up. -1: none; 0: a free port.
    int callbackPort = -1;
    int callbackThreads = 4;
    // Set when our nginx front (scripts/service.sh) is the only client: every request must carry
    // it in X-Strimo-Front, the client's address is nginx's X-Real-IP, and files are handed to
    // nginx to send (X-Accel-Redirect) instead of being read here.
    std::string frontSecret;

    // Applies one setting; returns an error text, empty on success.
    std::string Set(const std::string& key, const std::string& value);

    // Applies every "key = value" line of `path` ("#" starts a comment); error text or empty.
    std::string LoadFile(const std::string& path);

    // Applies "--key value" pairs from argv[first...]; positional arguments are returned in
    // `rest`. Error text or empty.
    std::string ParseArgs(int argc, char** argv, int first, std::vector<std::string>& rest);

    // Fills the paths left empty from the data folder and the source tree.
    void Complete();

    std::string DatabasePath() const { return dataDir + "/strimo.db"; }
    // What ServiceStore::Open takes.
    std::string Database() const { return database.empty() ? DatabasePath() : database; }
};
