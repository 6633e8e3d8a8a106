#include "SSRadioBoxCollection.h"

#include <QWidget>

#include "ISSRadioBoxCollectionEvent.h"
#include "SSRadioBox.h"

namespace UA::UI {

void SSRadioBoxCollection::SetFont(const QFont* font) {
    for (SSRadioBox* box : boxes_) box->SetFont(font);
}

void SSRadioBoxCollection::SetAppearance(const QFont* font, const QColor& normal, const QColor& hover,
                                         const QColor& checked, const QString& normalMark,
                                         const QString& hoverMark, const QString& checkedMark) {
    for (SSRadioBox* box : boxes_) {
        box->SetFont(font);
        box->SetColours(normal, hover, checked);
        box->LoadMarks(normalMark, hoverMark, checkedMark);
    }
}

SSRadioBox* SSRadioBoxCollection::BoxAt(const QPoint& point) const {
    for (SSRadioBox* box : boxes_)
        if (box->Rect().contains(point)) return box;
    return nullptr;
}

void SSRadioBoxCollection::Invalidate(const SSRadioBox* box) const {
    if (owner_) owner_->update(box->Rect());
}

bool SSRadioBoxCollection::OnMouseMove(const QPoint& point) {
    SSRadioBox* hit = BoxAt(point);
    if (hit && hit->State() == 0) {
        hit->SetState(3);
        Invalidate(hit);
    }
    if (hovered_ && hovered_ != hit && hovered_->State() == 3) {
        hovered_->SetState(0);
        Invalidate(hovered_);
    }
    if (!hit) {
        for (SSRadioBox* box : boxes_) {
            if (box->State() == 3) {
                box->SetState(0);
                Invalidate(box);
            }
        }
    }
    hovered_ = hit;
    return hit != nullptr;
}

bool SSRadioBoxCollection::OnLButtonDown(const QPoint& point) {
    SSRadioBox* hit = BoxAt(point);
    if (!hit) return false;
    bool anyChosen = false;
    for (const SSRadioBox* box : boxes_) anyChosen = anyChosen || box->State() == 4;
    if (anyChosen && current_) {
        current_->SetState(0);
        Invalidate(current_);
    }
    if (hit->State() == 4) return true;
    current_ = hit;
    hit->SetState(1);
    Invalidate(hit);
    if (receiver_) receiver_->OnRadioBoxChosen(hit->Id());
    return true;
}

void SSRadioBoxCollection::OnLButtonUp(const QPoint& point) {
    SSRadioBox* hit = BoxAt(point);
    if (!hit) return;
    hit->SetState(hit->State() == 1 || hit->State() == 4 ? 4 : 0);
    Invalidate(hit);
}

void SSRadioBoxCollection::Select(int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= boxes_.size()) return;
    const QPoint at = boxes_[static_cast<std::size_t>(index)]->Rect().topLeft() + QPoint(1, 1);
    OnLButtonDown(at);
    OnLButtonUp(at);
}

void SSRadioBoxCollection::DrawAll(QPainter& painter) {
    for (SSRadioBox* box : boxes_) box->Draw(painter);
}

}  // namespace UA::UI
