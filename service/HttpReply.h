#pragma once

#include <filesystem>
#include <string>

namespace httplib {
struct Response;
}  // namespace httplib

namespace Json {
class Value;
}  // namespace Json

// The ways every route group answers: typed text, pages, JSON, redirects and files.
class HttpReply {
public:
    static constexpr const char* kText = "text/plain; charset=utf-8";
    static constexpr const char* kHtml = "text/html; charset=utf-8";
    static constexpr const char* kJson = "application/json; charset=utf-8";

    static void Plain(httplib::Response& res, const std::string& text, int status = 200);
    static void Html(httplib::Response& res, const std::string& page, int status = 200);

    // The value as compact JSON with raw UTF-8. The status is left as it is, so the HTTP library
    // still answers a range request with part of the body.
    static void Json(httplib::Response& res, const Json::Value& value);

    static void SeeOther(httplib::Response& res, const std::string& location);

    // Streams a regular file as the body, status left as it is (ranges again). False when `path`
    // is not one. With `frontUri`, the web server in front sends the file instead, from its
    // internal location `frontUri` (X-Accel-Redirect), and no thread here waits on the reader.
    static bool File(httplib::Response& res, const std::filesystem::path& path, const std::string& type,
                     const std::string& frontUri = {});

    // The content type the update host and the static files send for a file name.
    static std::string TypeOfFile(const std::string& name);
};
