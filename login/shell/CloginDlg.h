#pragma once

#include <memory>
#include <vector>

#include "CData.h"
#include "CDlgParent.h"

class CBitComboBox;
class CCtrMainDlg;
class CImageButton;
class QCheckBox;
class QLineEdit;

// The login window and the program's main window: it loads the user and configuration files,
// lists the remembered users, logs in, then hides and hands over to the main control window. It
// lives, hidden, until the program ends (WM_APP_QUIT or its close button).
class CloginDlg : public CDlgParent {
    Q_OBJECT
public:
    static constexpr int kTemplateId = 102;
    static constexpr int kUserBoxId = 1134;
    static constexpr int kPasswordId = 1136;
    static constexpr int kRememberId = 1133;
    static constexpr int kLoginId = 1135;
    static constexpr int kRegisterId = 1131;
    static constexpr int kForgottenId = 1132;
    static constexpr int kMinimiseId = 1139;
    static constexpr int kCloseId = 1140;

    explicit CloginDlg(QWidget* parent = nullptr);
    ~CloginDlg() override;

    // Loads the files and fills the controls. False (after "open configure file error!") when
    // either file cannot be read: the program then ends with status 0.
    bool OnInitDialog();

    void OnLogin();
    // Destroys the main control window (ending a broadcast), then CData, which writes both
    // files; ends the modal loop. Deferred while one of the main window's calls waits in a loop
    // of its own (CCtrMainDlg::DeferQuit), which then asks again.
    void OnQuit();

    int LoggedIn() const { return loggedIn_; }
    CCtrMainDlg* MainWindow() const { return mainWindow_.get(); }
    CBitComboBox* UserBox() const { return userBox_; }
    QLineEdit* PasswordEdit() const { return password_; }
    QCheckBox* RememberBox() const { return remember_; }
    CImageButton* LoginButton() const { return loginButton_; }

protected:
    bool PreTranslateMessage(QObject* target, QEvent* event) override;
    void customEvent(QEvent* event) override;

private:
    void OnUserSelected(int index);
    void OnUserEdited();

    int loggedIn_ = 0;
    std::vector<MY_DATA_SPACE::LoginRecord> users_;
    std::unique_ptr<CCtrMainDlg> mainWindow_;
    CBitComboBox* userBox_ = nullptr;
    QLineEdit* password_ = nullptr;
    QCheckBox* remember_ = nullptr;
    CImageButton* loginButton_ = nullptr;
    CImageButton* registerButton_ = nullptr;
    CImageButton* forgottenButton_ = nullptr;
    CImageButton* minimiseButton_ = nullptr;
    CImageButton* closeButton_ = nullptr;
};
