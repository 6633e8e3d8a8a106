#include "SkinWidgets.h"

#include <QColor>
#include <QWidget>

#include "CImageButton.h"
#include "XPComboBox.h"

namespace SkinWidgets {

QString Q(const std::string& text) { return QString::fromStdString(text); }

QRect SlotRect(const SkinLayout::Slot& slot) { return QRect(slot.x, slot.y, slot.width, slot.height); }

void Place(QWidget* widget, const SkinLayout::Slot& slot) { widget->setGeometry(SlotRect(slot)); }

QRect FromDialogUnits(QSize cell, int left, int top, int width, int height) {
    return QRect(left * cell.width() / 4, top * cell.height() / 8, width * cell.width() / 4,
                 height * cell.height() / 8);
}

CImageButton* MakeButton(QWidget* parent, int id, const QRect& place, const QString& stem, const QString& tip) {
    auto* button = new CImageButton(parent);
    button->setObjectName(QString::number(id));
    button->LoadPictures(stem + QStringLiteral("_normal.png"), stem + QStringLiteral("_select.png"));
    button->setGeometry(place);
    if (!tip.isEmpty()) button->setToolTip(tip);
    return button;
}

CImageButton* MakeButton(QWidget* parent, int id, const SkinLayout::Slot& slot, const QString& stem,
                         const QString& tip) {
    return MakeButton(parent, id, SlotRect(slot), stem, tip);
}

UI::Controls::XPComboBox* MakeCombo(QWidget* parent, int id, const QRect& place, const QStringList& items) {
    auto* combo = new UI::Controls::XPComboBox(parent);
    combo->setObjectName(QString::number(id));
    combo->setGeometry(place);
    combo->SetArrowPictures(QStringLiteral("res/ComboBox_Arrowhead_Normal.bmp"),
                            QStringLiteral("res/ComboBox_Arrowhead_Hover.bmp"),
                            QStringLiteral("res/ComboBox_Arrowhead_Down.bmp"), 23, 23, true);
    combo->SetColours(QColor(SkinLayout::kFrameBlue), QColor(SkinLayout::kActiveBlue), Qt::black, Qt::white,
                      Qt::white, QColor(SkinLayout::kBrightBlue));
    combo->SetItemHeight(18);
    combo->addItems(items);
    return combo;
}

}  // namespace SkinWidgets
