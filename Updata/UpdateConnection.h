#pragma once

#include <memory>
#include <string>

// The updater's connection to its update host: one kept libcurl handle (its connection and
// cookies are reused by every request of the run), bound to the scheme, host and port of the
// server URL. Every request is a GET with an empty body and the single header line
// "Content-Type: application/x-www-form-urlencoded"; an https server URL makes every request a
// verified TLS request. Diagnostics go to standard output, as the windowed program never shows it.
class UpdateConnection {
public:
    ~UpdateConnection();
    UpdateConnection(const UpdateConnection&) = delete;
    UpdateConnection& operator=(const UpdateConnection&) = delete;

    // Sends `path` to the server URL's host and keeps the connection when the request was
    // answered (whatever the answer). Returns 1 when the body passes the check rule (its first
    // byte is "1" or 0x01), else 0.
    static int ConnectAndCheck(const std::string& serverUrl, const std::string& path,
                               std::unique_ptr<UpdateConnection>& connection);

    // Appends the whole body to `text`. 1 when a response arrived (an empty body included), 0 when
    // the request was not sent or not answered, or the server URL is empty.
    int GetText(const std::string& serverUrl, const std::string& path, std::string& text);

    // Streams the body into `localFile` (created anew). 1 only for a complete HTTP 200 answer: an
    // error page is never stored under a file's name. On 0 the file may hold a partial body.
    int GetToFile(const std::string& serverUrl, const std::string& path, const std::string& localFile);

    // The check rule shared by the first and the repeated check.
    static bool PassesCheck(const std::string& body);

private:
    struct Handle;
    explicit UpdateConnection(std::unique_ptr<Handle> handle);

    std::unique_ptr<Handle> handle_;
};
