// The order of the process choices, the game-name choices and the choice of a game window,
// over a fixed process list and fake windows.
#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "CGameDetector.h"
#include "FakeWindows.h"

using MY_DATA_SPACE::GameRecord;
using Strings = std::vector<std::string>;

namespace {

using testsupport::FakeWindows;

GameRecord Game(std::string name, std::string main) { return {std::move(name), std::move(main), "", ""}; }

class GameModelTest : public testing::Test {
protected:
    GameModelTest() {
        auto windows = std::make_unique<FakeWindows>(std::vector<IGameWindows::OwnedWindow>{
            {0x150, 15}, {0x100, 10}, {0x220, 22}, {0x130, 13}, {0x210, 21}, {0x101, 10}, {0x300, 30}});
        windows_ = windows.get();
        detector_ = std::make_unique<CGameDetector>(
            [this] { return processes_; }, std::move(windows));
    }

    std::vector<proc::ProcessEntry> processes_ = {
        {10, "Alpha.exe"}, {11, "zeta"}, {12, "beta"}, {13, "Beta"}, {14, "systemd"}, {15, "gamma"}, {16, "Omega"},
        // Copies sharing a name: a launcher without a window, a copy lower down, a copy on top;
        // and a windowed copy followed by one without a window.
        {20, "twin"}, {21, "Twin"}, {22, "twin"}, {30, "pair"}, {31, "pair"},
    };
    const std::vector<GameRecord> games_ = {
        Game("Gamma", "gamma"), Game("Alpha", "alpha.exe"), Game("Never", "never-running"),
        Game("Upper", "Omega"),  // never matches: process names are compared lower-cased
        Game("Omega again", "omega"),
    };
    const Strings system_ = {"systemd", "Zeta"};
    FakeWindows* windows_ = nullptr;
    std::unique_ptr<CGameDetector> detector_;
};

TEST_F(GameModelTest, KnownGamesComeFirstThenTheRestAlphabetically) {
    const Strings& choices = detector_->RefreshProcesses(games_, system_);
    // Games in game-list order under their display names; "zeta" stays because the exclusion
    // entry "Zeta" is not lower case; "beta" runs twice and is listed once.
    EXPECT_EQ(choices, (Strings{"Gamma", "Alpha", "Omega again", "beta", "pair", "twin", "zeta"}));
}

TEST_F(GameModelTest, EveryProcessOfANameIsKeptInListOrder) {
    CGameDetector::ProcessTable table;
    CGameDetector::OfferSet offers;
    detector_->EnumRunningProcesses(table, offers);
    EXPECT_EQ(table.at("beta"), (std::vector<long>{12, 13}));
    EXPECT_EQ(table.at("twin"), (std::vector<long>{20, 21, 22}));
    EXPECT_EQ(table.at("alpha.exe"), (std::vector<long>{10}));
    EXPECT_EQ(offers.count("Alpha.exe"), 0u);
    EXPECT_EQ(offers.size(), 8u);
}

TEST_F(GameModelTest, OfProcessesSharingANameTheOneWithTheTopWindowIsChosen) {
    detector_->RefreshProcesses(games_, system_);
    const struct {
        const char* text;
        CGameDetector::WindowId window;
        long pid;
    } cases[] = {
        {"twin", 0x220, 22},  // above the other copy's window; the launcher (20) shows none
        {"TWIN", 0x220, 22},
        {"pair", 0x300, 30},  // listed first, but the only one with a window
        {"beta", 0x130, 13},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(detector_->SelectGameProcess(c.text)) << c.text;
        EXPECT_EQ(detector_->SelectedWindow(), c.window) << c.text;
        EXPECT_EQ(detector_->SelectedPid(), c.pid) << c.text;
        EXPECT_EQ(windows_->raised.back(), c.window) << c.text;
    }
}

// Of the processes that share the game's name, the one that owns its window: a shown window
// before a minimised one, and a minimised one (which is restored) rather than none. Without any
// window (a native Wayland game, for the portal), the one started last of those that play sound
// (of all where none does): a launcher starts the game, and the chosen process is also whose
// sound "game sound only" records.
TEST(GameChoice, TheWindowsOwnerElseTheProcessStartedLast) {
    using Window = IGameWindows::OwnedWindow;
    const struct {
        const char* what;
        bool wayland;
        std::vector<proc::ProcessEntry> processes;  // name, then start in clock ticks
        std::vector<Window> windows;                // top first
        long pid;
        CGameDetector::WindowId window;
        std::vector<long> playing = {};  // play sound, themselves or through a child
    } cases[] = {
        {"a launcher and the game it started", true, {{40, "game", 100}, {41, "game", 250}}, {}, 41, 0},
        {"process ids that wrapped", true, {{7, "game", 900}, {31000, "game", 300}}, {}, 7, 0},
        {"started in the same tick", true, {{50, "game", 100}, {51, "game", 100}}, {}, 51, 0},
        {"only the launcher shows a window", true, {{40, "game", 100}, {41, "game", 250}}, {{0x400, 40}}, 40, 0x400},
        {"minimised, in a Wayland session", true, {{40, "game", 100}, {41, "game", 250}}, {{0x410, 41, true}}, 41,
         0x410},
        {"minimised, in an X11 session", false, {{40, "game", 100}, {41, "game", 250}}, {{0x410, 41, true}}, 41,
         0x410},
        {"a shown window below a minimised one", false, {{40, "game", 100}, {41, "game", 250}},
         {{0x411, 41, true}, {0x400, 40}}, 40, 0x400},
        {"the game plays, a silent helper it started is younger", true,
         {{40, "game", 100}, {41, "game", 250}, {42, "game", 400}}, {}, 41, 0, {40, 41}},
        {"none plays", true, {{40, "game", 100}, {41, "game", 250}, {42, "game", 400}}, {}, 42, 0, {}},
        {"a window before sound", true, {{40, "game", 100}, {41, "game", 250}}, {{0x400, 40}}, 40, 0x400, {41}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto windows = std::make_unique<FakeWindows>(c.windows);
        FakeWindows* fake = windows.get();
        CGameDetector detector([&c] { return c.processes; }, std::move(windows), c.wayland,
                               [&c](const std::vector<long>& pids) {
                                   std::vector<long> found;
                                   for (long pid : pids)
                                       if (std::find(c.playing.begin(), c.playing.end(), pid) != c.playing.end())
                                           found.push_back(pid);
                                   return found;
                               });
        detector.RefreshProcesses({Game("Game", "game")}, {});
        ASSERT_TRUE(detector.SelectGameProcess("Game"));
        EXPECT_EQ(detector.SelectedPid(), c.pid);
        EXPECT_EQ(detector.SelectedWindow(), c.window);
        EXPECT_EQ(fake->raised, c.window != 0 ? std::vector<CGameDetector::WindowId>{c.window}
                                              : std::vector<CGameDetector::WindowId>{});
    }
}

TEST_F(GameModelTest, GameNamesOfferTheGameThenOther) {
    detector_->RefreshProcesses(games_, system_);
    EXPECT_EQ(detector_->GameNamesFor("Alpha"), (Strings{"Alpha", "其他"}));
    EXPECT_EQ(detector_->GameNamesFor("beta"), (Strings{"其他"}));
    EXPECT_EQ(detector_->GameNamesFor("alpha"), (Strings{"其他"}));
}

// Names are lower-cased whole, not only their ASCII letters: a game entry "éclair" matches the
// process "Éclair". Bytes that are not UTF-8 stay as they are.
TEST(ProcessNames, LowerCasedWhole) {
    const std::pair<std::string, std::string> cases[] = {
        {"Éclair", "éclair"},
        {"ÅNGSTRÖM.x86_64", "ångström.x86_64"},
        {"ΣΕΛΗΝΗ", "σεληνη"},
        {"ДОТА", "дота"},
        {"ＦＵＬＬ", "ｆｕｌｌ"},
        {"Straße", "straße"},
        {"游戏Game", "游戏game"},
        {"Bad\xFF\xC3(Byte\xC3", "bad\xFF\xC3(byte\xC3"},
        {"\xC0\xAFOverlong", "\xC0\xAFoverlong"},
    };
    for (const auto& [name, lower] : cases) EXPECT_EQ(CGameDetector::LowerCase(name), lower) << name;

    std::vector<proc::ProcessEntry> running = {{5, "Éclair"}, {6, "ÖLAND"}};
    auto windows = std::make_unique<FakeWindows>(std::vector<IGameWindows::OwnedWindow>{{0x500, 5}});
    CGameDetector detector([&running] { return running; }, std::move(windows));
    const Strings& choices = detector.RefreshProcesses({Game("Éclair Deluxe", "éclair")}, {"öland"});
    EXPECT_EQ(choices, (Strings{"Éclair Deluxe"}));
    ASSERT_TRUE(detector.SelectGameProcess("Éclair Deluxe"));
    EXPECT_EQ(detector.SelectedPid(), 5);
    EXPECT_EQ(detector.SelectedProcess(), "éclair");
}

TEST_F(GameModelTest, ChoosingAGameTakesItsTopWindow) {
    detector_->RefreshProcesses(games_, system_);
    ASSERT_TRUE(detector_->SelectGameProcess("Alpha"));
    EXPECT_EQ(detector_->SelectedWindow(), 0x100u);
    EXPECT_EQ(detector_->SelectedProcess(), "alpha.exe");
    EXPECT_EQ(detector_->SelectedPid(), 10);
    EXPECT_EQ(windows_->raised, (std::vector<CGameDetector::WindowId>{0x100}));

    // A typed executable name is lower-cased; an excluded process can still be chosen by name.
    ASSERT_TRUE(detector_->SelectGameProcess("BETA"));
    EXPECT_EQ(detector_->SelectedPid(), 13);
    EXPECT_EQ(detector_->SelectedWindow(), 0x130u);

    // A refresh forgets the choice.
    detector_->RefreshProcesses(games_, system_);
    EXPECT_EQ(detector_->SelectedWindow(), 0u);
    EXPECT_EQ(detector_->SelectedProcess(), "");
}

TEST_F(GameModelTest, NoVisibleWindowIsRefused) {
    detector_->RefreshProcesses(games_, system_);
    for (const char* text : {"zeta", "Never", "not-running", ""}) {
        EXPECT_FALSE(detector_->SelectGameProcess(text)) << text;
        EXPECT_EQ(detector_->FailureMessage(), "获取游戏窗口失败") << text;
        EXPECT_EQ(detector_->SelectedWindow(), 0u) << text;
    }
    EXPECT_TRUE(windows_->raised.empty());

    // In a Wayland session a running game without an X11 window is a native Wayland client:
    // it is chosen without a window, for the desktop's portal to share; what does not run is
    // still refused.
    CGameDetector wayland([this] { return processes_; }, std::make_unique<FakeWindows>(), true);
    wayland.RefreshProcesses(games_, system_);
    ASSERT_TRUE(wayland.SelectGameProcess("zeta"));
    EXPECT_EQ(wayland.SelectedWindow(), 0u);
    EXPECT_EQ(wayland.SelectedPid(), 11);
    EXPECT_EQ(wayland.SelectedProcess(), "zeta");
    EXPECT_EQ(wayland.FailureMessage(), "");
    for (const char* text : {"Never", "not-running", ""}) {
        EXPECT_FALSE(wayland.SelectGameProcess(text)) << text;
        EXPECT_EQ(wayland.FailureMessage(), "获取游戏窗口失败") << text;
    }
}

TEST_F(GameModelTest, NoProcessesMeansNoChoices) {
    processes_.clear();
    EXPECT_TRUE(detector_->RefreshProcesses(games_, system_).empty());
    EXPECT_FALSE(detector_->SelectGameProcess("Alpha"));
}

}  // namespace

namespace {

// When a process started, from its /proc/PID/stat; the name in parentheses may hold anything.
TEST(ProgramNames, StartTimeFromStat) {
    const auto stat = [](const std::string& name) {
        return "4242 (" + name + ") S 1 4242 4242 0 -1 4194560 120 0 0 0 3 1 0 0 20 0 1 0 987654 1000 50 18446744073709551615";
    };
    EXPECT_EQ(proc::StartTimeFromStat(stat("game")), 987654u);
    EXPECT_EQ(proc::StartTimeFromStat(stat("a) S 1 2 3 (b")), 987654u);
    EXPECT_EQ(proc::StartTimeFromStat(stat("Space Trader")), 987654u);
    EXPECT_EQ(proc::StartTimeFromStat("4242 (cut) S 1 2"), 0u);
    EXPECT_EQ(proc::StartTimeFromStat(""), 0u);
}

// The name of a program from its /proc entries: executable link, raw command line, comm.
TEST(ProgramNames, FromWhatProcSays) {
    using namespace std::string_literals;
    const struct {
        std::string executable, commandLine, comm;
        std::optional<std::string> name;
    } cases[] = {
        {"/usr/games/supertuxkart", "supertuxkart\0"s, "supertuxkart\n", "supertuxkart"},
        {"/opt/game/bin/Game (deleted)", "", "", "Game"},
        {"/memfd:sealed-1234 (deleted)", "", "", std::nullopt},
        {"/memfd:game", "", "", std::nullopt},
        {"/", "", "", std::nullopt},
        // Wine's own processes and a game, as Debian's wine64 shows them.
        {"/usr/lib/wine/wine64", "C:\\windows\\system32\\services.exe\0\0\0\0"s, "services.exe\n", "services.exe"},
        {"/usr/lib/wine/wine64", "./TestGame.exe\0\0\0"s, "TestGame.exe\n", "TestGame.exe"},
        // Proton's loader, a Windows name longer than comm's 15 bytes, spaces kept.
        {"/home/m/.steam/steamapps/common/Proton 8.0/dist/bin/wine64-preloader",
         "Z:\\home\\m\\Games\\Space Trader Deluxe.exe\0"s, "Space Trader De\n", "Space Trader Deluxe.exe"},
        {"/usr/lib/wine/wine", "C:/Games/Mixed\\Path/Game.exe\0"s, "Game.exe\n", "Game.exe"},
        // Still starting: the loaders on the command line are passed over.
        {"/usr/lib/wine/wine64-preloader", "/usr/lib/wine/wine64-preloader\0/usr/lib/wine/wine64\0game.exe\0"s,
         "wine64-preloa\n", "game.exe"},
        // Nothing on the command line: comm, else the loader itself.
        {"/usr/lib/wine/wine-preloader", "C:\\Games\\\0"s, "Cut At Fifteen.\n", "Cut At Fifteen."},
        {"/usr/lib/wine/wine64", "", "", "wine64"},
        {"/usr/lib/wine/wine64 (deleted)", "C:\\Games\\Old.exe\0"s, "Old.exe\n", "Old.exe"},
        // Only the loaders themselves: these are ordinary programs.
        {"/usr/bin/wine64-helper", "C:\\x.exe\0"s, "", "wine64-helper"},
        {"/usr/lib/wine/wineserver64", "/usr/lib/wine/wineserver64\0-p0\0"s, "wineserver64\n", "wineserver64"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(proc::ProgramName(c.executable, c.commandLine, c.comm), c.name) << c.executable;
    }
}

}  // namespace
