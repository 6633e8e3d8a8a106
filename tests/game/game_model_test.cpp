// The order of the process choices, the game-name choices and the choice of a game window,
// over a fixed process list and fake windows.
#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "CGameDetector.h"

using MY_DATA_SPACE::GameRecord;
using Strings = std::vector<std::string>;

namespace {

class FakeWindows : public IGameWindows {
public:
    explicit FakeWindows(std::map<long, std::vector<WindowId>> windows) : windows_(std::move(windows)) {}
    std::vector<WindowId> VisibleWindowsOf(long pid) override {
        const auto it = windows_.find(pid);
        return it == windows_.end() ? std::vector<WindowId>{} : it->second;
    }
    void BringToFront(WindowId window) override { raised.push_back(window); }

    std::vector<WindowId> raised;

private:
    std::map<long, std::vector<WindowId>> windows_;
};

GameRecord Game(std::string name, std::string main) { return {std::move(name), std::move(main), "", ""}; }

class GameModelTest : public testing::Test {
protected:
    GameModelTest() {
        auto windows = std::make_unique<FakeWindows>(std::map<long, std::vector<CGameDetector::WindowId>>{
            {10, {0x100, 0x101}}, {13, {0x130}}, {15, {0x150}}});
        windows_ = windows.get();
        detector_ = std::make_unique<CGameDetector>(
            [this] { return processes_; }, std::move(windows));
    }

    std::vector<proc::ProcessEntry> processes_ = {
        {10, "Alpha.exe"}, {11, "zeta"}, {12, "beta"}, {13, "Beta"}, {14, "systemd"}, {15, "gamma"}, {16, "Omega"},
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
    EXPECT_EQ(choices, (Strings{"Gamma", "Alpha", "Omega again", "beta", "zeta"}));
}

TEST_F(GameModelTest, TheProcessEnumeratedLastSuppliesTheId) {
    CGameDetector::ProcessTable table;
    CGameDetector::OfferSet offers;
    detector_->EnumRunningProcesses(table, offers);
    EXPECT_EQ(table.at("beta"), 13);
    EXPECT_EQ(table.at("alpha.exe"), 10);
    EXPECT_EQ(offers.count("Alpha.exe"), 0u);
    EXPECT_EQ(offers.size(), 6u);
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
    auto windows = std::make_unique<FakeWindows>(std::map<long, std::vector<CGameDetector::WindowId>>{{5, {0x500}}});
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
}

TEST_F(GameModelTest, NoProcessesMeansNoChoices) {
    processes_.clear();
    EXPECT_TRUE(detector_->RefreshProcesses(games_, system_).empty());
    EXPECT_FALSE(detector_->SelectGameProcess("Alpha"));
}

}  // namespace
