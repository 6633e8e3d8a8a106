#include "SSTextLinkCollection.h"

#include <QWidget>

#include "ISSTextLinkCollectionEvent.h"
#include "SSTextLink.h"

namespace UA::UI {

void SSTextLinkCollection::SetFont(const QFont* font, const QColor& normal, const QColor& hover) {
    normalColour_ = normal;
    hoverColour_ = hover;
    for (SSTextLink* link : links_) link->SetFont(font);
}

SSTextLink* SSTextLinkCollection::LinkAt(const QPoint& point) const {
    for (SSTextLink* link : links_)
        if (link->Rect().contains(point)) return link;
    return nullptr;
}

void SSTextLinkCollection::Invalidate(const SSTextLink* link) const {
    if (owner_) owner_->update(link->Rect().adjusted(0, 0, 0, 2));  // the underline sits at the bottom edge
}

bool SSTextLinkCollection::OnMouseMove(const QPoint& point) {
    SSTextLink* hit = LinkAt(point);
    // Moving straight from one link onto its neighbour must not leave both underlined.
    if (hovered_ && hovered_ != hit && hovered_->State() == 3) {
        hovered_->SetState(0);
        Invalidate(hovered_);
    }
    if (!hit) {
        hovered_ = nullptr;
        return false;
    }
    if (hit->State() == 0) {
        hit->SetState(3);
        Invalidate(hit);
    }
    hovered_ = hit;
    return true;
}

bool SSTextLinkCollection::OnLButtonDown(const QPoint& point) {
    SSTextLink* hit = LinkAt(point);
    if (!hit) return false;
    if (hit->State() == 3 && receiver_) receiver_->OnTextLinkClicked(hit->Id());
    return true;
}

void SSTextLinkCollection::DrawAll(QPainter& painter) {
    for (SSTextLink* link : links_) link->Draw(painter);
}

}  // namespace UA::UI
