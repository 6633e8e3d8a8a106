// Game detection over real processes and real X11 windows (run under Xvfb by with-xvfb.sh).
#include <algorithm>
#include <filesystem>
#include <memory>
#include <set>
#include <chrono>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include "CData.h"
#include "CGameDetector.h"
#include "CMainWindowIterator.h"
#include "GameCaptureX11.h"
#include "GameWindowsX11.h"
#include "LowerCaseName.h"
#include "TempDir.h"
#include "WaitFor.h"
#include "WindowListX11.h"
#include "WindowTrackerX11.h"
#include "XDisplay.h"
#include "XDisplayRetry.h"

extern char** environ;

using MY_DATA_SPACE::GameRecord;
using Strings = std::vector<std::string>;
using WindowId = x11::WindowListX11::WindowId;

namespace {

// How a helper copy is started, to look like the processes the detector meets.
struct Launch {
    std::string argv0;              // the first command-line argument; the file's path when empty
    bool fromMemoryFile = false;    // run from an anonymous memory file, as some packers do
    bool deleteAfterStart = false;  // the file goes while it runs, as in an update
    int uid = -1;                   // another user's process (needs root)

    static Launch WithArgv0(std::string text) { return {std::move(text), false, false, -1}; }
};

// A copy of the helper program started under a name of the test's choosing; it runs until
// the object goes.
class HelperProcess {
public:
    HelperProcess(const testsupport::TempDir& dir, const std::string& name, const std::string& mode,
                  const Launch& launch = {}) {
        const std::string path = dir / name;
        std::filesystem::copy_file(GAME_WINDOW_HELPER, path);
        std::filesystem::permissions(path, std::filesystem::perms::owner_all | std::filesystem::perms::others_read |
                                               std::filesystem::perms::others_exec);
        int memory = -1;
        if (launch.fromMemoryFile) {
            memory = memfd_create(name.c_str(), MFD_CLOEXEC);
            const std::string bytes = testsupport::ReadFile(path);
            if (memory < 0 || write(memory, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
                throw std::runtime_error("memfd");
        }
        int in[2];
        int out[2];
        if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
        const std::string argv0 = launch.argv0.empty() ? path : launch.argv0;
        char* argv[] = {const_cast<char*>(argv0.c_str()), const_cast<char*>(mode.c_str()), nullptr};
        pid_ = fork();
        if (pid_ == 0) {
            dup2(in[0], 0);
            dup2(out[1], 1);
            if (launch.uid >= 0 && (setgid(launch.uid) != 0 || setuid(launch.uid) != 0)) _exit(126);
            if (memory >= 0)
                fexecve(memory, argv, environ);
            else
                execve(path.c_str(), argv, environ);
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        if (memory >= 0) close(memory);
        stdin_ = in[1];
        if (pid_ < 0) {
            close(out[0]);
            throw std::runtime_error("fork failed");
        }
        // "ready id..." once its windows exist.
        std::string line;
        pollfd pfd{out[0], POLLIN, 0};
        char c = 0;
        while (poll(&pfd, 1, 10000) > 0 && read(out[0], &c, 1) == 1 && c != '\n') line += c;
        close(out[0]);
        std::istringstream words(line);
        std::string ready;
        words >> ready;
        if (ready != "ready") throw std::runtime_error("helper did not start: " + line);
        for (unsigned long id = 0; words >> id;) windows_.push_back(id);
        if (launch.deleteAfterStart) std::filesystem::remove(path);
    }
    ~HelperProcess() {
        close(stdin_);
        int status = 0;
        if (waitpid(pid_, &status, 0) != pid_) kill(pid_, SIGKILL);
    }
    HelperProcess(const HelperProcess&) = delete;
    HelperProcess& operator=(const HelperProcess&) = delete;

    long Pid() const { return pid_; }
    const std::vector<WindowId>& Windows() const { return windows_; }

private:
    pid_t pid_ = -1;
    int stdin_ = -1;
    std::vector<WindowId> windows_;
};

// The next ClientMessage a connection receives, waiting up to five seconds for it; false when
// none came.
bool NextClientMessage(Display* display, XEvent* event) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    for (;;) {
        while (XPending(display) > 0) {
            XNextEvent(display, event);
            if (event->type == ClientMessage) return true;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd pfd{ConnectionNumber(display), POLLIN, 0};
        poll(&pfd, 1, static_cast<int>(left.count()));
    }
}

class GameX11Test : public testing::Test {
protected:
    void SetUp() override {
        display_ = x11::OpenDisplayRetrying();
        ASSERT_TRUE(display_) << "no X display: run under tests/fixtures/with-xvfb.sh";
    }

    // Names unique to this test process, so that tests running side by side do not meet.
    std::string Unique(const std::string& base) const { return base + std::to_string(getpid()); }

    testsupport::TempDir dir_;
    x11::DisplayPtr display_;
};

TEST_F(GameX11Test, WindowsOfAProcessTopFirstAndRaised) {
    HelperProcess two(dir_, Unique("two-windows"), "two");
    HelperProcess hidden(dir_, Unique("hidden-window"), "hidden");
    ASSERT_EQ(two.Windows().size(), 2u);
    const WindowId first = two.Windows()[0];
    const WindowId second = two.Windows()[1];

    x11::WindowListX11 list(display_.get());
    // The later window was stacked on top.
    EXPECT_EQ(list.VisibleWindowsOf(two.Pid(), 1024), (std::vector<WindowId>{second, first}));
    EXPECT_EQ(list.VisibleWindowsOf(two.Pid(), 1), (std::vector<WindowId>{second}));

    ASSERT_TRUE(list.BringToFront(first));
    CMainWindowIterator it(list, two.Pid());
    EXPECT_EQ(it.Count(), 2u);
    EXPECT_EQ(it.First(), first);
    EXPECT_EQ(it.Next(), second);
    EXPECT_EQ(it.Next(), 0u);

    // An unmapped window is listed, but not as visible.
    const auto all = list.TopLevelWindows();
    const auto entry = std::find_if(all.begin(), all.end(), [&](const auto& w) { return w.pid == hidden.Pid(); });
    ASSERT_NE(entry, all.end());
    EXPECT_FALSE(entry->viewable);
    EXPECT_TRUE(list.VisibleWindowsOf(hidden.Pid(), 1024).empty());
    EXPECT_TRUE(list.VisibleWindowsOf(hidden.Pid() + 1000000, 1024).empty());
    EXPECT_FALSE(list.BringToFront(0x7FFFFFF));

    // A window manager hears both the game list's and the capture's activation as the member's
    // own choice (source indication 2, as a taskbar sends), which it lets take the focus. A
    // second connection stands in for the manager (Xvfb runs none here).
    x11::DisplayPtr manager = x11::OpenDisplayRetrying();
    ASSERT_TRUE(manager);
    XSelectInput(manager.get(), DefaultRootWindow(manager.get()), SubstructureRedirectMask);
    XSync(manager.get(), False);
    auto tracker = x11::WindowTrackerX11::Create();
    ASSERT_NE(tracker, nullptr);
    const Atom activeWindow = XInternAtom(manager.get(), "_NET_ACTIVE_WINDOW", False);
    XEvent event{};
    ASSERT_TRUE(list.BringToFront(second));
    ASSERT_TRUE(NextClientMessage(manager.get(), &event));
    EXPECT_EQ(event.xclient.window, second);
    EXPECT_EQ(event.xclient.message_type, activeWindow);
    EXPECT_EQ(event.xclient.data.l[0], 2);
    tracker->Activate(first);
    ASSERT_TRUE(NextClientMessage(manager.get(), &event));
    EXPECT_EQ(event.xclient.window, first);
    EXPECT_EQ(event.xclient.message_type, activeWindow);
    EXPECT_EQ(event.xclient.data.l[0], 2);
}

TEST_F(GameX11Test, RunningGamesAreOfferedAndTheirWindowChosen) {
    HelperProcess game(dir_, Unique("AlphaGame"), "window");
    HelperProcess quiet(dir_, Unique("quiet-proc"), "none");
    HelperProcess hidden(dir_, Unique("hidden-game"), "hidden");
    HelperProcess excluded(dir_, Unique("system-thing"), "window");

    const std::string alpha = Unique("alphagame");
    const std::vector<GameRecord> games = {
        {"Hidden", Unique("hidden-game"), "", ""},
        {"Alpha", alpha, "", ""},
        {"Not running", Unique("not-running"), "", ""},
        {"Mixed case", Unique("AlphaGame"), "", ""},  // written with capitals: never matches
    };
    const Strings system = {Unique("system-thing"), "bash"};

    CGameDetector detector;
    const Strings choices = detector.RefreshProcesses(games, system);
    ASSERT_GE(choices.size(), 3u);
    EXPECT_EQ(choices[0], "Hidden");
    EXPECT_EQ(choices[1], "Alpha");
    EXPECT_TRUE(std::is_sorted(choices.begin() + 2, choices.end()));
    const auto offered = [&](const std::string& name) {
        return std::find(choices.begin(), choices.end(), name) != choices.end();
    };
    EXPECT_TRUE(offered(Unique("quiet-proc")));
    EXPECT_FALSE(offered(alpha));
    EXPECT_FALSE(offered(Unique("AlphaGame")));
    EXPECT_FALSE(offered("Mixed case"));
    EXPECT_FALSE(offered("Not running"));
    EXPECT_FALSE(offered(Unique("system-thing")));
    EXPECT_FALSE(offered("bash"));

    EXPECT_EQ(detector.GameNamesFor("Alpha"), (Strings{"Alpha", "其他"}));

    EXPECT_FALSE(detector.SelectGameProcess(Unique("quiet-proc")));
    EXPECT_EQ(detector.FailureMessage(), "获取游戏窗口失败");
    EXPECT_FALSE(detector.SelectGameProcess("Hidden"));
    EXPECT_EQ(detector.FailureMessage(), "获取游戏窗口失败");

    ASSERT_TRUE(detector.SelectGameProcess("Alpha"));
    ASSERT_EQ(game.Windows().size(), 1u);
    EXPECT_EQ(detector.SelectedWindow(), game.Windows()[0]);
    EXPECT_EQ(detector.SelectedPid(), game.Pid());
    EXPECT_EQ(detector.SelectedProcess(), alpha);
    EXPECT_EQ(detector.FailureMessage(), "");

    // The chosen window was brought to the top.
    x11::WindowListX11 list(display_.get());
    const auto top = list.TopLevelWindows();
    const auto firstMapped = std::find_if(top.begin(), top.end(), [](const auto& w) { return w.viewable; });
    ASSERT_NE(firstMapped, top.end());
    EXPECT_EQ(firstMapped->window, game.Windows()[0]);
}

// A minimised game (unmapped by its window manager, in IconicState) is still an X11 game, in a
// Wayland session too: its window is chosen and brought to the front rather than handed to the
// desktop's portal, and the capture reads it through Composite once the manager restores it. A
// withdrawn window (unmapped, no state) is not a game window.
TEST_F(GameX11Test, AMinimisedGameIsChosenWithItsWindow) {
    HelperProcess game(dir_, Unique("MinimisedGame"), "minimised");
    HelperProcess withdrawn(dir_, Unique("withdrawn-game"), "hidden");
    ASSERT_EQ(game.Windows().size(), 1u);
    const WindowId window = game.Windows()[0];
    const std::vector<GameRecord> games = {{"Minimised", Unique("minimisedgame"), "", ""},
                                           {"Withdrawn", Unique("withdrawn-game"), "", ""}};

    // A second connection stands in for the window manager (Xvfb runs none here).
    x11::DisplayPtr manager = x11::OpenDisplayRetrying();
    ASSERT_TRUE(manager);
    XSelectInput(manager.get(), DefaultRootWindow(manager.get()), SubstructureRedirectMask);
    XSync(manager.get(), False);
    for (const bool wayland : {true, false}) {
        SCOPED_TRACE(wayland ? "Wayland session" : "X11 session");
        CGameDetector detector(&proc::ListOwnProcesses, std::make_unique<GameWindowsX11>(), wayland);
        detector.RefreshProcesses(games, {});
        ASSERT_TRUE(detector.SelectGameProcess("Minimised")) << detector.FailureMessage();
        EXPECT_EQ(detector.SelectedWindow(), window);
        EXPECT_EQ(detector.SelectedPid(), game.Pid());
        XEvent event{};
        ASSERT_TRUE(NextClientMessage(manager.get(), &event)) << "the game was not brought to the front";
        EXPECT_EQ(event.xclient.window, window);

        if (wayland) {
            // Withdrawn: the portal's, in a Wayland session, as a game without a window.
            ASSERT_TRUE(detector.SelectGameProcess("Withdrawn"));
            EXPECT_EQ(detector.SelectedWindow(), 0u);
        } else {
            EXPECT_FALSE(detector.SelectGameProcess("Withdrawn"));
        }
    }

    // Minimised, the capture waits; restored by the manager, Composite reads it.
    auto capture = x11::GameCaptureX11::Create(window);
    ASSERT_NE(capture, nullptr);
    platform::PictureSize size;
    EXPECT_EQ(platform::IGameCapture::State::Minimised, capture->Look(&size));
    Display* m = manager.get();
    const Atom wmState = XInternAtom(m, "WM_STATE", False);
    const long normal[2] = {NormalState, 0};
    XChangeProperty(m, window, wmState, wmState, 32, PropModeReplace, reinterpret_cast<const unsigned char*>(normal),
                    2);
    XMapRaised(m, window);
    XSync(m, False);
    ASSERT_TRUE(testsupport::WaitFor([&] { return capture->Look(&size) == platform::IGameCapture::State::Shown; }))
        << "the restored game is not shown";
    EXPECT_EQ((platform::PictureSize{200, 150}), size);
    platform::Picture picture;
    EXPECT_EQ(platform::IGameCapture::Result::Fresh, capture->Capture(size.width, size.height, &picture));
}

// Of processes that share the game's name and show no window (a native Wayland game and the
// launcher that started it), the one started last is chosen: its sound is the game's.
TEST_F(GameX11Test, WithoutAWindowTheGameStartedLastIsChosen) {
    testsupport::TempDir launcherDir;
    HelperProcess launcher(launcherDir, Unique("wayland-game"), "none");
    HelperProcess game(dir_, Unique("wayland-game"), "none");
    CGameDetector detector(&proc::ListOwnProcesses, std::make_unique<GameWindowsX11>(), true);
    detector.RefreshProcesses({{"Wayland game", Unique("wayland-game"), "", ""}}, {});
    ASSERT_TRUE(detector.SelectGameProcess("Wayland game"));
    EXPECT_EQ(detector.SelectedWindow(), 0u);
    EXPECT_EQ(detector.SelectedPid(), game.Pid()) << "the launcher (" << launcher.Pid() << ") was chosen";
    EXPECT_GE(proc::StartTimeOf(static_cast<int>(game.Pid())), proc::StartTimeOf(static_cast<int>(launcher.Pid())));
    EXPECT_GT(proc::StartTimeOf(static_cast<int>(game.Pid())), 0u);
}

// Run under Xvfb (no window manager) and under weston's window manager, which frames every
// window and keeps no _NET_CLIENT_LIST_STACKING: the game's own window is found inside its
// frame and measured; and where a manager does keep that list, its order is the one used.
TEST_F(GameX11Test, TheGameWindowIsFoundInsideFramesAndMeasured) {
    HelperProcess game(dir_, Unique("FramedGame"), "two");
    ASSERT_EQ(game.Windows().size(), 2u);
    Display* d = display_.get();
    const Window root = DefaultRootWindow(d);
    // The helper's windows are mapped, but a manager maps them (framed) in its own time.
    x11::WindowListX11 list(d);
    testsupport::WaitFor([&] { return list.VisibleWindowsOf(game.Pid(), 2).size() >= 2; }, std::chrono::seconds(5),
                         std::chrono::milliseconds(10));
    const auto visible = list.VisibleWindowsOf(game.Pid(), 1024);
    ASSERT_EQ(visible.size(), 2u);
    EXPECT_EQ(std::set<WindowId>(visible.begin(), visible.end()),
              std::set<WindowId>(game.Windows().begin(), game.Windows().end()));

    Window parentRoot = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    ASSERT_NE(0, XQueryTree(d, game.Windows()[1], &parentRoot, &parent, &children, &count));
    if (children != nullptr) XFree(children);
    Atom type = None;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char* data = nullptr;
    XGetWindowProperty(d, root, XInternAtom(d, "_NET_SUPPORTING_WM_CHECK", False), 0, 1, False, XA_WINDOW, &type,
                       &format, &items, &after, &data);
    if (data != nullptr) XFree(data);
    // A manager that reparents has put the window in a frame; without one it is the root's child.
    EXPECT_EQ(items == 1, parent != root);

    CGameDetector detector;
    const std::vector<GameRecord> games = {{"Framed", Unique("framedgame"), "", ""}};
    detector.RefreshProcesses(games, {});
    ASSERT_TRUE(detector.SelectGameProcess("Framed"));
    EXPECT_EQ(detector.SelectedWindow(), visible.front());
    auto tracker = x11::WindowTrackerX11::Create();
    ASSERT_NE(tracker, nullptr);
    x11::ScreenRect rect;
    ASSERT_TRUE(tracker->ClientRect(detector.SelectedWindow(), &rect));
    EXPECT_EQ(200, rect.Width());
    EXPECT_EQ(150, rect.Height());

    // A manager's own stacking list, bottom to top, decides the order when it is there.
    const Atom stacking = XInternAtom(d, "_NET_CLIENT_LIST_STACKING", False);
    const long order[2] = {static_cast<long>(visible[0]), static_cast<long>(visible[1])};  // first one at the bottom
    XChangeProperty(d, root, stacking, XA_WINDOW, 32, PropModeReplace, reinterpret_cast<const unsigned char*>(order),
                    2);
    XSync(d, False);
    EXPECT_EQ(list.VisibleWindowsOf(game.Pid(), 1024), (std::vector<WindowId>{visible[1], visible[0]}));
    XDeleteProperty(d, root, stacking);
    XSync(d, False);
}

}  // namespace

// What the process list calls each process, and which processes it hands the game dialog.
TEST_F(GameX11Test, ProcessesGoByTheNameOfTheirProgram) {
    // Another user's process must be able to run the copy.
    std::filesystem::permissions(dir_.path(), std::filesystem::perms::others_read | std::filesystem::perms::others_exec,
                                 std::filesystem::perm_options::add);
    const bool root = geteuid() == 0;
    const std::string id = std::to_string(getpid());
    const struct {
        std::string file;
        Launch launch;
        std::string listedAs;  // empty: not among the member's processes under any name
    } cases[] = {
        {"plain-game" + id, {}, "plain-game" + id},
        {"updated-game" + id, {"", false, true, -1}, "updated-game" + id},
        {"packed-game" + id, {"", true, false, -1}, ""},
        // A Wine loader goes by the Windows program it runs, at full length; by comm (the
        // loader's own name here) when the command line names none.
        {"wine64", Launch::WithArgv0("C:\\Games\\Long Name Game " + id + ".EXE"), "Long Name Game " + id + ".EXE"},
        {"wine64-preloader", Launch::WithArgv0("/home/member/games/unix" + id + ".exe"), "unix" + id + ".exe"},
        {"wine-preloader", Launch::WithArgv0("C:\\Games\\"), "wine-preloader"},
        {"other-member" + id, {"", false, false, 65534}, ""},
    };
    std::vector<std::unique_ptr<HelperProcess>> helpers;
    for (const auto& c : cases) {
        if (c.launch.uid >= 0 && !root) {
            std::fprintf(stderr, "not root: the case of another user's process is left out\n");
            helpers.push_back(nullptr);
            continue;
        }
        helpers.push_back(std::make_unique<HelperProcess>(dir_, c.file, "none", c.launch));
    }

    const auto all = proc::ListProcesses();
    const auto own = proc::ListOwnProcesses();
    const auto find = [](const std::vector<proc::ProcessEntry>& list, long pid) {
        const auto it = std::find_if(list.begin(), list.end(), [pid](const auto& p) { return p.pid == pid; });
        return it == list.end() ? std::string("(not listed)") : it->name;
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        if (!helpers[i]) continue;
        const auto& c = cases[i];
        const long pid = helpers[i]->Pid();
        EXPECT_EQ(find(own, pid), c.listedAs.empty() ? "(not listed)" : c.listedAs) << c.file;
        EXPECT_EQ(proc::ProgramNameOf(static_cast<int>(pid)).value_or("(none)"),
                  c.launch.fromMemoryFile ? "(none)" : c.launch.uid >= 0 ? c.file : c.listedAs)
            << c.file;
        // Another user's process is seen (by root) but is not the member's.
        if (c.launch.uid >= 0) {
            EXPECT_EQ(find(all, pid), c.file);
        }
    }

    // The dialog lists the member's processes by lower-cased program name.
    CGameDetector detector;
    const Strings choices = detector.RefreshProcesses({}, {});
    const auto offered = [&](const std::string& name) {
        return std::find(choices.begin(), choices.end(), name) != choices.end();
    };
    EXPECT_TRUE(offered("long name game " + id + ".exe"));
    EXPECT_TRUE(offered("updated-game" + id));
    EXPECT_FALSE(offered("other-member" + id));
    EXPECT_FALSE(std::any_of(choices.begin(), choices.end(), [](const auto& n) { return n.starts_with("memfd:"); }));
}

namespace {

// The configuration the installation ships, loaded as the broadcaster loads it in its folder (a
// private one: the documents are written back there as they go).
struct ShippedConfig {
    static std::filesystem::path Folder(const testsupport::TempDir& dir) {
        std::filesystem::create_directory(dir.path() / "default");
        std::filesystem::copy_file(STRIMO_INSTALL_DIR "/default/config.xml", dir.path() / "default/config.xml");
        return dir.path();
    }
    testsupport::TempDir dir;
    testsupport::ScopedChdir cd{Folder(dir)};
    MY_DATA_SPACE::CData data;
    bool loaded = data.LoadConfigFile();
};

}  // namespace

// Running processes are compared by their lower-cased names: an exclusion or game entry with a
// capital letter never matches, and its process is offered (or not recognised) as a game.
TEST(ShippedDefaults, NameProcessesAsTheyAreCompared) {
    const ShippedConfig shipped;
    ASSERT_TRUE(shipped.loaded);
    ASSERT_FALSE(shipped.data.SystemList().empty());
    ASSERT_FALSE(shipped.data.GameList().empty());
    for (const auto& name : shipped.data.SystemList()) EXPECT_EQ(name, LowerCaseName(name)) << "exclusion list entry";
    for (const auto& game : shipped.data.GameList())
        EXPECT_EQ(game.main, LowerCaseName(game.main)) << "game " << game.name;
}

// The desktop's own X server (Xvfb here, Xwayland under weston) runs as the member, like the
// game; the shipped exclusion list keeps it out of the game dialog.
TEST_F(GameX11Test, TheDisplayServerIsNotOfferedUnderTheShippedConfig) {
    const ShippedConfig shipped;
    ASSERT_TRUE(shipped.loaded);
    CGameDetector detector;
    CGameDetector::ProcessTable table;
    CGameDetector::OfferSet running;
    detector.EnumRunningProcesses(table, running);
    Strings servers;
    for (const char* name : {"xvfb", "xwayland", "xorg"})
        if (running.contains(name)) servers.emplace_back(name);
    ASSERT_FALSE(servers.empty()) << "no X server among this member's processes";

    const Strings choices = detector.RefreshProcesses(shipped.data.GameList(), shipped.data.SystemList());
    ASSERT_FALSE(choices.empty());
    for (const auto& server : servers)
        EXPECT_EQ(std::find(choices.begin(), choices.end(), server), choices.end()) << server << " is offered";
}
