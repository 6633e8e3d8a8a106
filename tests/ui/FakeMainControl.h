#pragma once

// The main control window as the secondary windows see it: records what they ask of it.

#include <vector>

#include <QPixmap>
#include <QRect>
#include <QString>
#include <QWidget>

#include "FakeMemberSettings.h"
#include "IMainControl.h"

class FakeMainControl : public IMainControl {
public:
    struct PanelRequest {
        int index;
        QRect rect;
    };

    QWidget* Window() override { return &window; }
    const QPixmap& MenuFace() const override { return face; }
    void ShowPanel(int index, const QRect& screenRect) override { panels.push_back({index, screenRect}); }
    void PanelClosed() override { ++closed; }
    void SetMainSoundChoice(int index) override { soundChoices.push_back(index); }
    void GameChosen(const QString& gameName, const QString& introduction) override {
        chosenGame = gameName;
        chosenIntroduction = introduction;
        ++gamesChosen;
    }
    QString RoomAddress() const override { return roomAddress; }
    bool Broadcasting() const override { return broadcasting; }
    const IMemberSettings& Settings() const override { return stored; }

    QWidget window;
    QPixmap face{QStringLiteral("res/bg.png")};
    std::vector<PanelRequest> panels;
    int closed = 0;
    std::vector<int> soundChoices;
    QString chosenGame;
    QString chosenIntroduction;
    int gamesChosen = 0;
    QString roomAddress = QStringLiteral("http://127.0.0.1:18080/live/");
    bool broadcasting = false;
    FakeMemberSettings stored;
};
