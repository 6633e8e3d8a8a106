// The updater against a real update host on loopback: start-up checks, the version decision, the
// worker's downloads and file replacement, and descriptions that must not be obeyed.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "CFileCipher.h"
#include "CXmlDocFile.h"
#include "TempDir.h"
#include "TestCertificate.h"
#include "UpdateDescription.h"
#include "UpdateHost.h"
#include "UpdateStartup.h"
#include "UpdateWorker.h"
#include "VersionNumber.h"

namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::UpdateHost;
using testsupport::WriteFile;

namespace {

std::string VersionXml(const std::string& ver, const std::string& server) {
    return "<version ver=\"" + ver + "\"><server>" + server +
           "</server><base>/upd</base><check>check.html</check><desc>updata.xml</desc></version>";
}

std::string Description(const std::string& version, const std::vector<std::string>& dirs,
                        const std::vector<std::string>& files, const std::vector<std::string>& delDirs = {},
                        const std::vector<std::string>& delFiles = {}) {
    auto section = [](const char* name, const std::vector<std::string>& entries) {
        std::string s = std::string("<") + name + ">";
        for (const auto& e : entries) s += "<e>" + e + "</e>";
        return s + "</" + name + ">";
    };
    return "<updata version=\"" + version + "\">" + section("directory", dirs) + section("file", files) +
           section("delete_directory", delDirs) + section("delete_file", delFiles) + "</updata>";
}

struct Recorder : UpdateProgress {
    void SetProgress(int done) override { steps.push_back(done); }
    void ShowProgress() override { shown = true; }
    std::vector<int> steps;
    bool shown = false;
};

class Updater : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(install_.path() / "res");
        WriteFile(install_ / "res/old.png", "old picture");
        WriteFile(install_ / "obsolete.txt", "bye");
        fs::create_directories(install_.path() / "oldfolder");
        fs::create_directories(install_.path() / "busyfolder");
        WriteFile(install_ / "busyfolder/keep.txt", "still here");
        host_.Set("/upd/check.html", "1");
        SaveVersion("7");
    }

    void SaveVersion(const std::string& ver) { ASSERT_TRUE(SaveEncrypted(VersionFile(), VersionXml(ver, host_.Url()))); }
    std::string VersionFile() const { return install_ / "version.xml"; }

    std::string InstalledVersion() const {
        CXmlDocFile doc("");
        if (!doc.Load(VersionFile())) return "?";
        return doc.Doc().first_node("version")->first_attribute("ver")->value();
    }

    std::string Startup() { return RunUpdateStartup(VersionFile(), state_, connection_); }
    UpdateOutcome Work() {
        return RunUpdateWorker(state_, connection_.get(), progress_, install_.path().string(), temp_.path().string(),
                               VersionFile());
    }
    int Downloads() const {
        int n = 0;
        for (const auto& r : host_.Requests())
            if (r != "/upd/check.html" && r != "/upd/updata.xml") ++n;
        return n;
    }

    UpdateHost host_;
    TempDir install_;
    TempDir temp_;
    UpdateState state_;
    std::unique_ptr<UpdateConnection> connection_;
    Recorder progress_;
};

}  // namespace

TEST(UpdateVersions, AreComparedAsLeadingIntegers) {
    EXPECT_FALSE(UpdateDue("7", "7"));
    EXPECT_TRUE(UpdateDue("7", "10"));
    EXPECT_FALSE(UpdateDue("12", "9"));
    EXPECT_TRUE(UpdateDue("v3", "1"));  // begins with a letter: 0
    EXPECT_FALSE(UpdateDue("1.10", "1"));
    EXPECT_FALSE(UpdateDue(" 8", "+8"));
}

