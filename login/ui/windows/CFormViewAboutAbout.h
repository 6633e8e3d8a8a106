#pragma once

#include <QFont>

#include "CFormViewPage.h"
#include "SSTextLink.h"
#include "SSTextPanel.h"

class CDlgMainMenu;
class QPlainTextEdit;

// The about window's introduction page: product name and version, ownership, a link to the
// service's main web site and the product description.
class CFormViewAboutAbout : public CFormViewPage {
    Q_OBJECT
public:
    static constexpr int kTemplate = 147;

    explicit CFormViewAboutAbout(CDlgMainMenu* window);
    ~CFormViewAboutAbout() override;

    const UA::UI::SSTextPanel& Title() const { return texts_[0]; }
    QPlainTextEdit* Description() const { return description_; }
    CImageButton* OkButton() const { return ok_; }
    void OnTextLinkClicked(int id) override;

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    CDlgMainMenu* window_;
    QFont bigFont_;
    UA::UI::SSTextPanel texts_[3];
    UA::UI::SSTextLink site_;
    QPlainTextEdit* description_;
    CImageButton* ok_;
};
