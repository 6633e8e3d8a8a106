#pragma once

namespace UA::UI {

// Told by a radio collection which box the user chose (its id).
class ISSRadioBoxCollectionEvent {
public:
    virtual ~ISSRadioBoxCollectionEvent() = default;
    virtual void OnRadioBoxChosen(int id) = 0;
};

}  // namespace UA::UI
