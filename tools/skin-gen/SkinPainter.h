#pragma once

#include <cstdint>
#include <vector>

#include <QColor>
#include <QFont>
#include <QImage>
#include <QString>

// The look of the skin: every picture of res/ is drawn by these routines, so colours, shapes
// and fonts change here in one place.
class SkinPainter {
public:
    enum class Look { Normal, Hover, Select, Disable };

    // The design's colours.
    static QColor TitleBlue() { return QColor(53, 116, 161); }
    static QColor BrightBlue() { return QColor(0, 167, 223); }
    static QColor FrameBlue() { return QColor(84, 165, 213); }
    static QColor PaleBlue() { return QColor(234, 244, 251); }
    static QColor Ink() { return QColor(40, 52, 64); }

    static QFont Font(int pixelSize, bool bold = false);

    // A window face: title band with the title, white body, optional left column and frame.
    static QImage Face(int width, int height, const QString& title, int titleHeight = 30);
    // The four 640x484 main-menu windows share one face: title band, left menu column with the
    // product's mark, and the place of the 466x440 pages.
    static QImage MainMenuFace();
    // A page face (466x440): white, a heading rule and a rule above the OK button row.
    static QImage PageFace(const QString& heading);

    // A rounded push button with its label.
    static QImage Button(int width, int height, const QString& label, Look look);
    // A flat menu tab of the main-menu windows' left column.
    static QImage Tab(int width, int height, const QString& label, Look look, bool subTab);
    // Small title-bar buttons: "close" or "minimise".
    static QImage TitleButton(int width, int height, bool close, Look look);
    // A text link picture (blue text, underlined when lit).
    static QImage LinkPicture(int width, int height, const QString& label, Look look);
    // A 13x13 radio mark.
    static QImage RadioMark(bool checked);
    // A combo-box arrow button (23x23): normal, hover, dropped.
    static QImage ComboArrow(int size, Look look);
    // The application's icon.
    static QImage Icon(int size);
    // The hint shown on the main window while not broadcasting.
    static QImage TipStop(int width, int height);

    // Frames of the small "live" animation (98x13) and of the updater's splash (500x370).
    static std::vector<QImage> LiveAnimation(int frames);
    static QImage SplashBackground(int width, int height);
    static QImage SplashBar(int width, int height, int step, int steps);

    // Palette indices of `image` against the skin's 256-colour palette (see Palette()).
    static std::vector<std::uint8_t> Indices(const QImage& image);
    static std::vector<std::uint32_t> Palette();
};
