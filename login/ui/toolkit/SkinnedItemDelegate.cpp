#include "SkinnedItemDelegate.h"

#include <utility>

#include <QPainter>

namespace UI::Controls {

SkinnedItemDelegate::SkinnedItemDelegate(QObject* parent, LookFor lookFor, std::function<int()> itemHeight)
    : QStyledItemDelegate(parent), lookFor_(std::move(lookFor)), itemHeight_(std::move(itemHeight)) {}

void SkinnedItemDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                const QModelIndex& index) const {
    const Look look = lookFor_(option, (option.state & QStyle::State_Selected) != 0);
    painter->save();
    if (look.picture)
        painter->drawImage(option.rect.adjusted(1, 0, -1, 0), *look.picture);
    else
        painter->fillRect(option.rect, look.back);
    painter->setFont(look.font);
    painter->setPen(look.text);
    painter->drawText(option.rect.adjusted(look.textIndent, 0, 0, 0),
                      Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, index.data(Qt::DisplayRole).toString());
    painter->restore();
}

QSize SkinnedItemDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    return QSize(QStyledItemDelegate::sizeHint(option, index).width(), itemHeight_());
}

}  // namespace UI::Controls
