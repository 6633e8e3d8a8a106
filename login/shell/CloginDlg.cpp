#include "CloginDlg.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QLineEdit>

#include <cstdlib>

#include "AppMessageBox.h"
#include "CBitComboBox.h"
#include "CCtrMainDlg.h"
#include "CImageButton.h"
#include "ServicePages.h"
#include "ServiceRequests.h"
#include "ShellMessages.h"
#include "ShellOpen.h"
#include "SkinLayout.h"
#include "SkinResources.h"
#include "SkinWidgets.h"

using MY_DATA_SPACE::GetData;

using SkinWidgets::MakeButton;
using SkinWidgets::Place;
using SkinWidgets::Q;

CloginDlg::CloginDlg(QWidget* parent) : CDlgParent(kTemplateId, parent) {
    namespace L = SkinLayout::Login;
    userBox_ = new CBitComboBox(this);
    userBox_->setObjectName(QString::number(kUserBoxId));
    userBox_->setEditable(true);
    userBox_->SetItemHeight(20);
    Place(userBox_, L::kUserName);
    password_ = new QLineEdit(this);
    password_->setObjectName(QString::number(kPasswordId));
    password_->setEchoMode(QLineEdit::Password);
    Place(password_, L::kPassword);
    remember_ = new QCheckBox(QStringLiteral("记住密码"), this);
    remember_->setObjectName(QString::number(kRememberId));
    Place(remember_, L::kRemember);
    loginButton_ = MakeButton(this, kLoginId, L::kLogin, QStringLiteral("res/login/login_btn_login"));
    registerButton_ = MakeButton(this, kRegisterId, L::kRegister, QStringLiteral("res/login/login_btn_register"));
    forgottenButton_ = MakeButton(this, kForgottenId, L::kForgotten,
                                  QStringLiteral("res/login/login_btn_forget_passwd"));
    minimiseButton_ = MakeButton(this, kMinimiseId, L::kMinimise, QStringLiteral("res/login/login_btn_min"));
    closeButton_ = MakeButton(this, kCloseId, L::kClose, QStringLiteral("res/login/login_btn_close"));

    connect(userBox_, qOverload<int>(&QComboBox::activated), this, &CloginDlg::OnUserSelected);
    connect(userBox_, &QComboBox::editTextChanged, this, [this] {
        // A selection also changes the text; only typing clears the password.
        if (!userBox_->signalsBlocked()) OnUserEdited();
    });
    connect(loginButton_, &QAbstractButton::clicked, this, &CloginDlg::OnLogin);
    connect(registerButton_, &QAbstractButton::clicked, this,
            [] { ShellOpen(Q(RegistrationPageUrl(GetData().ServerAddresses()))); });
    connect(forgottenButton_, &QAbstractButton::clicked, this,
            [] { ShellOpen(Q(ForgottenPasswordPageUrl(GetData().ServerAddresses()))); });
    connect(minimiseButton_, &QAbstractButton::clicked, this, &QWidget::showMinimized);
    connect(closeButton_, &QAbstractButton::clicked, this, &CloginDlg::OnQuit);
}

CloginDlg::~CloginDlg() = default;

bool CloginDlg::OnInitDialog() {
    SkinResources::Init();
    setWindowIcon(QIcon(SkinResources::Path(QStringLiteral("icon"), SkinResources::kAppIcon)));
    SetFixedSizeCentred(365, 270);
    setWindowTitle(QStringLiteral("STRIMO直播"));

    auto& shared = GetData();
    if (!shared.LoadUserFile() || !shared.LoadConfigFile()) {
        AppMessageBox(this, QStringLiteral("open configure file error!"));
        return false;
    }
    users_ = shared.RememberedUsers();
    for (const auto& user : users_) userBox_->addItem(Q(user.name));
    userBox_->blockSignals(true);
    if (users_.empty()) {
        userBox_->setCurrentIndex(-1);
        userBox_->setEditText(QString());
        remember_->setChecked(false);
    } else {
        userBox_->setCurrentIndex(0);
        password_->setText(users_.front().remember ? Q(users_.front().password) : QString());
        remember_->setChecked(users_.front().remember);
    }
    userBox_->blockSignals(false);
    SetFacePath(QStringLiteral("res/login/login.png"));
    setCursor(Qt::ArrowCursor);
    return true;
}

void CloginDlg::OnUserSelected(int index) {
    const QString name = userBox_->itemText(index);
    for (const auto& user : users_) {
        if (Q(user.name) == name) {
            password_->setText(user.remember ? Q(user.password) : QString());
            remember_->setChecked(user.remember);
            return;
        }
    }
}

void CloginDlg::OnUserEdited() {
    // A text equal to a remembered name is what a selection leaves: keep its password.
    const QString text = userBox_->currentText();
    if (userBox_->currentIndex() >= 0 && userBox_->itemText(userBox_->currentIndex()) == text) return;
    remember_->setChecked(false);
    password_->clear();
}

void CloginDlg::OnLogin() {
    setEnabled(false);
    hide();
    const std::string user = userBox_->currentText().toStdString();
    const std::string password = password_->text().toStdString();
    auto& shared = GetData();
    LoginOutcome login = RequestLogin(shared.ServerAddresses(), user, password);
    // A received reply's session and connection are kept whatever the verdict, so that the
    // requests of the main window carry the login's cookies.
    if (login.Received()) {
        shared.SetSession(std::move(login.session));
        shared.SetConnection(std::move(login.connection));
    }
    if (login.accepted) {
        loggedIn_ = 1;
        shared.SetCurrentUser({user, password, remember_->isChecked()});
        mainWindow_ = std::make_unique<CCtrMainDlg>(this);
        mainWindow_->OnInitDialog();
        mainWindow_->show();
        return;
    }
    loggedIn_ = 0;
    setEnabled(true);
    show();
    AppMessageBox(this, QString::fromUtf8(kLoginFailedMessage));
}

void CloginDlg::OnQuit() {
    // Not under the main window's own calls (the portal's picker, a message box): it asks again
    // once they have returned.
    if (mainWindow_ && mainWindow_->DeferQuit()) return;
    mainWindow_.reset();
    MY_DATA_SPACE::DestroyData();
    loggedIn_ = 0;
    accept();
}

void CloginDlg::customEvent(QEvent* event) {
    if (event->type() == ShellEventType(WM_APP_QUIT)) {
        OnQuit();
        return;
    }
    CDlgParent::customEvent(event);
}

bool CloginDlg::PreTranslateMessage(QObject* target, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Escape) return true;
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            if (!userBox_->currentText().isEmpty() && !password_->text().isEmpty()) OnLogin();
            return true;
        }
    }
    return CDlgParent::PreTranslateMessage(target, event);
}
