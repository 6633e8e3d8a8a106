#pragma once

#include "CDlgMainMenu.h"

class CFormViewInfoInfo;

// Main-menu window 0, personal information. The main control window constructs it once with
// itself as IMainControl, keeps it hidden, and shows it through ShowPanel(0, ...); the window
// refreshes its room address line from IMainControl::RoomAddress() every time it is shown.
class CDlgInfo : public CDlgMainMenu {
    Q_OBJECT
public:
    static constexpr int kTemplate = 130;
    static constexpr int kIndex = 0;

    explicit CDlgInfo(IMainControl* main, QWidget* parent = nullptr);
    ~CDlgInfo() override;

    CFormViewInfoInfo* Page() const { return page_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    CFormViewInfoInfo* page_;
};
