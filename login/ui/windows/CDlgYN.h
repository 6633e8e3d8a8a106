#pragma once

#include "CSkinnedMessageBox.h"

// The skinned yes/no box, the message box's face with OK and Cancel. The main control window
// creates one on the stack for each question ("确定要退出吗?", "是否要继续直播"), runs it with
// exec() and reads the answer: exec() gives 1 for OK and 2 for Cancel, Result() 1 or 0.
class CDlgYN : public CSkinnedMessageBox {
    Q_OBJECT
public:
    static constexpr int kTemplate = 163;
    static constexpr int kOkId = 1185;
    static constexpr int kCancelId = 1174;

    explicit CDlgYN(QWidget* parent = nullptr);
};
