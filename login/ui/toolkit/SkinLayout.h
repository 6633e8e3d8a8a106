#pragma once

// Where the login and main control windows place their controls. Their faces are drawn around
// these slots by tools/skin-gen, so windows and pictures stay in step; the other windows'
// places are fixed by their own code.
namespace SkinLayout {

struct Slot {
    int x, y, width, height;
};

// Colours of the skin.
constexpr unsigned kTitleBlue = 0x3574A1;    // RGB(53, 116, 161): headings, title bands
constexpr unsigned kBrightBlue = 0x00A7DF;   // RGB(0, 167, 223): selection, lit buttons
constexpr unsigned kFrameBlue = 0x54A5D5;    // RGB(84, 165, 213): frames
constexpr unsigned kActiveBlue = 0x3B8DB3;   // RGB(59, 141, 179): active frames

namespace Login {  // 365 x 270
constexpr Slot kMinimise{322, 7, 18, 16};
constexpr Slot kClose{342, 7, 18, 16};
constexpr Slot kUserName{110, 92, 180, 24};
constexpr Slot kPassword{110, 128, 180, 24};
constexpr Slot kRemember{110, 164, 100, 16};
constexpr Slot kLogin{110, 196, 180, 34};
constexpr Slot kRegister{298, 96, 56, 16};
constexpr Slot kForgotten{298, 132, 56, 16};
}  // namespace Login

namespace CtrMain {  // 400 x 300
constexpr Slot kMinimise{356, 7, 18, 16};
constexpr Slot kClose{376, 7, 18, 16};
constexpr Slot kTipStop{15, 56, 370, 50};
constexpr Slot kAnimation{15, 60, 98, 13};
// Under "正在直播" while live: the queue's mark, then the health line.
constexpr Slot kHealth{15, 82, 370, 16};
constexpr Slot kStart{125, 118, 150, 40};
constexpr Slot kStop{125, 118, 150, 40};
constexpr Slot kAudioSource{70, 176, 200, 23};
constexpr Slot kWatch{70, 212, 96, 26};
constexpr Slot kCopyLink{176, 212, 96, 26};
constexpr Slot kInfo{10, 256, 60, 36};
constexpr Slot kProp{75, 256, 60, 36};
constexpr Slot kHelp{140, 256, 60, 36};
constexpr Slot kAbout{205, 256, 60, 36};
constexpr Slot kVersion{290, 270, 100, 13};
}  // namespace CtrMain

}  // namespace SkinLayout