TEST(UpdateDescription, SectionsAreFoundByNameInAnyOrder) {
    UpdateState a;
    ASSERT_TRUE(ParseUpdateDescription(Description("10", {"res"}, {"res/a.png", "strimo"}, {"old"}, {"x.txt"}), a));
    UpdateState b;
    ASSERT_TRUE(ParseUpdateDescription(
        "<updata version=\"10\"><file><f>res/a.png</f><g>strimo</g></file><delete_file><q>x.txt</q></delete_file>"
        "<!-- note --><directory><d>res</d></directory><delete_directory><d>old</d></delete_directory></updata>",
        b));
    for (const UpdateState* s : {&a, &b}) {
        EXPECT_EQ("10", s->remoteVersion);
        EXPECT_EQ((std::vector<std::string>{"res"}), s->directories);
        EXPECT_EQ((std::vector<std::string>{"res/a.png", "strimo"}), s->files);
        EXPECT_EQ((std::vector<std::string>{"old"}), s->deleteDirectories);
        EXPECT_EQ((std::vector<std::string>{"x.txt"}), s->deleteFiles);
    }
    UpdateState empty;
    ASSERT_TRUE(ParseUpdateDescription(Description("2", {}, {}), empty));
    EXPECT_TRUE(empty.files.empty());

    // Harmless spellings of a path inside the installation are read in their plain form.
    UpdateState spelled;
    ASSERT_TRUE(ParseUpdateDescription(
        Description("3", {"res/", "./res//skin/", "res/./icons/."}, {"./strimo", "res//skin/b.png", "res/my file.png"},
                    {"old/"}, {"./x.txt", "res///old.png"}),
        spelled));
    EXPECT_EQ((std::vector<std::string>{"res", "res/skin", "res/icons"}), spelled.directories);
    EXPECT_EQ((std::vector<std::string>{"strimo", "res/skin/b.png", "res/my file.png"}), spelled.files);
    EXPECT_EQ((std::vector<std::string>{"old"}), spelled.deleteDirectories);
    EXPECT_EQ((std::vector<std::string>{"x.txt", "res/old.png"}), spelled.deleteFiles);
}

TEST(UpdateDescription, IncompleteOrHostileDescriptionsAreRefused) {
    const std::vector<std::string> bad = {
        "not xml <<",
        "<other version=\"1\"/>",
        "<updata><directory/><file/><delete_directory/><delete_file/></updata>",  // no version
        "<updata version=\"1\"><directory/><file/><delete_directory/></updata>",  // a section missing
        Description("9", {}, {"/etc/passwd"}),
        Description("9", {}, {"../outside.txt"}),
        Description("9", {}, {"res/../../outside.txt"}),
        Description("9", {""}, {}),
        Description("9", {}, {}, {".."}),
        Description("9", {}, {"res\\x.png"}),
        // Nothing may name the installation itself or lead out of it, however it is spelled.
        Description("9", {"."}, {}),
        Description("9", {}, {}, {"./"}),
        Description("9", {}, {}, {"res/.."}),
        Description("9", {}, {"./../x"}),
        Description("9", {}, {"res//../../x"}),
        Description("9", {}, {}, {}, {"//etc/passwd"}),
        Description("9", {}, {}, {"/"}),
        std::string(100000, '<').replace(0, 1, "<updata version=\"1\">") ,
    };
    for (const auto& text : bad) {
        SCOPED_TRACE(text.substr(0, 80));
        UpdateState state;
        EXPECT_FALSE(ParseUpdateDescription(text, state));
    }
    std::string deep = "<updata version=\"1\">";
    for (int i = 0; i < 100000; ++i) deep += "<a>";
    UpdateState state;
    EXPECT_FALSE(ParseUpdateDescription(deep, state));
}

TEST_F(Updater, CurrentVersionStartsTheMainProgramWithoutDownloading) {
    SaveVersion("7");
    host_.Set("/upd/updata.xml", Description("7", {"res"}, {"res/new.png"}));
    ASSERT_EQ("", Startup());
    const UpdateOutcome outcome = Work();
    EXPECT_TRUE(outcome.startMainProgram);
    EXPECT_EQ("", outcome.message);
    EXPECT_EQ(0, Downloads());
    EXPECT_FALSE(progress_.shown);
    EXPECT_EQ("7", InstalledVersion());
    // Every request carried the updater's own header line and agent.
    for (const auto& agent : host_.UserAgents()) EXPECT_EQ("TEST /1.0", agent);
    for (const auto& type : host_.ContentTypes()) EXPECT_EQ("application/x-www-form-urlencoded", type);
}

