#pragma once

#include <vector>

class QFont;
class QPainter;

namespace UA::UI {

class SSTextPanel;

// The text panels of one window, drawn in the order they were added. The window owns them.
class SSPanelCollection {
public:
    void Add(SSTextPanel* panel) { panels_.push_back(panel); }
    void SetFont(const QFont* font);
    void DrawAll(QPainter& painter);
    const std::vector<SSTextPanel*>& Items() const { return panels_; }

private:
    std::vector<SSTextPanel*> panels_;
};

}  // namespace UA::UI
