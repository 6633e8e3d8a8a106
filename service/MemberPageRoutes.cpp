#include "MemberPageRoutes.h"

#include <httplib.h>

#include <algorithm>
#include <chrono>

#include "FormData.h"
#include "HtmlPage.h"
#include "HttpReply.h"
#include "Markup.h"
#include "PasswordHash.h"
#include "TextRules.h"

namespace {

constexpr size_t kPostBytes = 2000;
constexpr const char* kLooksLikeAnother = "这个用户名和已有的用户名看起来一样，请换一个。";

// The actions under /index.php that cost a password hash: a log-in (by any method) and an
// account's creation. Everything else there is a page.
constexpr double kMemberLinksPerMinute = 5 * 60;
constexpr double kMemberLinkBurst = 20;
constexpr double kRegistrationsPerMinute = 10;
constexpr double kRegistrationBurst = 10;

// The member centre's page a request asks for: "2" (the member's rooms) or "1" for anything else.
std::string CentrePage(const FormData& fields)
{
    return fields.Get("p").value_or("1") == "2" ? "2" : "1";
}

}  // namespace

MemberPageRoutes::MemberPageRoutes(const ServiceConfig& config, ServiceStore& store, MemberSessions& sessions)
    : config_(config),
      store_(store),
      sessions_(sessions),
      memberLinks_(store, "member-link", kMemberLinksPerMinute, kMemberLinkBurst),
      registrations_(store, "registration", kRegistrationsPerMinute, kRegistrationBurst)
{
}

void MemberPageRoutes::Register(httplib::Server& server)
{
    // "//index.php" too: the broadcaster joins the member host "H/" with "/index.php".
    server.Get(R"(/+index\.php)", [this](const auto& req, auto& res) { MemberApi(req, res); });
    server.Post(R"(/+index\.php)", [this](const auto& req, auto& res) { MemberApi(req, res); });
    server.Get("/member/", [this](const auto& req, auto& res) { MemberCentre(req, res); });
    server.Post("/member/login", [this](const auto& req, auto& res) { MemberLogin(req, res); });
    server.Post("/member/password", [this](const auto& req, auto& res) { ChangePassword(req, res); });
    server.Post("/member/logout", [this](const auto& req, auto& res) { LogOut(req, res); });
    server.Get("/forum/", [this](const auto& req, auto& res) { Forum(req, res); });
    server.Post("/forum/", [this](const auto& req, auto& res) { ForumPost(req, res); });
}

void MemberPageRoutes::LogInAndRedirect(const httplib::Request& req, const FormData& fields, const char* refusalTitle,
                                        httplib::Response& res)
{
    const auto user = sessions_.CheckPassword(fields.Get("username").value_or(""), fields.Get("password").value_or(""),
                                              sessions_.AddressOf(req));
    const std::string page = CentrePage(fields);
    if (!user) {
        HttpReply::Html(res,
                        HtmlPage::Render(refusalTitle, "<p class=\"error\">用户名或密码不对。</p>"
                                                       "<p><a href=\"/member/?p=" + page + "\">重新登录</a></p>"),
                        403);
        return;
    }
    sessions_.Start(res, user->id);
    HttpReply::SeeOther(res, "/member/?p=" + page);
}

void MemberPageRoutes::MemberApi(const httplib::Request& req, httplib::Response& res)
{
    const auto query = FormData::ParseQuery(req.target);
    // Only the member module's index controller is served; any other m/c answers as an unknown action.
    const bool memberIndex = query.Get("m").value_or("") == "member" && query.Get("c").value_or("") == "index";
    const std::string action = memberIndex ? query.Get("a").value_or("") : std::string();
    if (action == "member_goto_api") {
        // Its address holds the password: neither the refusal page nor the redirect may hand it
        // on as the referrer of what the browser loads next.
        res.set_header("Referrer-Policy", "no-referrer");
    }
    // The web front limits these too, but keyed on the raw query; here the action is the one
    // that will run, however it was spelt.
    const bool logsIn = action == "member_goto_api";
    const bool creates = action == "register" && req.method == "POST";
    std::chrono::seconds wait{0};
    if ((logsIn && !memberLinks_.Take(sessions_.AddressOf(req), RequestRate::Clock::now(), &wait)) ||
        (creates && !registrations_.Take(sessions_.AddressOf(req), RequestRate::Clock::now(), &wait))) {
        res.set_header("Retry-After", std::to_string(std::max<long long>(1, wait.count())));
        HttpReply::Html(res, HtmlPage::Render("请稍后再试", "<p>请求太频繁，请稍后再试。</p>"), 429);
        return;
    }
    if (action == "register") {
        if (req.method == "POST") {
            CreateAccount(req, res);
        } else {
            RegistrationPage(req, res, {});
        }
    } else if (action == "public_forget_password") {
        ForgotPasswordPage(req, res);
    } else if (action == "member_goto_api") {
        // The broadcaster's information page opens this with the member's name and password in
        // the address. Log the browser in and move on to an address without the password.
        LogInAndRedirect(req, query, "会员中心", res);
    } else {
        HttpReply::Html(res, HtmlPage::Render("找不到页面", "<p>没有这个页面。</p>"), 404);
    }
}