TEST_F(Updater, OlderVersionIsUpdatedRecordedAndTheNextRunIsCurrent) {
    // Entries spelled "res/" or "./notes.txt", and names a URL cannot carry as they are.
    host_.Set("/upd/updata.xml", Description("10", {"res/", "res//skin"},
                                             {"res/new.png", "res/skin/b.png", "./notes.txt", "res/my file #1.png",
                                              "res/直播.png"},
                                             {"oldfolder", "busyfolder"}, {"obsolete.txt", "res/old.png"}));
    host_.Set("/upd/res/new.png", "NEW PICTURE");
    host_.Set("/upd/res/skin/b.png", std::string(5000, 'b'));
    host_.Set("/upd/notes.txt", "");  // an empty file is a file too
    host_.Set("/upd/res/my file #1.png", "SPACED");
    host_.Set("/upd/res/直播.png", "NAMED");
    ASSERT_EQ("", Startup());
    const UpdateOutcome outcome = Work();
    EXPECT_TRUE(outcome.startMainProgram);
    EXPECT_EQ("", outcome.message);

    EXPECT_EQ("NEW PICTURE", ReadFile(install_ / "res/new.png"));
    EXPECT_EQ(std::string(5000, 'b'), ReadFile(install_ / "res/skin/b.png"));
    EXPECT_TRUE(fs::exists(install_ / "notes.txt"));
    EXPECT_EQ("SPACED", ReadFile(install_ / "res/my file #1.png"));
    EXPECT_EQ("NAMED", ReadFile(install_ / "res/直播.png"));
    EXPECT_FALSE(fs::exists(install_ / "obsolete.txt"));
    EXPECT_FALSE(fs::exists(install_ / "res/old.png"));
    EXPECT_FALSE(fs::exists(install_ / "oldfolder"));
    EXPECT_EQ("still here", ReadFile(install_ / "busyfolder/keep.txt"));  // not empty: stays
    EXPECT_EQ("10", InstalledVersion());
    EXPECT_EQ((std::vector<int>{0, 1, 2, 3, 4, 5}), progress_.steps);
    EXPECT_TRUE(progress_.shown);
    EXPECT_TRUE(fs::is_empty(temp_.path()));  // staging removed

    // The second run finds the installation current.
    UpdateState again;
    std::unique_ptr<UpdateConnection> connection;
    ASSERT_EQ("", RunUpdateStartup(VersionFile(), again, connection));
    const int before = Downloads();
    Recorder progress;
    EXPECT_TRUE(RunUpdateWorker(again, connection.get(), progress, install_.path().string(), temp_.path().string(),
                                VersionFile())
                    .startMainProgram);
    EXPECT_EQ(before, Downloads());
}

TEST_F(Updater, WithoutFilesFoldersAndDeletionsStillHappen) {
    host_.Set("/upd/updata.xml", Description("8", {"plugins"}, {}, {"oldfolder"}, {"obsolete.txt"}));
    ASSERT_EQ("", Startup());
    EXPECT_TRUE(Work().startMainProgram);
    EXPECT_TRUE(fs::is_directory(install_ / "plugins"));
    EXPECT_FALSE(fs::exists(install_ / "obsolete.txt"));
    EXPECT_FALSE(fs::exists(install_ / "oldfolder"));
    EXPECT_EQ("8", InstalledVersion());
    EXPECT_EQ((std::vector<int>{0}), progress_.steps);
}

TEST_F(Updater, InstalledFilesKeepTheirModeAndNewProgramsCanRun) {
    const std::string elf = std::string("\x7f" "ELF\x02\x01\x01", 7) + std::string(100, '\0');
    const struct {
        const char* entry;
        std::string content;
        int oldMode;  // -1: new to the installation
        int mode;
    } cases[] = {
        {"strimo", "#!/bin/sh\necho new\n", 0755, 0755},
        {"private-tool", elf, 0700, 0700},
        {"secret.dat", elf, 0600, 0600},  // kept, even for a program
        {"res/skin.png", "PNG", 0664, 0664},
        {"tools/new-helper", elf, -1, 0755},
        {"tools/run.sh", "#!/usr/bin/env bash\n", -1, 0755},
        {"tools/readme.txt", "#not a script", -1, 0644},
        {"tools/one-byte", "#", -1, 0644},
        {"tools/empty", "", -1, 0644},
    };
    std::vector<std::string> files;
    for (const auto& c : cases) {
        files.push_back(c.entry);
        host_.Set(std::string("/upd/") + c.entry, c.content);
        if (c.oldMode < 0) continue;
        WriteFile(install_ / c.entry, "old");
        fs::permissions(install_ / c.entry, static_cast<fs::perms>(c.oldMode));
    }
    host_.Set("/upd/updata.xml", Description("10", {"res", "tools"}, files));
    ASSERT_EQ("", Startup());
    // Downloads are made with the process's own file mode: a strict one must not leak through.
    const mode_t umaskBefore = ::umask(077);
    const UpdateOutcome outcome = Work();
    ::umask(umaskBefore);
    ASSERT_EQ("", outcome.message);
    for (const auto& c : cases) {
        EXPECT_EQ(c.content, ReadFile(install_ / c.entry)) << c.entry;
        EXPECT_EQ(c.mode, static_cast<int>(fs::status(install_ / c.entry).permissions() & fs::perms::mask)) << c.entry;
    }

    // Across file systems the file is copied in, with the same rule.
    const fs::path shm = "/dev/shm";
    struct stat a {}, b {};
    if (::stat(shm.c_str(), &a) != 0 || ::stat(temp_.path().c_str(), &b) != 0 || a.st_dev == b.st_dev)
        GTEST_SKIP() << "no second file system to copy across";
    for (const auto& [name, mode] : {std::pair{"private-tool", 0700}, std::pair{"tools/copied-helper", 0755}}) {
        char staged[] = "/dev/shm/strimo-install-XXXXXX";
        const int fd = ::mkstemp(staged);
        ASSERT_GE(fd, 0);
        ::close(fd);
        WriteFile(staged, elf);
        EXPECT_TRUE(InstallFile(staged, install_.path().string(), name)) << name;
        EXPECT_EQ(mode, static_cast<int>(fs::status(install_ / name).permissions() & fs::perms::mask)) << name;
        EXPECT_FALSE(fs::exists(staged));
    }
}

