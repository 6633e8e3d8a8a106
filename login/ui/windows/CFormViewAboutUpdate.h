#pragma once

#include <QFont>

#include "CFormViewPage.h"
#include "SSTextPanel.h"

class CDlgMainMenu;
class QPlainTextEdit;

// The about window's upgrade information page: the text of "UpdataInfo.txt" in the current
// directory, read once when the page is created.
class CFormViewAboutUpdate : public CFormViewPage {
    Q_OBJECT
public:
    static constexpr int kTemplate = 167;

    explicit CFormViewAboutUpdate(CDlgMainMenu* window);
    ~CFormViewAboutUpdate() override;

    QPlainTextEdit* Information() const { return information_; }
    CImageButton* OkButton() const { return ok_; }

private:
    CDlgMainMenu* window_;
    QFont titleFont_;
    UA::UI::SSTextPanel title_;
    QPlainTextEdit* information_;
    CImageButton* ok_;
};
