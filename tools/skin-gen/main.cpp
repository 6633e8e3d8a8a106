// Draws the skin: every picture file the windows load from res/, and the pictures compiled
// into the programs. The catalogue below names each file, its size and its label; the look
// itself is SkinPainter's.
//
//   skin-gen res DIR        writes the res/ tree into DIR
//   skin-gen resources DIR  writes 155.gif, 148.bmp, 149.bmp, 162.png and skin.qrc into DIR
//   skin-gen icons DIR      writes the program's icon as DIR/NxN/apps/strimo.png, a hicolor theme

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include "GifWriter.h"
#include "SkinLayout.h"
#include "SkinPainter.h"

namespace {

using Look = SkinPainter::Look;

struct Writer {
    QString root;
    int written = 0;
    bool failed = false;

    void Save(const QString& name, const QImage& image) {
        const QString path = root + QLatin1Char('/') + name;
        QDir().mkpath(QFileInfo(path).absolutePath());
        const bool bmp = name.endsWith(QLatin1String(".bmp"));
        const QImage out = bmp ? image.convertToFormat(QImage::Format_RGB888) : image;
        if (!out.save(path, bmp ? "BMP" : "PNG")) {
            std::fprintf(stderr, "skin-gen: cannot write %s\n", qPrintable(path));
            failed = true;
        }
        ++written;
    }
    void SaveBytes(const QString& name, const std::vector<std::uint8_t>& bytes) {
        const QString path = root + QLatin1Char('/') + name;
        QDir().mkpath(QFileInfo(path).absolutePath());
        std::ofstream out(path.toStdString(), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        if (!out) {
            std::fprintf(stderr, "skin-gen: cannot write %s\n", qPrintable(path));
            failed = true;
        }
        ++written;
    }
    // name_normal.png, name_select.png (and name_hover.png when asked).
    void Pair(const QString& name, const std::function<QImage(Look)>& draw, bool hover = false) {
        Save(name + QLatin1String("_normal.png"), draw(Look::Normal));
        if (hover) Save(name + QLatin1String("_hover.png"), draw(Look::Hover));
        Save(name + QLatin1String("_select.png"), draw(Look::Select));
    }
};

std::function<QImage(Look)> ButtonOf(int w, int h, const QString& label) {
    return [=](Look look) { return SkinPainter::Button(w, h, label, look); };
}
std::function<QImage(Look)> TabOf(const QString& label, bool sub) {
    return [=](Look look) { return SkinPainter::Tab(127, sub ? 20 : 27, label, look, sub); };
}
std::function<QImage(Look)> TitleButtonOf(int w, int h, bool close) {
    return [=](Look look) { return SkinPainter::TitleButton(w, h, close, look); };
}
std::function<QImage(Look)> SlotButton(const SkinLayout::Slot& slot, const QString& label) {
    return ButtonOf(slot.width, slot.height, label);
}

void WriteRes(Writer& w) {
    namespace L = SkinLayout;
    // Faces.
    w.Save("bg.png", SkinPainter::MainMenuFace());
    w.Save("my_message.png", SkinPainter::Face(295, 193, QStringLiteral("提示"), 28));
    w.Save("gameid.png", SkinPainter::Face(332, 359, QStringLiteral("选择直播的游戏"), 32));
    w.Save("info_formview_info.png", SkinPainter::PageFace(QStringLiteral("个人信息")));
    w.Save("about/about_formview_about.png", SkinPainter::PageFace(QStringLiteral("关于")));
    w.Save("help/help_formview_center.png", SkinPainter::PageFace(QStringLiteral("帮助中心")));
    w.Save("help/help_formview_update.png", SkinPainter::PageFace(QStringLiteral("在线升级")));
    w.Save("prop/prop_formview_audio.png", SkinPainter::PageFace(QStringLiteral("声音")));
    w.Save("prop/prop_formview_net.png", SkinPainter::PageFace(QStringLiteral("网络")));
    {
        // The video page's combo boxes (quality, size, frame rate) sit at x 72 from y 201, 235
        // and 268; their captions are part of the face.
        QImage face = SkinPainter::PageFace(QStringLiteral("视频"));
        QPainter p(&face);
        p.setPen(SkinPainter::TitleBlue());
        p.setFont(SkinPainter::Font(12));
        const char* const captions[3] = {"画面质量", "画面大小", "视频帧率"};
        const int tops[3] = {201, 235, 268};
        for (int i = 0; i < 3; ++i)
            p.drawText(QRect(0, tops[i], 66, 23), Qt::AlignRight | Qt::AlignVCenter, QString::fromUtf8(captions[i]));
        w.Save("prop/prop_formview_video.png", face);
    }
    w.Save("login/login.png", SkinPainter::Face(365, 270, QStringLiteral("STRIMO直播"), 30));
    {
        QImage face = SkinPainter::Face(400, 300, QStringLiteral("STRIMO直播"), 30);
        QPainter p(&face);
        p.setPen(SkinPainter::TitleBlue());
        p.setFont(SkinPainter::Font(12));
        const auto& a = L::CtrMain::kAudioSource;
        p.drawText(QRect(15, a.y, a.x - 20, a.height), Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("声音来源"));
        w.Save("ctrmain/ctrmain.png", face);
    }
    w.Save("ctrmain/ctrmain_tip_stop.png", SkinPainter::TipStop(L::CtrMain::kTipStop.width, L::CtrMain::kTipStop.height));

    // Main-menu tabs (normal, hover, select) and sub-tabs (normal, select).
    w.Pair("bg_info", TabOf(QStringLiteral("个人信息"), false), true);
    w.Pair("bg_prop", TabOf(QStringLiteral("软件设置"), false), true);
    w.Pair("bg_help", TabOf(QStringLiteral("帮助中心"), false), true);
    w.Pair("bg_about", TabOf(QStringLiteral("关于软件"), false), true);
    w.Pair("prop/prop_btn_net", TabOf(QStringLiteral("网络设置"), true));
    w.Pair("prop/prop_btn_audio", TabOf(QStringLiteral("声音设置"), true));
    w.Pair("prop/prop_btn_video", TabOf(QStringLiteral("视频设置"), true));
    w.Pair("help/upgrade", TabOf(QStringLiteral("在线升级"), true));
    w.Pair("help/help", TabOf(QStringLiteral("帮助中心"), true));
    w.Pair("about/soft_intro", TabOf(QStringLiteral("软件介绍"), true));
    w.Pair("about/upgrade_info", TabOf(QStringLiteral("升级信息"), true));

    // Buttons.
    w.Pair("bg_close", TitleButtonOf(18, 16, true));
    w.Pair("bg_ok", ButtonOf(65, 22, QStringLiteral("确定")));
    w.Pair("bg_cancel", ButtonOf(65, 22, QStringLiteral("取消")));
    w.Pair("prop/prop_btn_recover", ButtonOf(127, 22, QStringLiteral("恢复初始化")));
    w.Save("prop/prop_btn_video_open_disable.png", SkinPainter::Button(48, 25, QStringLiteral("打开"), Look::Disable));
    w.Save("prop/prop_btn_video_set_disable.png", SkinPainter::Button(48, 25, QStringLiteral("设置"), Look::Disable));
    w.Pair("game_id_ok", ButtonOf(69, 26, QStringLiteral("确定")));
    w.Pair("game_id_cancel", ButtonOf(69, 26, QStringLiteral("取消")));
    w.Pair("game_tip_linkus", [](Look look) { return SkinPainter::LinkPicture(50, 13, QStringLiteral("联系我们"), look); });

    // Login window.
    w.Pair("login/login_btn_login", SlotButton(L::Login::kLogin, QStringLiteral("登  录")));
    w.Pair("login/login_btn_register", [](Look look) {
        return SkinPainter::LinkPicture(L::Login::kRegister.width, L::Login::kRegister.height, QStringLiteral("注册账号"), look);
    });
    w.Pair("login/login_btn_forget_passwd", [](Look look) {
        return SkinPainter::LinkPicture(L::Login::kForgotten.width, L::Login::kForgotten.height, QStringLiteral("忘记密码"), look);
    });
    w.Pair("login/login_btn_min", TitleButtonOf(L::Login::kMinimise.width, L::Login::kMinimise.height, false));
    w.Pair("login/login_btn_close", TitleButtonOf(L::Login::kClose.width, L::Login::kClose.height, true));

    // Main control window.
    w.Pair("ctrmain/ctrmain_btn_start", SlotButton(L::CtrMain::kStart, QStringLiteral("开始直播")));
    w.Pair("ctrmain/ctrmain_btn_stop", [](Look look) {
        QImage image = SkinPainter::Button(L::CtrMain::kStop.width, L::CtrMain::kStop.height, QStringLiteral("停止直播"), look);
        QPainter p(&image);  // a red stop square marks the running broadcast
        p.fillRect(14, L::CtrMain::kStop.height / 2 - 5, 10, 10, QColor(224, 40, 40));
        return image;
    });
    w.Pair("ctrmain/ctrmain_min", TitleButtonOf(L::CtrMain::kMinimise.width, L::CtrMain::kMinimise.height, false));
    w.Pair("ctrmain/ctrmain_close", TitleButtonOf(L::CtrMain::kClose.width, L::CtrMain::kClose.height, true));
    w.Pair("ctrmain/ctrmain_look_video", SlotButton(L::CtrMain::kWatch, QStringLiteral("观看直播")));
    w.Pair("ctrmain/ctrmain_copy_link", SlotButton(L::CtrMain::kCopyLink, QStringLiteral("复制链接")));
    w.Pair("ctrmain/info_btn", SlotButton(L::CtrMain::kInfo, QStringLiteral("个人信息")));
    w.Pair("ctrmain/prop_btn", SlotButton(L::CtrMain::kProp, QStringLiteral("软件设置")));
    w.Pair("ctrmain/help_btn", SlotButton(L::CtrMain::kHelp, QStringLiteral("帮助中心")));
    w.Pair("ctrmain/about_btn", SlotButton(L::CtrMain::kAbout, QStringLiteral("关于软件")));

    // Marks and combo-box arrows.
    w.Save("RadioBox_Check.bmp", SkinPainter::RadioMark(true));
    w.Save("RadioBox_UnCheck.bmp", SkinPainter::RadioMark(false));
    w.Save("ComboBox_Arrowhead_Normal.bmp", SkinPainter::ComboArrow(23, Look::Normal));
    w.Save("ComboBox_Arrowhead_Hover.bmp", SkinPainter::ComboArrow(23, Look::Hover));
    w.Save("ComboBox_Arrowhead_Down.bmp", SkinPainter::ComboArrow(23, Look::Select));

    // The updater's splash: the full picture once, then only the progress bar changes.
    const int width = 500, height = 370, steps = 8;
    const QRect bar(150, 300, 200, 6);
    GifWriter gif(width, height, SkinPainter::Palette());
    gif.AddLoop();
    QImage first = SkinPainter::SplashBackground(width, height);
    {
        QPainter p(&first);
        p.drawImage(bar.topLeft(), SkinPainter::SplashBar(bar.width(), bar.height(), 0, steps));
    }
    gif.AddFrame(SkinPainter::Indices(first), width, height, {20, 1, -1, true});
    for (int step = 1; step < steps; ++step) {
        const QImage part = SkinPainter::SplashBar(bar.width(), bar.height(), step, steps);
        gif.AddFrame(SkinPainter::Indices(part), bar.x(), bar.y(), bar.width(), bar.height(), {20, 1, -1, true});
    }
    w.SaveBytes("updata.gif", gif.Finish());
}

void WriteResources(Writer& w) {
    GifWriter gif(98, 13, SkinPainter::Palette());
    gif.AddLoop();
    for (const QImage& frame : SkinPainter::LiveAnimation(4))
        gif.AddFrame(SkinPainter::Indices(frame), 98, 13, {25, 1, -1, true});
    w.SaveBytes("155.gif", gif.Finish());

    // 148: normal, hover and pressed arrows side by side; 149: the selected list item.
    QImage arrows(60, 20, QImage::Format_RGB32);
    {
        QPainter p(&arrows);
        const Look looks[] = {Look::Normal, Look::Hover, Look::Select};
        for (int i = 0; i < 3; ++i)
            p.drawImage(QRect(i * 20, 0, 20, 20), SkinPainter::ComboArrow(20, looks[i]));
    }
    w.Save("148.bmp", arrows);
    QImage selection(100, 20, QImage::Format_RGB32);
    {
        QPainter p(&selection);
        QLinearGradient fill(0, 0, 0, 20);
        fill.setColorAt(0, SkinPainter::BrightBlue().lighter(130));
        fill.setColorAt(1, SkinPainter::BrightBlue());
        p.fillRect(selection.rect(), fill);
    }
    w.Save("149.bmp", selection);
    w.Save("162.png", SkinPainter::Icon(32));

    const std::string qrc =
        "<!DOCTYPE RCC><RCC version=\"1.0\">\n<qresource prefix=\"/\">\n"
        "  <file alias=\"gif/155\">155.gif</file>\n"
        "  <file alias=\"bitmap/148\">148.bmp</file>\n"
        "  <file alias=\"bitmap/149\">149.bmp</file>\n"
        "  <file alias=\"icon/162\">162.png</file>\n"
        "</qresource>\n</RCC>\n";
    w.SaveBytes("skin.qrc", std::vector<std::uint8_t>(qrc.begin(), qrc.end()));
}

// The desktop's icon theme picks the nearest of these sizes; every size is drawn, not scaled.
void WriteIcons(Writer& w) {
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256})
        w.Save(QStringLiteral("%1x%1/apps/strimo.png").arg(size), SkinPainter::Icon(size));
}

}  // namespace

int main(int argc, char** argv) {
    // Pictures need fonts and a paint engine, never a display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const std::string what = argc == 3 ? argv[1] : "";
    if (what != "res" && what != "resources" && what != "icons") {
        std::fprintf(stderr, "usage: skin-gen res|resources|icons DIR\n");
        return 2;
    }
    Writer writer{QString::fromLocal8Bit(argv[2])};
    if (what == "res")
        WriteRes(writer);
    else if (what == "resources")
        WriteResources(writer);
    else
        WriteIcons(writer);
    if (writer.failed) return 1;
    std::printf("skin-gen: %d files in %s\n", writer.written, argv[2]);
    return 0;
}
