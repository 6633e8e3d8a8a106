#pragma once

#include <vector>

#include <QColor>
#include <QPoint>

class QFont;
class QPainter;
class QWidget;

namespace UA::UI {

class ISSTextLinkCollectionEvent;
class SSTextLink;

// The links of one window's face: underlined under the mouse, reported on button down.
class SSTextLinkCollection {
public:
    SSTextLinkCollection(QWidget* owner, ISSTextLinkCollectionEvent* receiver)
        : owner_(owner), receiver_(receiver) {}

    void Add(SSTextLink* link) { links_.push_back(link); }
    // The two colours are kept for the owner; the links draw in their own colour.
    void SetFont(const QFont* font, const QColor& normal = Qt::blue, const QColor& hover = Qt::blue);
    bool OnMouseMove(const QPoint& point);
    bool OnLButtonDown(const QPoint& point);
    void DrawAll(QPainter& painter);

    const std::vector<SSTextLink*>& Items() const { return links_; }

private:
    SSTextLink* LinkAt(const QPoint& point) const;
    void Invalidate(const SSTextLink* link) const;

    QWidget* owner_;
    ISSTextLinkCollectionEvent* receiver_;
    std::vector<SSTextLink*> links_;
    SSTextLink* hovered_ = nullptr;
    QColor normalColour_ = Qt::blue;
    QColor hoverColour_ = Qt::blue;
};

}  // namespace UA::UI
