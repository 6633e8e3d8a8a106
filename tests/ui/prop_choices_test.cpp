// The settings pages' value mappings and the texts of the information and about pages.
#include <gtest/gtest.h>

#include "MenuPageTexts.h"
#include "PropChoices.h"
#include "ServerAddresses.h"
#include "TempDir.h"

using namespace PropChoices;

TEST(PropChoices, RatesOnOfferRoundTripAndOthersFallBackTo500k) {
    for (int index = 0; index < 4; ++index) EXPECT_EQ(NetIndexForRate(RateForNetIndex(index)), index);
    for (int rate : kRates) EXPECT_EQ(RateForNetIndex(NetIndexForRate(rate)), rate);
    for (int rate : {0, -1, 400000, 1000001, 2000000}) {
        EXPECT_EQ(NetIndexForRate(rate), 1) << rate;
        EXPECT_EQ(RateForNetIndex(NetIndexForRate(rate)), 500000) << rate;
    }
    EXPECT_EQ(RateForNetIndex(-1), 500000);
    EXPECT_EQ(RateForNetIndex(7), 500000);
}

TEST(PropChoices, SizesFallBackToFullSize) {
    for (int size : kSizes) EXPECT_EQ(PercentForSizeItem(SizeItemForPercent(size)), size);
    EXPECT_EQ(SizeItemForPercent(60), 2);
    EXPECT_EQ(SizeItemForPercent(0), 2);
    EXPECT_EQ(PercentForSizeItem(-1), 100);
}

TEST(PropChoices, FrameRatesFallBackToEight) {
    for (int rate : kFrameRates) EXPECT_EQ(FrameRateForItem(FrameRateItemFor(rate)), rate);
    // A stored 12 is shown as "8(f/s)" and stored back as 8.
    EXPECT_EQ(FrameRateItemFor(12), 0);
    EXPECT_EQ(FrameRateForItem(FrameRateItemFor(12)), 8);
    EXPECT_EQ(FrameRateForItem(-1), 8);
}

TEST(PropChoices, QualityAndSoundOutOfRangeSelectNothing) {
    for (int q = 0; q < 3; ++q) EXPECT_EQ(QualityItemFor(q), q);
    EXPECT_EQ(QualityItemFor(3), -1);
    EXPECT_EQ(QualityItemFor(-2), -1);
    for (int s = 0; s < 3; ++s) EXPECT_EQ(SoundRadioFor(s), s);
    EXPECT_EQ(SoundRadioFor(3), -1);
    EXPECT_EQ(SoundOnFor(0), 0);
    EXPECT_EQ(SoundOnFor(1), 1);
    EXPECT_EQ(SoundOnFor(5), 1);
}

TEST(MenuPageTexts, UpdataInfoWithWindowsLineEndsHasNoBlankLines) {
    testsupport::TempDir dir;
    testsupport::WriteFile(dir / "UpdataInfo.txt", "版本 1.2\r\n修正了声音\r\n\r\n第四行");
    EXPECT_EQ(MenuPageTexts::ReadUpdataInfo(dir / "UpdataInfo.txt").toStdString(), "版本 1.2\n修正了声音\n\n第四行\n");
    testsupport::WriteFile(dir / "unix.txt", "a\nb\n");
    EXPECT_EQ(MenuPageTexts::ReadUpdataInfo(dir / "unix.txt").toStdString(), "a\nb\n");
    EXPECT_TRUE(MenuPageTexts::ReadUpdataInfo(dir / "missing.txt").isEmpty());
}

TEST(MenuPageTexts, ALineLongerThanTheBufferEndsTheReading) {
    testsupport::TempDir dir;
    const std::string fits(1022, 'x');
    testsupport::WriteFile(dir / "a.txt", "first\n" + fits + "\r\nafter\n");
    EXPECT_EQ(MenuPageTexts::ReadUpdataInfo(dir / "a.txt").toStdString(), "first\n" + fits + "\nafter\n");
    testsupport::WriteFile(dir / "b.txt", "first\n" + fits + "y\nafter\n");
    EXPECT_EQ(MenuPageTexts::ReadUpdataInfo(dir / "b.txt").toStdString(), "first\n");
}

TEST(MenuPageTexts, PagesOfTheServiceHost) {
    MY_DATA_SPACE::ServerAddressTable servers;
    EXPECT_EQ(MenuPageTexts::ForumPageUrl(servers), "");
    servers[MY_DATA_SPACE::kLoginUrl] = "http://127.0.0.1:18080/index.php?m=member&c=index&a=login";
    EXPECT_EQ(MenuPageTexts::ForumPageUrl(servers), "http://127.0.0.1:18080/forum/");
    EXPECT_EQ(MenuPageTexts::MainSiteUrl(servers), "http://127.0.0.1:18080/");
    EXPECT_EQ(MenuPageTexts::RoomName(QStringLiteral("玩家")), QStringLiteral("玩家的直播间"));
    EXPECT_EQ(MenuPageTexts::ProductTitle("1.0.3"), QStringLiteral("STRIMO直播1.0.3"));
    const QString description = MenuPageTexts::ProductDescription();
    EXPECT_TRUE(description.startsWith(QStringLiteral("\n    "))) << "a line break, then the indented first piece";
    EXPECT_EQ(description.count(QStringLiteral("\n\n")), 5) << "six pieces with blank lines between";
}
