#include "HtmlPage.h"

#include <ctime>

#include "Markup.h"

std::string HtmlPage::Time(long long seconds)
{
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buffer[32];
    std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M", &tm);
    return buffer;
}

std::string HtmlPage::RoomTitle(const std::string& title)
{
    return title.empty() ? std::string("（无标题）") : title;
}

std::string HtmlPage::Render(std::string_view title, std::string_view body, std::string_view userName,
                             std::string_view head)
{
    std::string page =
        "<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head>\n<meta charset=\"utf-8\">\n"
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>";
    page += Markup::Escape(title);
    page += " - STRIMO直播</title>\n<link rel=\"stylesheet\" href=\"/static/style.css\">\n";
    page += head;
    page +=
        "</head>\n<body>\n<nav><a class=\"brand\" href=\"/\">STRIMO直播</a> "
        "<a href=\"/live/\">正在直播</a> <a href=\"/forum/\">论坛</a> <a href=\"/update/\">下载与更新</a> ";
    if (userName.empty()) {
        page += "<span class=\"who\"><a href=\"/member/\">登录</a> "
                "<a href=\"/index.php?m=member&amp;c=index&amp;a=register\">注册</a></span>";
    } else {
        page += "<span class=\"who\"><a href=\"/member/?p=1\">" + Markup::Escape(userName) + "</a></span>";
    }
    page += "</nav>\n<main>\n<h1>" + Markup::Escape(title) + "</h1>\n";
    page += body;
    page += "\n</main>\n</body>\n</html>\n";
    return page;
}
