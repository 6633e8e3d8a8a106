#pragma once

#include <QString>

// The pictures compiled into the programs (the rest of the skin is read from res/ at run time).
// Each lives at ":/<type>/<id>" in the Qt resource system.
namespace SkinResources {

constexpr int kAppIcon = 162;         // type "icon": the window and tray icon
constexpr int kLiveAnimation = 155;   // type "gif": the animation shown while broadcasting, 98x13
constexpr int kComboArrows = 148;     // type "bitmap": three arrow pictures side by side
constexpr int kComboSelection = 149;  // type "bitmap": background of the selected list item

// Makes sure the compiled-in resources are registered (they live in a static library).
void Init();
// ":/<type>/<id>", after Init().
QString Path(const QString& type, int id);

}  // namespace SkinResources
