#pragma once

#include <QFont>
#include <QString>

#include "CDlgParent.h"
#include "SSPanelCollection.h"
#include "SSTextPanel.h"

class CImageButton;

// The skinned yes/no box, the message box's face with OK and Cancel. The main control window
// creates one on the stack for each question ("确定要退出吗?", "是否要继续直播"), runs it with
// exec() and reads the answer: exec() gives 1 for OK and 2 for Cancel, Result() 1 or 0.
class CDlgYN : public CDlgParent {
    Q_OBJECT
public:
    static constexpr int kTemplate = 163;
    static constexpr int kOkId = 1185;
    static constexpr int kCancelId = 1174;

    explicit CDlgYN(QWidget* parent = nullptr);
    ~CDlgYN() override;

    void SetText(const QString& text);
    QString Text() const { return text_.Text(); }
    int Result() const { return result_; }
    CImageButton* OkButton() const { return ok_; }
    CImageButton* CancelButton() const { return cancel_; }

protected:
    bool PreTranslateMessage(QObject* target, QEvent* event) override;
    void DrawOnFace(QPainter& painter) override;

private:
    QFont font_;
    UA::UI::SSTextPanel text_;
    UA::UI::SSPanelCollection panels_;
    CImageButton* ok_;
    CImageButton* cancel_;
    int result_ = 0;
};
