// The login window dragged by its title band on a real desktop: run under
// tests/fixtures/with-sway.sh, with Qt on Wayland or on xcb (Xwayland). The desktop moves the
// window, by as much as the pointer moved, as sway's own tree tells; a headless seat has no
// pointer, so the virtual pointer of the tests drives it.

#include <gtest/gtest.h>

#include <QAbstractNativeEventFilter>
#include <QApplication>

#include "KeepLibrariesLoaded.h"
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

#include <unistd.h>
#include <xcb/xcb.h>

#include <filesystem>
#include <optional>

#include "AppMessageBox.h"
#include "CFileCipher.h"
#include "CloginApp.h"
#include "CloginDlg.h"
#include "TempDir.h"

namespace {

const char* kConfig =
    "<kanvo><server><a>http://127.0.0.1:9/api/login</a></server><game_list/><system/></kanvo>";

std::optional<QRect> FindRect(const QJsonObject& node, qint64 pid) {
    if (node.value(QStringLiteral("pid")).toInteger() == pid) {
        const QJsonObject r = node.value(QStringLiteral("rect")).toObject();
        return QRect(r.value(QStringLiteral("x")).toInt(), r.value(QStringLiteral("y")).toInt(),
                     r.value(QStringLiteral("width")).toInt(), r.value(QStringLiteral("height")).toInt());
    }
    for (const QString& key : {QStringLiteral("nodes"), QStringLiteral("floating_nodes")})
        for (const QJsonValue child : node.value(key).toArray())
            if (auto found = FindRect(child.toObject(), pid)) return found;
    return std::nullopt;
}

// Where sway shows this process's window, in layout coordinates.
std::optional<QRect> WindowOnDesktop() {
    QProcess swaymsg;
    swaymsg.start(QStringLiteral("swaymsg"), {QStringLiteral("-t"), QStringLiteral("get_tree")});
    if (!swaymsg.waitForFinished(5000) || swaymsg.exitCode() != 0) return std::nullopt;
    return FindRect(QJsonDocument::fromJson(swaymsg.readAllStandardOutput()).object(), getpid());
}

// The virtual pointer, one step at a time: each answered once the compositor handled it, while
// this thread keeps serving Qt's events.
class Pointer {
public:
    Pointer() {
        process_.start(QStringLiteral(STRIMO_WAYLAND_POINTER), {QStringLiteral("-")});
        process_.waitForStarted(5000);
    }
    ~Pointer() {
        process_.closeWriteChannel();
        if (!process_.waitForFinished(5000)) process_.kill();
    }
    bool Do(const QString& step) {
        process_.write((step + QLatin1Char('\n')).toUtf8());
        if (!QTest::qWaitFor([&] { return process_.canReadLine(); }, 5000)) return false;
        return process_.readLine().trimmed() == "done";
    }
    bool MoveTo(QPoint at) { return Do(QStringLiteral("move %1 %2").arg(at.x()).arg(at.y())); }

private:
    QProcess process_;
};

// Counts the pointer leaving the window: the desktop takes the pointer when its move starts, and
// the window must not be moved before (the desktop moves it by the pointer's motion from there).
// On Wayland Qt reports the leave to the window; on xcb it keeps it from the window while the
// button is held, so the X event itself is counted.
class LeaveCounter : public QObject, public QAbstractNativeEventFilter {
public:
    int leaves = 0;
    int enters = 0;

    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
        if (type != "xcb_generic_event_t") return false;
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        const int kind = event->response_type & 0x7f;
        constexpr int kXInputLeave = 8;  // XI_Leave
        if (kind == XCB_LEAVE_NOTIFY ||
            (kind == XCB_GE_GENERIC && reinterpret_cast<const xcb_ge_generic_event_t*>(event)->event_type == kXInputLeave))
            ++leaves;
        return false;
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Enter) ++enters;
        if (event->type() == QEvent::Leave) ++leaves;
        return false;
    }
};

class LoginDrag : public ::testing::Test {
protected:
    void SetUp() override {
        SetSkinnedMessageHandler([](QWidget*, const QString&) { return 1; });
        std::filesystem::create_directory("default");
        ASSERT_TRUE(SaveEncrypted("default/config.xml", kConfig));
        ASSERT_TRUE(SaveEncrypted("default/usr.xml", "<usr version=\"1.0\"/>"));
    }
    void TearDown() override {
        SetSkinnedMessageHandler({});
        MY_DATA_SPACE::DestroyData();
    }
    testsupport::TempDir dir_;
    testsupport::ScopedChdir cd_{dir_.path()};
};

}  // namespace

TEST_F(LoginDrag, TheTitleBandMovesTheWindowByAsMuchAsThePointer) {
    CloginDlg login;
    ASSERT_TRUE(login.OnInitDialog());
    LeaveCounter counter;
    login.show();
    ASSERT_NE(login.windowHandle(), nullptr);
    login.windowHandle()->installEventFilter(&counter);
    qApp->installNativeEventFilter(&counter);
    std::optional<QRect> at;
    ASSERT_TRUE(QTest::qWaitFor([&] { return (at = WindowOnDesktop()) && at->size() == QSize(365, 270); }, 10000))
        << "the login window was not mapped at its size";
    const QPoint band(150, 12);  // the title band, clear of every control
    ASSERT_EQ(login.childAt(band), nullptr);

    // The seat has a pointer only from here on, and the program learns of it by an event of its
    // own: a press before it took the pointer would be lost.
    Pointer pointer;
    ASSERT_TRUE(pointer.MoveTo(at->topLeft() + band));
    ASSERT_TRUE(QTest::qWaitFor([&] { return counter.enters > 0; }, 5000)) << "the pointer never entered the window";
    // A second drag of the same window shows the first left no button held in Qt's books.
    for (const QPoint by : {QPoint(-220, -130), QPoint(90, 60)}) {
        const QRect before = *at;
        const QPoint grab = before.topLeft() + band;
        const int leaves = counter.leaves;
        ASSERT_TRUE(pointer.MoveTo(grab));
        ASSERT_TRUE(pointer.Do(QStringLiteral("press")));
        ASSERT_TRUE(QTest::qWaitFor([&] { return counter.leaves > leaves; }, 5000))
            << "the desktop did not take the drag by " << by.x() << "," << by.y();
        EXPECT_FALSE(login.IsDragging()) << "the desktop moves the window, not the program";
        ASSERT_TRUE(pointer.MoveTo(grab + by));
        ASSERT_TRUE(pointer.Do(QStringLiteral("release")));
        EXPECT_TRUE(QTest::qWaitFor([&] { return (at = WindowOnDesktop()) && at->topLeft() == before.topLeft() + by; }, 5000))
            << "moved from " << before.x() << "," << before.y() << " to " << (at ? at->x() : -1) << ","
            << (at ? at->y() : -1) << " for a drag by " << by.x() << "," << by.y();
    }
}

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    const int status = RUN_ALL_TESTS();
    testsupport::KeepLibrariesLoaded();
    return status;
}
