#include "LivePageRoutes.h"

#include <httplib.h>

#include "FormData.h"
#include "HtmlPage.h"
#include "HttpReply.h"
#include "Markup.h"
#include "TextRules.h"

LivePageRoutes::LivePageRoutes(const ServiceConfig& config, ServiceStore& store, MemberSessions& sessions)
    : config_(config), store_(store), sessions_(sessions)
{
}

void LivePageRoutes::Register(httplib::Server& server)
{
    server.Get("/", [this](const auto& req, auto& res) { HomePage(req, res); });
    server.Get("/live/", [this](const auto& req, auto& res) { LiveList(req, res); });
    server.Get("/live/room", [this](const auto& req, auto& res) { RoomPage(req, res); });
}

void LivePageRoutes::HomePage(const httplib::Request& req, httplib::Response& res)
{
    const std::string userName = sessions_.NameOf(req);
    const auto live = store_.LiveRooms();
    std::string body =
        "<p>STRIMO直播让会员把自己电脑上正在玩的游戏直播给其他玩家。"
        "安装 STRIMO 直播客户端，用会员账号登录，选择游戏，写一句介绍，就可以开始直播。</p>\n"
        "<p class=\"actions\"><a class=\"button\" href=\"/live/\">观看直播（" +
        std::to_string(live.size()) +
        " 个房间）</a> <a class=\"button\" href=\"/index.php?m=member&amp;c=index&amp;a=register\">注册会员</a> "
        "<a class=\"button\" href=\"/update/\">下载与更新</a></p>\n";
    HttpReply::Html(res, HtmlPage::Render("首页", body, userName));
}

void LivePageRoutes::LiveList(const httplib::Request& req, httplib::Response& res)
{
    const std::string userName = sessions_.NameOf(req);
    const auto rooms = store_.LiveRooms();
    std::string body;
    if (rooms.empty()) {
        body = "<p>现在没有正在进行的直播。开始直播后，房间会出现在这里。</p>\n";
    } else {
        body = "<ul class=\"rooms\">\n";
        for (const auto& room : rooms) {
            body += "<li><a href=\"/live/room?lid=" + std::to_string(room.lid) + "\">" +
                    Markup::Escape(HtmlPage::RoomTitle(room.title)) + "</a> <span class=\"meta\">" +
                    Markup::Escape(room.gameName) + " · " + Markup::Escape(room.userName) +
                    "</span></li>\n";
        }
        body += "</ul>\n";
    }
    res.set_header("Cache-Control", "no-store");
    HttpReply::Html(res, HtmlPage::Render("正在直播", body, userName,
                                          "<meta http-equiv=\"refresh\" content=\"30\">\n"));
}

void LivePageRoutes::RoomPage(const httplib::Request& req, httplib::Response& res)
{
    const std::string userName = sessions_.NameOf(req);
    const std::string lid = FormData::ParseQuery(req.target).GetTrimmed("lid").value_or("");
    const auto room = TextRules::IsId(lid) ? store_.FindRoom(std::stoll(lid)) : std::nullopt;
    if (!room) {
        HttpReply::Html(res,
                        HtmlPage::Render("没有这个直播间",
                                         "<p>这个直播间不存在。<a href=\"/live/\">看看正在进行的直播</a></p>", userName),
                        404);
        return;
    }
    const std::string id = std::to_string(room->lid);
    std::string body =
        "<p class=\"meta\">" + Markup::Escape(room->gameName) + " · 主播 " +
        Markup::Escape(room->userName) + "</p>\n"
        "<div class=\"player\"><video id=\"player\" controls muted autoplay playsinline></video></div>\n"
        "<p id=\"status\" class=\"status\"></p>\n"
        "<p class=\"meta\">分享这个直播间：<code>" + Markup::Escape(config_.webUrl) + "/live/room?lid=" + id + "</code></p>\n"
        "<script src=\"/static/hls.min.js\"></script>\n"
        "<script src=\"/static/room.js\" data-lid=\"" + id + "\"></script>\n";
    res.set_header("Cache-Control", "no-store");
    HttpReply::Html(res, HtmlPage::Render(HtmlPage::RoomTitle(room->title), body, userName));
}
