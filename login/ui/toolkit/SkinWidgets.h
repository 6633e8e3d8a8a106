#pragma once

#include <string>

#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>

#include "SkinLayout.h"

class CImageButton;
class QWidget;

namespace UI::Controls {
class XPComboBox;
}

// The small helpers the skinned windows build their controls with.
namespace SkinWidgets {

// A UTF-8 string of the data layer as Qt text.
QString Q(const std::string& text);

QRect SlotRect(const SkinLayout::Slot& slot);
// Puts `widget` at `slot`.
void Place(QWidget* widget, const SkinLayout::Slot& slot);

// A dialog template's units in pixels, for a template font whose average character is `cell`
// (width x height): a horizontal unit is a quarter of the width, a vertical unit an eighth of
// the height, each position and size rounded down.
QRect FromDialogUnits(QSize cell, int left, int top, int width, int height);

// A picture button named after its control id at `place`: `<stem>_normal.png`, lit by
// `<stem>_select.png`, with `tip` as its tool tip when there is one.
CImageButton* MakeButton(QWidget* parent, int id, const QRect& place, const QString& stem,
                         const QString& tip = QString());
CImageButton* MakeButton(QWidget* parent, int id, const SkinLayout::Slot& slot, const QString& stem,
                         const QString& tip = QString());

// The flat combo box of the skinned windows, named after its control id at `place`: the
// res/ComboBox_Arrowhead pictures at 23 x 23 (so the box is 23 high, whatever `place` says), a
// read-only edit part, the skin's colours, 18-pixel items, and `items` in its list.
UI::Controls::XPComboBox* MakeCombo(QWidget* parent, int id, const QRect& place, const QStringList& items = {});

}  // namespace SkinWidgets
