#pragma once

#include "CFormViewPage.h"
#include "SSTextLink.h"
#include "SSTextPanel.h"

class CDlgMainMenu;
class QLineEdit;

// The personal information page of CDlgInfo: user name, member centre, room name and room
// address in read-only boxes, with links to the member centre, the room page and a copy of the
// room address. The info window calls SetRoomAddress each time it is shown.
class CFormViewInfoInfo : public CFormViewPage {
    Q_OBJECT
public:
    static constexpr int kTemplate = 146;
    enum Link { kChangePassword = 0, kMemberCentre = 1, kWatch = 2, kCopy = 3 };

    explicit CFormViewInfoInfo(CDlgMainMenu* window);
    ~CFormViewInfoInfo() override;

    // Fills the user, member centre and room name boxes from the logged-in user.
    void LoadUser();
    void SetRoomAddress(const QString& address);

    QLineEdit* UserBox() const { return user_; }
    QLineEdit* MemberBox() const { return member_; }
    QLineEdit* RoomNameBox() const { return roomName_; }
    QLineEdit* RoomAddressBox() const { return roomAddress_; }
    CImageButton* OkButton() const { return ok_; }

    void OnTextLinkClicked(int id) override;

private:
    CDlgMainMenu* window_;
    UA::UI::SSTextPanel captions_[4];
    UA::UI::SSTextLink links_[4];
    QLineEdit* user_;
    QLineEdit* member_;
    QLineEdit* roomName_;
    QLineEdit* roomAddress_;
    CImageButton* ok_;
};
