#include "UpdateHostRoutes.h"

#include <httplib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "HtmlPage.h"
#include "HttpReply.h"
#include "Markup.h"
#include "TextRules.h"
#include "UpdateDescription.h"

UpdateHostRoutes::UpdateHostRoutes(const ServiceConfig& config, MemberSessions& sessions)
    : config_(config), sessions_(sessions)
{
}

void UpdateHostRoutes::Register(httplib::Server& server)
{
    server.Get("/updata/check", [this](const auto& req, auto& res) { UpdateCheck(req, res); });
    server.Get(R"(/updata/(.+))", [this](const auto& req, auto& res) { UpdateFile(req, res); });
    server.Get("/update/", [this](const auto& req, auto& res) { UpdatePage(req, res); });
}

void UpdateHostRoutes::UpdateCheck(const httplib::Request&, httplib::Response& res)
{
    // "1" tells the updater the update host is there and has a description to offer.
    std::error_code ec;
    const bool ready = std::filesystem::is_regular_file(
        std::filesystem::path(config_.updateDir) / UpdateDescription::kFileName, ec);
    res.set_header("Cache-Control", "no-store");
    HttpReply::Plain(res, ready ? "1\n" : "0\n");
}

void UpdateHostRoutes::UpdateFile(const httplib::Request& req, httplib::Response& res)
{
    const std::string path = req.matches[1].str();
    if (!UpdateDescription::IsSafeRelativePath(path) || !Offered(path) ||
        !HttpReply::File(res, std::filesystem::path(config_.updateDir) / path, HttpReply::TypeOfFile(path),
                         config_.frontSecret.empty() ? std::string{} : "/.internal/updata/" + path)) {
        HttpReply::Plain(res, "not found\n", 404);
        return;
    }
    res.set_header("Cache-Control", "no-cache");
}

bool UpdateHostRoutes::Offered(const std::string& path) const
{
    namespace fs = std::filesystem;
    const fs::path folder(config_.updateDir);
    if (path != UpdateDescription::kFileName) {
        std::ifstream in(folder / UpdateDescription::kFileName);
        const std::string description((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const auto listed = UpdateDescription::ListedFiles(description);
        if (std::find(listed.begin(), listed.end(), path) == listed.end()) return false;
    }
    // Whatever links the folder holds, the file itself must be inside it.
    std::error_code ec;
    const fs::path root = fs::canonical(folder, ec);
    if (ec) return false;
    const fs::path file = fs::canonical(folder / path, ec);
    if (ec) return false;
    const auto relative = file.lexically_relative(root);
    return !relative.empty() && *relative.begin() != "..";
}

void UpdateHostRoutes::UpdatePage(const httplib::Request& req, httplib::Response& res)
{
    const std::string userName = sessions_.NameOf(req);
    std::ifstream in(std::filesystem::path(config_.updateDir) / UpdateDescription::kFileName);
    std::string description((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // The description is ours (make-update): its root begins <updata version="N">.
    const std::string mark = "<updata version=\"";
    const size_t at = description.find(mark);
    const size_t end = at == std::string::npos ? at : description.find('"', at + mark.size());
    std::string version = end == std::string::npos ? std::string{} : description.substr(at + mark.size(), end - at - mark.size());
    std::string body;
    if (TextRules::IsId(version)) {
        body += "<p>最新版本：<strong>" + version + "</strong></p>\n";
    } else {
        body += "<p>现在没有可以下载的更新。</p>\n";
    }
    body +=
        "<p>更新的方法：关闭 STRIMO 直播客户端，运行安装目录里的 <code>StrimoUpdata</code>。"
        "它会检查新版本、下载并替换文件，然后重新启动客户端。</p>\n"
        "<p class=\"hint\">更新主机：<code>" + Markup::Escape(config_.webUrl) +
        "</code>，路径 <code>/updata</code>，检查页 <code>check</code>，更新说明 <code>updata.xml</code>。</p>\n";
    HttpReply::Html(res, HtmlPage::Render("下载与更新", body, userName));
}
