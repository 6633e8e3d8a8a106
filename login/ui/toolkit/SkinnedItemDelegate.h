#pragma once

#include <functional>

#include <QColor>
#include <QFont>
#include <QImage>
#include <QStyledItemDelegate>

namespace UI::Controls {

// The list items of the skinned combo boxes: a background (a colour, or a picture inset one
// pixel left and right), then the text on one line, left-aligned and centred vertically, and
// every item one fixed height. The combo box answers both at each paint and each layout.
class SkinnedItemDelegate : public QStyledItemDelegate {
public:
    struct Look {
        QColor back;                      // fills the item, unless there is a picture
        const QImage* picture = nullptr;  // drawn instead of the fill
        QColor text;
        QFont font;
        int textIndent = 0;  // pixels left free before the text
    };
    using LookFor = std::function<Look(const QStyleOptionViewItem& option, bool selected)>;

    SkinnedItemDelegate(QObject* parent, LookFor lookFor, std::function<int()> itemHeight);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    LookFor lookFor_;
    std::function<int()> itemHeight_;
};

}  // namespace UI::Controls
