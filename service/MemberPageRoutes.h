#pragma once

#include <string>

#include "MemberSessions.h"
#include "RequestRate.h"
#include "RouteGroup.h"
#include "ServiceConfig.h"
#include "ServiceStore.h"

class FormData;

// The member pages: registration, the forgotten-password note and the log-in the broadcaster's
// information page opens (all under /index.php), the member centre with its log-in and password
// change, and the forum.
class MemberPageRoutes : public RouteGroup {
public:
    MemberPageRoutes(const ServiceConfig& config, ServiceStore& store, MemberSessions& sessions);

    void Register(httplib::Server& server) override;

private:
    void MemberApi(const httplib::Request& req, httplib::Response& res);
    void RegistrationPage(const httplib::Request& req, httplib::Response& res, const std::string& error);
    void CreateAccount(const httplib::Request& req, httplib::Response& res);
    void ForgotPasswordPage(const httplib::Request& req, httplib::Response& res);
    void MemberCentre(const httplib::Request& req, httplib::Response& res);
    void MemberLogin(const httplib::Request& req, httplib::Response& res);
    void LogOut(const httplib::Request& req, httplib::Response& res);
    void ChangePassword(const httplib::Request& req, httplib::Response& res);
    void Forum(const httplib::Request& req, httplib::Response& res);
    void ForumPost(const httplib::Request& req, httplib::Response& res);

    // Logs the browser in with the fields "username" and "password" of `fields` and sends it on
    // to the member centre's page "p" (1, or 2 for the member's rooms) by an address without the
    // password. A wrong password gets a page headed `refusalTitle` with status 403.
    void LogInAndRedirect(const httplib::Request& req, const FormData& fields, const char* refusalTitle, httplib::Response& res);

    const ServiceConfig& config_;
    ServiceStore& store_;
    MemberSessions& sessions_;
    RequestRate memberLinks_;
    RequestRate registrations_;
};