TEST_F(Updater, RedirectsAreFollowedToTheirEnd) {
    // The check, the description and the files each behind redirects, to another host (a
    // mirror) or the same one; one download ten redirects away.
    UpdateHost mirror;
    host_.Redirect("/upd/check.html", 302, mirror.Url() + "/mirror/check");
    mirror.Set("/mirror/check", "1");
    host_.Redirect("/upd/updata.xml", 301, "/moved/updata.xml");
    host_.Set("/moved/updata.xml", Description("10", {}, {"a.bin", "far.bin"}));
    host_.Redirect("/upd/a.bin", 307, mirror.Url() + "/files/a.bin");
    mirror.Set("/files/a.bin", "AAA");
    host_.Redirect("/upd/far.bin", 302, mirror.Url() + "/hop/9");
    for (int hop = 9; hop > 1; --hop) mirror.Redirect("/hop/" + std::to_string(hop), 308, "/hop/" + std::to_string(hop - 1));
    mirror.Redirect("/hop/1", 303, "/files/far.bin");
    mirror.Set("/files/far.bin", std::string(3000, 'f'));
    ASSERT_EQ("", Startup());
    EXPECT_TRUE(RepeatCheck(connection_.get(), state_));
    const UpdateOutcome outcome = Work();
    EXPECT_EQ("", outcome.message);
    EXPECT_EQ("AAA", ReadFile(install_ / "a.bin"));
    EXPECT_EQ(std::string(3000, 'f'), ReadFile(install_ / "far.bin"));
    EXPECT_EQ("10", InstalledVersion());

    // Eleven redirects are one too many: the download fails and nothing is installed.
    host_.Set("/moved/updata.xml", Description("11", {}, {"too-far.bin"}));
    host_.Redirect("/upd/too-far.bin", 302, mirror.Url() + "/hop/10");
    mirror.Redirect("/hop/10", 302, "/hop/9");
    UpdateState state;
    std::unique_ptr<UpdateConnection> connection;
    ASSERT_EQ("", RunUpdateStartup(VersionFile(), state, connection));
    Recorder progress;
    EXPECT_EQ("下载文件失败", RunUpdateWorker(state, connection.get(), progress, install_.path().string(),
                                          temp_.path().string(), VersionFile())
                                    .message);
    EXPECT_FALSE(fs::exists(install_ / "too-far.bin"));
    EXPECT_EQ("10", InstalledVersion());
    // Kept connections would hold the mirror's stop until they time out.
    connection.reset();
    connection_.reset();
}

