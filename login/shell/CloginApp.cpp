#include "CloginApp.h"

#include <QApplication>

#include "AppMessageBox.h"
#include "CCtrMainDlg.h"
#include "CDlgMessage.h"
#include "CDlgYN.h"
#include "CloginDlg.h"
#include "ProcessList.h"

int CloginApp::CountProcesses(const char* name) {
    int count = 0;
    for (const auto& process : proc::ListProcesses())
        if (process.name == name) ++count;
    return count;
}

int CloginApp::Run(int argc, char** argv) {
    QApplication app(argc, argv);
    // The login window hides itself after the login: only WM_APP_QUIT ends the program.
    QApplication::setQuitOnLastWindowClosed(false);
    SetSkinnedMessageHandler(ShowSkinnedMessage);
    CCtrMainDlg::SetQuestionHandler([](QWidget* parent, const QString& question) {
        CDlgYN box(parent);
        box.SetText(question);
        box.exec();
        return box.Result() == 1;
    });

    // The count includes this process: two means another copy runs.
    if (CountProcesses("strimo") >= 2) {
        AppMessageBox(nullptr, QStringLiteral("程序已经运行"));
        return 0;
    }

    // Shown rather than exec()'d: a modal loop would end as soon as the login window hides
    // itself after the login. The program ends when it is closed (Quit).
    CloginDlg login;
    if (!login.OnInitDialog()) return 0;
    QObject::connect(&login, &QDialog::finished, &app, &QCoreApplication::quit);
    login.show();
    QApplication::exec();
    return 0;
}
