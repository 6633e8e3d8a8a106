#include "SSPanelCollection.h"

#include "SSTextPanel.h"

namespace UA::UI {

void SSPanelCollection::SetFont(const QFont* font) {
    for (SSTextPanel* panel : panels_) panel->SetFont(font);
}

void SSPanelCollection::DrawAll(QPainter& painter) {
    for (SSTextPanel* panel : panels_) panel->Draw(painter);
}

}  // namespace UA::UI
