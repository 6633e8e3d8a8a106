#pragma once

#include <memory>

#include <QFont>
#include <QString>
#include <QWidget>

#include "ISSRadioBoxCollectionEvent.h"
#include "ISSTextLinkCollectionEvent.h"
#include "SSPanelCollection.h"
#include "SSRadioBoxCollection.h"
#include "SSTextLinkCollection.h"

class CImageButton;

// A page of a main-menu window: a 466x440 child drawn from its own face picture (read at every
// paint) with its text panels, links and radio boxes over it. Mouse messages of the face go to
// the radio group first, then to the links. The pages swallow Escape, Return and Alt+F4, so a
// key never closes the window around them.
class CFormViewPage : public QWidget,
                      public UA::UI::ISSRadioBoxCollectionEvent,
                      public UA::UI::ISSTextLinkCollectionEvent {
    Q_OBJECT
public:
    CFormViewPage(int templateId, const QString& facePath, QWidget* parent = nullptr);
    ~CFormViewPage() override;

    int TemplateId() const { return templateId_; }
    const UA::UI::SSRadioBoxCollection& Radios() const { return radios_; }
    const UA::UI::SSTextLinkCollection& Links() const { return links_; }
    const UA::UI::SSPanelCollection& Panels() const { return panels_; }

    void OnRadioBoxChosen(int) override {}
    void OnTextLinkClicked(int) override {}

protected:
    // The OK button every page has at (391, 408, 65, 22).
    CImageButton* AddOkButton();
    // The settings pages' "recover" button (恢复初始化) at (50, 408, 127, 22).
    CImageButton* AddRecoverButton();
    // The radio boxes' marks and colours, once all boxes are added.
    void SkinRadios();

    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

    QFont font_;
    UA::UI::SSPanelCollection panels_;
    UA::UI::SSRadioBoxCollection radios_{this, this};
    UA::UI::SSTextLinkCollection links_{this, this};

private:
    int templateId_;
    QString facePath_;
};
