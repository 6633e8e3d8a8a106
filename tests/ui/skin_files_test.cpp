// The skin the build draws: every picture the windows of both programs load, at the size the
// windows lay it out in, and the compiled-in resources.

#include <gtest/gtest.h>

#include <QFile>
#include <QImage>
#include <QImageReader>

#include "GifBlockWalker.h"
#include "SkinLayout.h"
#include "SkinResources.h"
#include "TempDir.h"

namespace {

struct Expected {
    std::string path;
    int width, height;
};

QSize SizeOf(const QString& path) {
    QImageReader reader(path);
    return reader.size();
}

}  // namespace

TEST(SkinFiles, EveryPictureTheWindowsLoadIsThereAtItsSize) {
    namespace L = SkinLayout;
    std::vector<Expected> expected = {
        {"bg.png", 640, 484}, {"my_message.png", 295, 193}, {"gameid.png", 332, 359},
        {"info_formview_info.png", 466, 440}, {"about/about_formview_about.png", 466, 440},
        {"help/help_formview_center.png", 466, 440}, {"help/help_formview_update.png", 466, 440},
        {"prop/prop_formview_audio.png", 466, 440}, {"prop/prop_formview_net.png", 466, 440},
        {"prop/prop_formview_video.png", 466, 440}, {"login/login.png", 365, 270}, {"ctrmain/ctrmain.png", 400, 300},
        {"ctrmain/ctrmain_tip_stop.png", L::CtrMain::kTipStop.width, L::CtrMain::kTipStop.height},
        {"bg_close_normal.png", 18, 16}, {"bg_close_select.png", 18, 16},
        {"bg_ok_normal.png", 65, 22}, {"bg_ok_select.png", 65, 22},
        {"bg_cancel_normal.png", 65, 22}, {"bg_cancel_select.png", 65, 22},
        {"prop/prop_btn_recover_normal.png", 127, 22}, {"prop/prop_btn_recover_select.png", 127, 22},
        {"prop/prop_btn_video_open_disable.png", 48, 25}, {"prop/prop_btn_video_set_disable.png", 48, 25},
        {"game_id_ok_normal.png", 69, 26}, {"game_id_ok_select.png", 69, 26},
        {"game_id_cancel_normal.png", 69, 26}, {"game_id_cancel_select.png", 69, 26},
        {"game_tip_linkus_normal.png", 50, 13}, {"game_tip_linkus_select.png", 50, 13},
        {"RadioBox_Check.bmp", 13, 13}, {"RadioBox_UnCheck.bmp", 13, 13},
        {"ComboBox_Arrowhead_Normal.bmp", 23, 23}, {"ComboBox_Arrowhead_Hover.bmp", 23, 23},
        {"ComboBox_Arrowhead_Down.bmp", 23, 23}, {"updata.gif", 500, 370},
    };
    for (const char* tab : {"bg_info", "bg_prop", "bg_help", "bg_about"})
        for (const char* look : {"_normal", "_hover", "_select"})
            expected.push_back({std::string(tab) + look + ".png", 127, 27});
    for (const char* sub : {"prop/prop_btn_net", "prop/prop_btn_audio", "prop/prop_btn_video", "help/upgrade",
                            "help/help", "about/soft_intro", "about/upgrade_info"})
        for (const char* look : {"_normal", "_select"})
            expected.push_back({std::string(sub) + look + ".png", 127, 20});
    const std::pair<const char*, L::Slot> places[] = {
        {"login/login_btn_login", L::Login::kLogin}, {"login/login_btn_register", L::Login::kRegister},
        {"login/login_btn_forget_passwd", L::Login::kForgotten}, {"login/login_btn_min", L::Login::kMinimise},
        {"login/login_btn_close", L::Login::kClose}, {"ctrmain/ctrmain_btn_start", L::CtrMain::kStart},
        {"ctrmain/ctrmain_btn_stop", L::CtrMain::kStop}, {"ctrmain/ctrmain_min", L::CtrMain::kMinimise},
        {"ctrmain/ctrmain_close", L::CtrMain::kClose}, {"ctrmain/ctrmain_look_video", L::CtrMain::kWatch},
        {"ctrmain/ctrmain_copy_link", L::CtrMain::kCopyLink}, {"ctrmain/info_btn", L::CtrMain::kInfo},
        {"ctrmain/prop_btn", L::CtrMain::kProp}, {"ctrmain/help_btn", L::CtrMain::kHelp},
        {"ctrmain/about_btn", L::CtrMain::kAbout}};
    for (const auto& [name, slot] : places)
        for (const char* look : {"_normal", "_select"})
            expected.push_back({std::string(name) + look + ".png", slot.width, slot.height});
    // The game identification dialog's close button is the main window's.
    EXPECT_EQ(L::CtrMain::kClose.width, 18);
    EXPECT_EQ(L::CtrMain::kClose.height, 16);

    for (const Expected& e : expected) {
        const QString path = QStringLiteral(STRIMO_INSTALL_DIR "/res/") + QString::fromStdString(e.path);
        EXPECT_EQ(SizeOf(path), QSize(e.width, e.height)) << e.path;
    }
}

TEST(SkinFiles, ButtonPicturesDifferBetweenTheirStates) {
    const QString res = QStringLiteral(STRIMO_INSTALL_DIR "/res/");
    for (const char* name : {"bg_ok", "bg_cancel", "bg_close", "game_id_ok", "prop/prop_btn_net", "login/login_btn_min",
                             "ctrmain/ctrmain_btn_start"}) {
        const QImage normal(res + name + "_normal.png");
        const QImage select(res + name + "_select.png");
        EXPECT_NE(normal, select) << name;
    }
}

TEST(SkinFiles, CompiledInResources) {
    EXPECT_EQ(SizeOf(SkinResources::Path(QStringLiteral("icon"), SkinResources::kAppIcon)), QSize(32, 32));
    const QImage arrows(SkinResources::Path(QStringLiteral("bitmap"), SkinResources::kComboArrows));
    EXPECT_EQ(arrows.width() % 3, 0) << "three arrow pictures side by side";
    EXPECT_FALSE(QImage(SkinResources::Path(QStringLiteral("bitmap"), SkinResources::kComboSelection)).isNull());

    QFile file(SkinResources::Path(QStringLiteral("gif"), SkinResources::kLiveAnimation));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    GifBlockWalker walker;
    ASSERT_TRUE(walker.Walk(reinterpret_cast<const std::uint8_t*>(bytes.constData()), static_cast<std::size_t>(bytes.size())));
    EXPECT_EQ(walker.ScreenWidth(), 98);
    EXPECT_EQ(walker.ScreenHeight(), 13);
    EXPECT_GE(walker.Frames().size(), 3u);
}
