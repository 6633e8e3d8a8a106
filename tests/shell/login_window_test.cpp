// The login window's own rules, offscreen and without a service: the remembered users, the
// password and remember box that follow the user box, Enter, and a missing configuration.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QProcess>
#include <QTest>

#include <unistd.h>

#include <filesystem>
#include <vector>

#include "AppMessageBox.h"
#include "CBitComboBox.h"
#include "CFileCipher.h"
#include "CloginApp.h"
#include "CloginDlg.h"
#include "TempDir.h"

namespace {

std::vector<QString> messages;

const char* kConfig =
    "<kanvo><server><a>http://127.0.0.1:9/api/login</a></server><game_list/><system/></kanvo>";

class LoginWindow : public ::testing::Test {
protected:
    void SetUp() override {
        messages.clear();
        SetSkinnedMessageHandler([](QWidget*, const QString& text) {
            messages.push_back(text);
            return 1;
        });
        std::filesystem::create_directory("default");
        ASSERT_TRUE(SaveEncrypted("default/config.xml", kConfig));
    }
    void TearDown() override {
        SetSkinnedMessageHandler({});
        MY_DATA_SPACE::DestroyData();
    }
    testsupport::TempDir dir_;
    testsupport::ScopedChdir cd_{dir_.path()};
};

}  // namespace

TEST_F(LoginWindow, RememberedUsersFillTheBoxesByTheirFlag) {
    ASSERT_TRUE(SaveEncrypted("default/usr.xml",
                              "<usr version=\"1.0\"><login name=\"ann\" passwd=\"pa\" record_passwd=\"1\"/>"
                              "<login name=\"bob\" passwd=\"pb\" record_passwd=\"0\"/></usr>"));
    CloginDlg login;
    ASSERT_TRUE(login.OnInitDialog());
    EXPECT_EQ(2, login.UserBox()->count());
    EXPECT_EQ("ann", login.UserBox()->currentText());
    EXPECT_EQ("pa", login.PasswordEdit()->text());
    EXPECT_TRUE(login.RememberBox()->isChecked());

    login.UserBox()->setCurrentIndex(1);
    emit login.UserBox()->activated(1);
    EXPECT_EQ("", login.PasswordEdit()->text());  // remembered without its password
    EXPECT_FALSE(login.RememberBox()->isChecked());

    login.UserBox()->setCurrentIndex(0);
    emit login.UserBox()->activated(0);
    EXPECT_EQ("pa", login.PasswordEdit()->text());
    // Typing a name clears the password and the box.
    login.UserBox()->setEditText("annx");
    EXPECT_EQ("", login.PasswordEdit()->text());
    EXPECT_FALSE(login.RememberBox()->isChecked());
}

TEST_F(LoginWindow, NoRememberedUsersStartsEmptyAndEnterNeedsBothFields) {
    ASSERT_TRUE(SaveEncrypted("default/usr.xml", "<usr version=\"1.0\"/>"));
    CloginDlg login;
    ASSERT_TRUE(login.OnInitDialog());
    login.show();
    EXPECT_EQ(0, login.UserBox()->count());
    EXPECT_EQ("", login.UserBox()->currentText());
    EXPECT_FALSE(login.RememberBox()->isChecked());

    login.UserBox()->setEditText("demo");
    QTest::keyClick(login.PasswordEdit(), Qt::Key_Return);
    EXPECT_TRUE(messages.empty());  // nothing was sent
    EXPECT_TRUE(login.isVisible());
    QTest::keyClick(login.PasswordEdit(), Qt::Key_Escape);
    EXPECT_TRUE(login.isVisible());

    // Both filled: Enter logs in; nothing listens on port 9, so the login fails visibly.
    login.PasswordEdit()->setText("pw");
    QTest::keyClick(login.PasswordEdit(), Qt::Key_Return);
    ASSERT_EQ(1u, messages.size());
    EXPECT_EQ("输入用户或密码出错!", messages[0]);
    EXPECT_TRUE(login.isVisible());
    EXPECT_TRUE(login.isEnabled());
    EXPECT_EQ(0, login.LoggedIn());
}

TEST_F(LoginWindow, MissingFilesSayOpenConfigureFileError) {
    CloginDlg login;  // default/usr.xml is missing
    EXPECT_FALSE(login.OnInitDialog());
    ASSERT_EQ(1u, messages.size());
    EXPECT_EQ("open configure file error!", messages[0]);
}

TEST_F(LoginWindow, QuitWritesBothFilesThroughTheDataObject) {
    ASSERT_TRUE(SaveEncrypted("default/usr.xml", "<usr version=\"1.0\"/>"));
    CloginDlg login;
    ASSERT_TRUE(login.OnInitDialog());
    login.OnQuit();
    EXPECT_EQ(QDialog::Accepted, login.result());
    EXPECT_TRUE(std::filesystem::exists("usr.xml"));
    EXPECT_TRUE(std::filesystem::exists("config.xml"));
}

TEST(SingleCopy, CountsRunningProcessesByTheirExactName) {
    // Two copies of a program under a name of our own, and one whose name only starts alike.
    testsupport::TempDir dir;
    const std::string name = "strimo-copy-" + std::to_string(::getpid());
    const auto program = dir.path() / name;
    const auto longer = dir.path() / (name + "x");
    std::filesystem::copy_file("/bin/sleep", program);
    std::filesystem::copy_file("/bin/sleep", longer);
    QProcess a, b, c;
    a.start(QString::fromStdString(program.string()), {"30"});
    b.start(QString::fromStdString(program.string()), {"30"});
    c.start(QString::fromStdString(longer.string()), {"30"});
    ASSERT_TRUE(a.waitForStarted() && b.waitForStarted() && c.waitForStarted());
    EXPECT_EQ(2, CloginApp::CountProcesses(name.c_str()));
    EXPECT_EQ(1, CloginApp::CountProcesses((name + "x").c_str()));
    EXPECT_EQ(0, CloginApp::CountProcesses(name.substr(0, name.size() - 1).c_str()));
    a.kill();
    a.waitForFinished();
    EXPECT_EQ(1, CloginApp::CountProcesses(name.c_str()));
    b.kill();
    c.kill();
    b.waitForFinished();
    c.waitForFinished();
}

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