void MemberPageRoutes::RegistrationPage(const httplib::Request& req, httplib::Response& res, const std::string& error)
{
    const std::string userName = sessions_.NameOf(req);
    std::string body;
    if (!error.empty()) body += "<p class=\"error\">" + Markup::Escape(error) + "</p>\n";
    body +=
        "<form method=\"post\" action=\"/index.php?m=member&amp;c=index&amp;a=register\">\n"
        "<label>用户名 <input name=\"username\" required minlength=\"2\" maxlength=\"32\" autocomplete=\"username\"></label>\n"
        "<p class=\"hint\">2 到 32 个字节：字母、数字、汉字、“_”、“-”、“.”。</p>\n"
        "<label>密码 <input name=\"password\" type=\"password\" required minlength=\"6\" maxlength=\"128\" autocomplete=\"new-password\"></label>\n"
        "<label>再输一次密码 <input name=\"password2\" type=\"password\" required minlength=\"6\" maxlength=\"128\" autocomplete=\"new-password\"></label>\n"
        "<button type=\"submit\">注册</button>\n</form>\n";
    HttpReply::Html(res, HtmlPage::Render("注册会员", body, userName), error.empty() ? 200 : 400);
}

void MemberPageRoutes::CreateAccount(const httplib::Request& req, httplib::Response& res)
{
    const auto form = FormData::Parse(req.body);
    const std::string name = form.Get("username").value_or("");
    const std::string password = form.Get("password").value_or("");
    if (!TextRules::IsValidUserName(name)) {
        RegistrationPage(req, res, "用户名不符合要求。");
        return;
    }
    if (store_.LooksLikeAMember(name)) {
        RegistrationPage(req, res, kLooksLikeAnother);
        return;
    }
    if (!TextRules::IsValidPassword(password)) {
        RegistrationPage(req, res, "密码要 6 到 128 个字节，不能有控制字符。");
        return;
    }
    if (form.Get("password2").value_or("") != password) {
        RegistrationPage(req, res, "两次输入的密码不一样。");
        return;
    }
    switch (store_.AddUser(name, PasswordHash::Make(password, config_.hashIterations))) {
    case ServiceStore::AddUserResult::Added: break;
    case ServiceStore::AddUserResult::Exists: RegistrationPage(req, res, "这个用户名已经有人用了。"); return;
    case ServiceStore::AddUserResult::LooksLikeAnother: RegistrationPage(req, res, kLooksLikeAnother); return;
    }
    const auto user = store_.FindUser(name);
    if (user) sessions_.Start(res, user->id);
    HttpReply::Html(res, HtmlPage::Render("注册成功",
                                          "<p>欢迎，" + Markup::Escape(name) +
                                              "！现在可以用这个用户名和密码登录 STRIMO 直播客户端了。</p>"
                                              "<p><a href=\"/member/?p=1\">进入会员中心</a></p>",
                                          name));
}

void MemberPageRoutes::ForgotPasswordPage(const httplib::Request& req, httplib::Response& res)
{
    const std::string body =
        "<p>为了安全，服务只保存密码的加盐散列值，没有人能查出您原来的密码。</p>\n"
        "<p>请联系本站的管理员（也可以在<a href=\"/forum/\">论坛</a>发帖说明您的用户名），"
        "管理员核实身份后会为您设置一个新密码。</p>\n"
        "<p class=\"hint\">管理员在服务器上执行：<code>strimo-service set-password --data 数据目录 用户名</code>，"
        "然后在标准输入里输入新密码。</p>\n";
    HttpReply::Html(res, HtmlPage::Render("忘记密码", body, sessions_.NameOf(req)));
}