TEST_F(Updater, FailedDownloadsLeaveTheInstallationAsItWas) {
    struct Case {
        const char* what;
        UpdateHost::Answer answer;
    } cases[] = {
        {"missing file (error page)", {404, "<html>Not Found</html>", false, {}}},
        {"server error", {500, "<html>oops</html>", false, {}}},
        {"cut off half way", {200, std::string(200000, 'x'), true, {}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        host_.Set("/upd/updata.xml", Description("10", {"res"}, {"res/first.png", "res/second.png"}, {}, {"obsolete.txt"}));
        host_.Set("/upd/res/first.png", "first");
        host_.Set("/upd/res/second.png", c.answer);
        UpdateState state;
        std::unique_ptr<UpdateConnection> connection;
        ASSERT_EQ("", RunUpdateStartup(VersionFile(), state, connection));
        Recorder progress;
        const UpdateOutcome outcome = RunUpdateWorker(state, connection.get(), progress, install_.path().string(),
                                                      temp_.path().string(), VersionFile());
        EXPECT_EQ("下载文件失败", outcome.message);
        EXPECT_FALSE(outcome.startMainProgram);
        EXPECT_FALSE(fs::exists(install_ / "res/first.png"));
        EXPECT_FALSE(fs::exists(install_ / "res/second.png"));
        EXPECT_TRUE(fs::exists(install_ / "obsolete.txt"));
        EXPECT_EQ("7", InstalledVersion());
        EXPECT_TRUE(fs::is_empty(temp_.path()));
    }
}

TEST_F(Updater, AFolderOrFileThatCannotBeInstalledIsReportedAndNotRecorded) {
    // "plugins" exists as a file, so the folder cannot be made.
    WriteFile(install_ / "plugins", "a file in the way");
    host_.Set("/upd/updata.xml", Description("10", {"plugins"}, {"readme.txt"}));
    host_.Set("/upd/readme.txt", "hello");
    ASSERT_EQ("", Startup());
    UpdateOutcome outcome = Work();
    EXPECT_EQ("更新文件失败", outcome.message);
    EXPECT_FALSE(outcome.startMainProgram);
    EXPECT_EQ("7", InstalledVersion());

    // A folder where a file must go: the move fails.
    fs::create_directories(install_.path() / "strimo.dat" / "x");
    host_.Set("/upd/updata.xml", Description("11", {}, {"strimo.dat"}));
    host_.Set("/upd/strimo.dat", "data");
    UpdateState state;
    std::unique_ptr<UpdateConnection> connection;
    ASSERT_EQ("", RunUpdateStartup(VersionFile(), state, connection));
    Recorder progress;
    outcome = RunUpdateWorker(state, connection.get(), progress, install_.path().string(), temp_.path().string(),
                              VersionFile());
    EXPECT_EQ("更新文件失败", outcome.message);
    EXPECT_EQ("7", InstalledVersion());
}

TEST_F(Updater, StartupFailuresNameTheirCause) {
    // The check page's answer.
    for (const char* body : {"1", "1\r\n", "\x01"}) {
        host_.Set("/upd/check.html", body);
        host_.Set("/upd/updata.xml", Description("7", {}, {}));
        UpdateState state;
        std::unique_ptr<UpdateConnection> connection;
        EXPECT_EQ("", RunUpdateStartup(VersionFile(), state, connection)) << body;
    }
    for (const char* body : {"0", "", "x1"}) {
        host_.Set("/upd/check.html", body);
        UpdateState state;
        std::unique_ptr<UpdateConnection> connection;
        EXPECT_EQ("连接网络失败", RunUpdateStartup(VersionFile(), state, connection)) << body;
    }
    host_.Set("/upd/check.html", "1");

    // The description.
    host_.Set("/upd/updata.xml", "<html>not the description");
    EXPECT_EQ("获取版本信息失败", Startup());
    host_.Set("/upd/updata.xml", Description("9", {}, {"../../etc/cron.d/x"}));
    EXPECT_EQ("获取版本信息失败", Startup());

    // The version file.
    UpdateState state;
    std::unique_ptr<UpdateConnection> connection;
    EXPECT_EQ("文件错误", RunUpdateStartup(install_ / "missing.xml", state, connection));
    WriteFile(install_ / "plain.xml", VersionXml("7", host_.Url()));
    EXPECT_EQ("文件错误", RunUpdateStartup(install_ / "plain.xml", state, connection));
    for (const std::string& xml : {std::string("<other ver=\"1\"/>"),
                                   "<version><a>" + host_.Url() + "</a><b>/upd</b><c>check.html</c><d>u</d></version>",
                                   "<version ver=\"1\"><a>" + host_.Url() + "</a><b>/upd</b><c>check.html</c></version>"}) {
        ASSERT_TRUE(SaveEncrypted(install_ / "v.xml", xml));
        EXPECT_EQ("xml文件出错", RunUpdateStartup(install_ / "v.xml", state, connection)) << xml;
    }

    // An empty server URL fails without any traffic; a URL's path plays no part.
    const auto before = host_.Requests().size();
    ASSERT_TRUE(SaveEncrypted(install_ / "v.xml", VersionXml("7", "")));
    EXPECT_EQ("连接网络失败", RunUpdateStartup(install_ / "v.xml", state, connection));
    EXPECT_EQ(before, host_.Requests().size());
    host_.Set("/upd/updata.xml", Description("7", {}, {}));
    ASSERT_TRUE(SaveEncrypted(install_ / "v.xml", VersionXml("7", host_.Url() + "/ignored/path?q=1")));
    EXPECT_EQ("", RunUpdateStartup(install_ / "v.xml", state, connection));
    EXPECT_EQ("/upd/check.html", host_.Requests()[before]);

    // Nobody listening.
    ASSERT_TRUE(SaveEncrypted(install_ / "v.xml", VersionXml("7", "http://127.0.0.1:1")));
    EXPECT_EQ("连接网络失败", RunUpdateStartup(install_ / "v.xml", state, connection));
}

TEST_F(Updater, StartupWritesTheVersionFileBackUnchanged) {
    host_.Set("/upd/updata.xml", Description("7", {}, {}));
    ASSERT_EQ("", Startup());
    EXPECT_EQ("7", InstalledVersion());
    EXPECT_EQ(host_.Url(), state_.serverUrl);
    EXPECT_EQ("/upd", state_.basePath);
}

TEST_F(Updater, RepeatedCheckNoticesALostHost) {
    host_.Set("/upd/updata.xml", Description("7", {}, {}));
    ASSERT_EQ("", Startup());
    EXPECT_TRUE(RepeatCheck(connection_.get(), state_));
    host_.Set("/upd/check.html", "0 maintenance");
    EXPECT_FALSE(RepeatCheck(connection_.get(), state_));
    host_.Set("/upd/check.html", "1");
    EXPECT_TRUE(RepeatCheck(connection_.get(), state_));
    host_.Stop();
    EXPECT_FALSE(RepeatCheck(connection_.get(), state_));
    EXPECT_FALSE(RepeatCheck(nullptr, state_));
}

TEST(UpdateHttps, ASelfSignedHostIsRefusedAndHttpsIsNeverLeftForHttp) {
    // TLS is verified: an https URL to a host that is not a trusted TLS server never passes.
    UpdateHost plain;
    plain.Set("/upd/check.html", "1");
    plain.Set("/upd/a.bin", "plain");
    std::unique_ptr<UpdateConnection> connection;
    EXPECT_EQ(0, UpdateConnection::ConnectAndCheck("https://127.0.0.1:" + std::to_string(plain.port()),
                                                   "/upd/check.html", connection));

    const testsupport::TestCertificate certificate;
    ASSERT_TRUE(certificate.Made()) << "openssl could not make a certificate";
    testsupport::TestHttpServer host(
        std::make_unique<httplib::SSLServer>(certificate.Cert().c_str(), certificate.Key().c_str()));
    httplib::Server& tls = host.Server();
    tls.Get("/upd/check.html", [](const httplib::Request&, httplib::Response& res) { res.set_content("1", "text/plain"); });
    tls.Get("/upd/moved.html", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/upd/check.html"); });
    const std::string away = plain.Url();
    tls.Get(R"(/upd/away/(.*))", [away](const httplib::Request& req, httplib::Response& res) {
        res.set_redirect(away + "/upd/" + req.matches[1].str());
    });
    host.Start();
    const std::string server = host.Url("", "https");
    {
        const testsupport::ScopedTrust trust(certificate.Cert());
        EXPECT_EQ(1, UpdateConnection::ConnectAndCheck(server, "/upd/moved.html", connection));
        const auto before = plain.Requests().size();
        EXPECT_EQ(0, UpdateConnection::ConnectAndCheck(server, "/upd/away/check.html", connection));
        ASSERT_EQ(1, UpdateConnection::ConnectAndCheck(server, "/upd/check.html", connection));
        testsupport::TempDir dir;
        EXPECT_EQ(0, connection->GetToFile(server, "/upd/away/a.bin", dir / "a.bin"));
        EXPECT_NE("plain", ReadFile(dir / "a.bin"));
        EXPECT_EQ(before, plain.Requests().size());
    }
    connection.reset();
    host.Stop();
}
