#include "HttpReply.h"

#include <httplib.h>
#include <json/json.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <memory>

void HttpReply::Plain(httplib::Response& res, const std::string& text, int status)
{
    res.status = status;
    res.set_content(text, kText);
}

void HttpReply::Html(httplib::Response& res, const std::string& page, int status)
{
    res.status = status;
    res.set_content(page, kHtml);
}

void HttpReply::Json(httplib::Response& res, const Json::Value& value)
{
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    // Raw UTF-8, no "\u" escapes: the broadcaster reads the reply's bytes as text.
    builder["emitUTF8"] = true;
    res.set_content(Json::writeString(builder, value), kJson);
}

void HttpReply::SeeOther(httplib::Response& res, const std::string& location)
{
    res.set_redirect(location, 303);
}

bool HttpReply::File(httplib::Response& res, const std::filesystem::path& path, const std::string& type,
                     const std::string& frontUri)
{
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return false;
    if (!frontUri.empty()) {
        // nginx decodes the address before it looks the file up.
        static constexpr char kHex[] = "0123456789ABCDEF";
        std::string uri;
        for (unsigned char c : frontUri) {
            const bool plain = std::isalnum(c) || c == '/' || c == '.' || c == '-' || c == '_' || c == '~';
            if (plain) {
                uri.push_back(static_cast<char>(c));
            } else {
                uri += {'%', kHex[c >> 4], kHex[c & 15]};
            }
        }
        res.set_header("X-Accel-Redirect", uri);
        res.set_content("", type);
        return true;
    }
    const auto size = std::filesystem::file_size(path, ec);
    if (ec) return false;
    auto in = std::make_shared<std::ifstream>(path, std::ios::binary);
    if (!*in) return false;
    res.set_content_provider(
        static_cast<size_t>(size), type,
        [in](size_t offset, size_t length, httplib::DataSink& sink) {
            char buffer[16384];
            in->seekg(static_cast<std::streamoff>(offset));
            const auto want = static_cast<std::streamsize>(std::min(length, sizeof buffer));
            in->read(buffer, want);
            const auto got = in->gcount();
            if (got <= 0) return false;
            return sink.write(buffer, static_cast<size_t>(got));
        });
    return true;
}

std::string HttpReply::TypeOfFile(const std::string& name)
{
    auto ends = [&](const char* suffix) {
        const std::string s = suffix;
        return name.size() >= s.size() && name.compare(name.size() - s.size(), s.size(), s) == 0;
    };
    if (ends(".xml")) return "text/xml; charset=utf-8";
    if (ends(".txt")) return kText;
    if (ends(".css")) return "text/css; charset=utf-8";
    if (ends(".js")) return "text/javascript; charset=utf-8";
    if (ends(".png")) return "image/png";
    if (ends(".gif")) return "image/gif";
    if (ends(".bmp")) return "image/bmp";
    if (ends(".html")) return kHtml;
    return "application/octet-stream";
}