void MemberPageRoutes::MemberCentre(const httplib::Request& req, httplib::Response& res)
{
    const auto user = sessions_.Of(req);
    const std::string page = CentrePage(FormData::ParseQuery(req.target));
    if (!user) {
        const std::string body =
            "<form method=\"post\" action=\"/member/login\">\n"
            "<input type=\"hidden\" name=\"p\" value=\"" + page + "\">\n"
            "<label>用户名 <input name=\"username\" required autocomplete=\"username\"></label>\n"
            "<label>密码 <input name=\"password\" type=\"password\" required autocomplete=\"current-password\"></label>\n"
            "<button type=\"submit\">登录</button>\n</form>\n"
            "<p><a href=\"/index.php?m=member&amp;c=index&amp;a=register\">注册会员</a> · "
            "<a href=\"/index.php?m=member&amp;c=index&amp;a=public_forget_password\">忘记密码</a></p>\n";
        HttpReply::Html(res, HtmlPage::Render("会员登录", body));
        return;
    }
    std::string body =
        "<p class=\"tabs\"><a href=\"/member/?p=1\">我的账号</a> · <a href=\"/member/?p=2\">我的直播</a></p>\n";
    if (page == "1") {
        body += "<p>用户名：" + Markup::Escape(user->name) + "</p>\n<p>注册时间：" +
                HtmlPage::Time(user->created) + "（UTC）</p>\n"
                "<h2>修改密码</h2>\n<form method=\"post\" action=\"/member/password\">\n"
                "<label>原密码 <input name=\"old\" type=\"password\" required autocomplete=\"current-password\"></label>\n"
                "<label>新密码 <input name=\"password\" type=\"password\" required minlength=\"6\" maxlength=\"128\" autocomplete=\"new-password\"></label>\n"
                "<button type=\"submit\">修改</button>\n</form>\n"
                "<form method=\"post\" action=\"/member/logout\"><button type=\"submit\">退出登录</button></form>\n";
    } else {
        const auto rooms = store_.RoomsOfUser(user->id, 50);
        if (rooms.empty()) body += "<p>您还没有直播过。</p>\n";
        body += "<ul class=\"rooms\">\n";
        for (const auto& room : rooms) {
            body += "<li><a href=\"/live/room?lid=" + std::to_string(room.lid) + "\">" +
                    Markup::Escape(HtmlPage::RoomTitle(room.title)) + "</a> <span class=\"meta\">" +
                    Markup::Escape(room.gameName) + " · " + HtmlPage::Time(room.created) + " · " +
                    (room.state == ServiceStore::RoomState::Live ? "直播中" :
                     room.state == ServiceStore::RoomState::Issued ? "未开始" : "已结束") +
                    "</span></li>\n";
        }
        body += "</ul>\n";
    }
    HttpReply::Html(res, HtmlPage::Render("会员中心", body, user->name));
}

void MemberPageRoutes::MemberLogin(const httplib::Request& req, httplib::Response& res)
{
    LogInAndRedirect(req, FormData::Parse(req.body), "会员登录", res);
}

void MemberPageRoutes::LogOut(const httplib::Request& req, httplib::Response& res)
{
    sessions_.End(req, res);
    HttpReply::SeeOther(res, "/");
}

void MemberPageRoutes::ChangePassword(const httplib::Request& req, httplib::Response& res)
{
    const auto user = sessions_.Of(req);
    if (!user) {
        HttpReply::SeeOther(res, "/member/?p=1");
        return;
    }
    const auto form = FormData::Parse(req.body);
    const std::string password = form.Get("password").value_or("");
    std::string message;
    int status = 200;
    if (!sessions_.CheckPassword(user->name, form.Get("old").value_or(""), sessions_.AddressOf(req),
                                 MemberSessions::Purpose::PasswordChange)) {
        message = "原密码不对，密码没有改。";
        status = 403;
    } else if (!TextRules::IsValidPassword(password)) {
        message = "新密码要 6 到 128 个字节，不能有控制字符。";
        status = 400;
    } else {
        store_.SetPasswordHash(user->name, PasswordHash::Make(password, config_.hashIterations));
        sessions_.Start(res, user->id);  // the old sessions ended with the old password
        message = "密码已经改好了。客户端下次登录请用新密码。";
    }
    HttpReply::Html(res,
                    HtmlPage::Render("修改密码",
                                     "<p>" + Markup::Escape(message) +
                                         "</p><p><a href=\"/member/?p=1\">返回会员中心</a></p>",
                                     user->name),
                    status);
}

void MemberPageRoutes::Forum(const httplib::Request& req, httplib::Response& res)
{
    const auto user = sessions_.Of(req);
    std::string body = "<p>有问题、建议，或者想找人一起玩？在这里发帖，客服人员会在 1-3 个工作日内回帖。</p>\n";
    if (user) {
        body += "<form method=\"post\" action=\"/forum/\">\n<textarea name=\"text\" rows=\"4\" maxlength=\"2000\" required></textarea>\n"
                "<button type=\"submit\">发帖</button>\n</form>\n";
    } else {
        body += "<p><a href=\"/member/\">登录</a>后可以发帖。</p>\n";
    }
    body += "<ul class=\"posts\">\n";
    for (const auto& post : store_.Posts(100)) {
        body += "<li><div class=\"meta\">" + Markup::Escape(post.userName) + " · " +
                HtmlPage::Time(post.created) + "</div><div class=\"text\">" +
                Markup::Escape(post.text) + "</div></li>\n";
    }
    body += "</ul>\n";
    HttpReply::Html(res, HtmlPage::Render("论坛", body, user ? user->name : ""));
}

void MemberPageRoutes::ForumPost(const httplib::Request& req, httplib::Response& res)
{
    const auto user = sessions_.Of(req);
    if (!user) {
        HttpReply::SeeOther(res, "/member/");
        return;
    }
    const std::string text =
        TextRules::Clean(FormData::Parse(req.body).GetTrimmed("text").value_or(""), kPostBytes, true);
    if (!text.empty()) store_.AddPost(user->id, text);
    HttpReply::SeeOther(res, "/forum/");
}
