#include "MenuPageTexts.h"

#include <fstream>

#include <QStringList>

#include "ServicePages.h"

namespace MenuPageTexts {

std::string ForumPageUrl(const MY_DATA_SPACE::ServerAddressTable& servers) {
    const std::string home = HomePageUrl(servers);
    return home.empty() ? home : home + "forum/";
}

std::string MainSiteUrl(const MY_DATA_SPACE::ServerAddressTable& servers) { return HomePageUrl(servers); }

QString RoomName(const QString& userName) { return userName + QStringLiteral("的直播间"); }

QString ProductTitle(const std::string& version) {
    return QStringLiteral("STRIMO直播") + QString::fromStdString(version);
}

QString OwnershipNotice() { return QStringLiteral("版权所有 © STRIMO直播团队"); }

QString ProductDescription() {
    const QStringList pieces = {
        QStringLiteral("    STRIMO直播是一款面向游戏玩家的直播软件，让您把正在玩的游戏画面"),
        QStringLiteral("实时传到网站的直播间，其他玩家打开直播间的网页就能观看。"),
        QStringLiteral("选好游戏进程、写一句游戏介绍，按下开始直播，一步就能开播。"),
        QStringLiteral("软件按您的设置调整上传速度、画面大小、画质和帧率，网速慢也流畅。"),
        QStringLiteral("可以同时直播麦克风和电脑的声音，也可以只传画面，不传声音。"),
        QStringLiteral("游戏窗口关闭或网络中断时，直播会自动结束，您的设置不会丢失。"),
    };
    return QStringLiteral("\n") + pieces.join(QStringLiteral("\n\n"));
}

QString ReadUpdataInfo(const std::string& path) {
    // A line that does not fit the 1024-byte line buffer with its end ends the reading.
    constexpr std::size_t kLongestLine = 1022;
    std::ifstream in(path, std::ios::binary);
    if (!in) return QString();
    QString text;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.size() > kLongestLine) break;
        text += QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size()));
        text += QLatin1Char('\n');
    }
    return text;
}

}  // namespace MenuPageTexts
