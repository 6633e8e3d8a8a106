#pragma once

namespace UA::UI {

// Told by a link collection which link was clicked (its id).
class ISSTextLinkCollectionEvent {
public:
    virtual ~ISSTextLinkCollectionEvent() = default;
    virtual void OnTextLinkClicked(int id) = 0;
};

}  // namespace UA::UI
