// Asks the desktop's ScreenCast portal for a stream, as a program on this desktop would, and
// prints what it answered: a check of the test desktops, and the way a test sees whether a
// seeded restore token is honoured. Every request on one bus connection (the portal ties a
// session to its caller), each Response subscribed before its call.
//
// Usage: portal-screencast [--types N] [--cursor N] [--persist N] [--restore-token TOKEN] [--hold]
//   Runs CreateSession, SelectSources (types 1 = monitor, 2 = window; 1 unless given) and Start,
//   then prints "version V", "node ID WIDTHxHEIGHT" for each stream and "restore_token T"
//   when the portal gave one. With --hold it then keeps the session (and so the stream) open
//   until its standard input ends. Exit status: 0 streams, 1 a failed call or no answer within 30 s,
//   10 + the response code when a request was refused (11 cancelled, 12 failed).
// Usage: portal-screencast --list-windows
//   GNOME only: prints "window APP_ID TITLE" for each window GNOME Shell offers the portal's
//   window picker (org.gnome.Shell.Introspect.GetWindows). The shell answers only the portal
//   back ends' bus names; a private test desktop runs no GTK back end, so this takes its name
//   for the call. Exit status 0 when the shell answered.
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusVariant>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTest>
#include <QTimer>
#include <QVariantMap>

#include <unistd.h>

#include <cstdio>
#include <optional>

namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kScreenCast = QStringLiteral("org.freedesktop.portal.ScreenCast");

// Receives one request's Response signal.
class ResponseWaiter : public QObject {
    Q_OBJECT
public:
    std::optional<uint> code;
    QVariantMap results;

public slots:
    void Response(uint response, const QVariantMap& answer) {
        code = response;
        results = answer;
    }
};

struct Reply {
    uint code = 2;
    QVariantMap results;
    bool answered = false;
};

// One portal request: the handle path is predictable from our unique name and the token, so the
// Response is subscribed before the call and cannot be missed.
Reply Request(QDBusConnection& bus, const QString& method, QList<QVariant> arguments, QVariantMap options) {
    static int counter = 0;
    const QString token = QStringLiteral("strimo%1").arg(++counter);
    QString sender = bus.baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    const QString handle = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
    ResponseWaiter waiter;
    bus.connect(kService, handle, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"),
                &waiter, SLOT(Response(uint, QVariantMap)));
    options.insert(QStringLiteral("handle_token"), token);
    arguments.append(options);
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kScreenCast, method);
    call.setArguments(arguments);
    const QDBusMessage answer = bus.call(call);
    Reply reply;
    if (answer.type() == QDBusMessage::ErrorMessage) {
        std::fprintf(stderr, "portal-screencast: %s: %s\n", qPrintable(method), qPrintable(answer.errorMessage()));
        return reply;
    }
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (waiter.code) loop.quit();
    });
    poll.start(10);
    QTimer::singleShot(30000, &loop, &QEventLoop::quit);
    if (!waiter.code) loop.exec();
    if (!waiter.code) {
        std::fprintf(stderr, "portal-screencast: %s: no response\n", qPrintable(method));
        return reply;
    }
    reply.answered = true;
    reply.code = *waiter.code;
    reply.results = waiter.results;
    if (reply.code != 0) std::fprintf(stderr, "portal-screencast: %s answered %u\n", qPrintable(method), reply.code);
    return reply;
}

int ListWindows(QDBusConnection& bus) {
    if (!bus.registerService(QStringLiteral("org.freedesktop.impl.portal.desktop.gtk"))) {
        std::fprintf(stderr, "portal-screencast: the GTK portal's name is taken\n");
        return 1;
    }
    // The shell learns of the new owner by a name watch of its own: until then it refuses.
    QDBusMessage answer;
    const QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.gnome.Shell.Introspect"), QStringLiteral("/org/gnome/Shell/Introspect"),
        QStringLiteral("org.gnome.Shell.Introspect"), QStringLiteral("GetWindows"));
    const bool answered = QTest::qWaitFor([&] {
        answer = bus.call(call);
        return answer.type() == QDBusMessage::ReplyMessage;
    }, 10000);
    if (!answered) {
        std::fprintf(stderr, "portal-screencast: GetWindows: %s\n", qPrintable(answer.errorMessage()));
        return 1;
    }
    const QDBusArgument windows = answer.arguments().value(0).value<QDBusArgument>();
    windows.beginMap();
    while (!windows.atEnd()) {
        quint64 id = 0;
        QVariantMap props;
        windows.beginMapEntry();
        windows >> id >> props;
        windows.endMapEntry();
        std::printf("window %s %s\n", qPrintable(props.value(QStringLiteral("app-id")).toString()),
                    qPrintable(props.value(QStringLiteral("title")).toString()));
    }
    windows.endMap();
    std::fflush(stdout);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    uint types = 1, cursor = 0, persist = 0;
    QString restoreToken;
    bool listWindows = false;
    bool hold = false;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); i++) {
        const bool hasValue = i + 1 < args.size();
        if (args[i] == QLatin1String("--types") && hasValue) types = args[++i].toUInt();
        else if (args[i] == QLatin1String("--cursor") && hasValue) cursor = args[++i].toUInt();
        else if (args[i] == QLatin1String("--persist") && hasValue) persist = args[++i].toUInt();
        else if (args[i] == QLatin1String("--restore-token") && hasValue) restoreToken = args[++i];
        else if (args[i] == QLatin1String("--list-windows")) listWindows = true;
        else if (args[i] == QLatin1String("--hold")) hold = true;
        else {
            std::fprintf(stderr, "usage: portal-screencast [--types N] [--cursor N] [--persist N] [--restore-token T] [--hold]\n"
                                 "       portal-screencast --list-windows\n");
            return 2;
        }
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        std::fprintf(stderr, "portal-screencast: no session bus\n");
        return 1;
    }
    if (listWindows) return ListWindows(bus);
    QDBusInterface properties(kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"), bus);
    const QDBusReply<QDBusVariant> version = properties.call(QStringLiteral("Get"), kScreenCast, QStringLiteral("version"));
    if (!version.isValid()) {
        std::fprintf(stderr, "portal-screencast: no ScreenCast portal: %s\n", qPrintable(version.error().message()));
        return 1;
    }
    std::printf("version %u\n", version.value().variant().toUInt());

    Reply created = Request(bus, QStringLiteral("CreateSession"), {},
                            {{QStringLiteral("session_handle_token"), QStringLiteral("strimosession")}});
    if (!created.answered || created.code != 0) return created.answered ? 10 + static_cast<int>(created.code) : 1;
    const QDBusObjectPath session(created.results.value(QStringLiteral("session_handle")).toString());

    QVariantMap select{{QStringLiteral("types"), types}, {QStringLiteral("multiple"), false}};
    if (cursor) select.insert(QStringLiteral("cursor_mode"), cursor);
    if (persist) select.insert(QStringLiteral("persist_mode"), persist);
    if (!restoreToken.isEmpty()) select.insert(QStringLiteral("restore_token"), restoreToken);
    Reply selected = Request(bus, QStringLiteral("SelectSources"), {QVariant::fromValue(session)}, select);
    if (!selected.answered || selected.code != 0) return selected.answered ? 10 + static_cast<int>(selected.code) : 1;

    Reply started = Request(bus, QStringLiteral("Start"), {QVariant::fromValue(session), QString()}, {});
    if (!started.answered || started.code != 0) return started.answered ? 10 + static_cast<int>(started.code) : 1;

    // streams: a(ua{sv}), the node id and its properties (size among them).
    const QDBusArgument streams = started.results.value(QStringLiteral("streams")).value<QDBusArgument>();
    int count = 0;
    streams.beginArray();
    while (!streams.atEnd()) {
        uint node = 0;
        QVariantMap props;
        streams.beginStructure();
        streams >> node >> props;
        streams.endStructure();
        int width = 0, height = 0;
        if (props.contains(QStringLiteral("size"))) {
            const QDBusArgument size = props.value(QStringLiteral("size")).value<QDBusArgument>();
            size.beginStructure();
            size >> width >> height;
            size.endStructure();
        }
        std::printf("node %u %dx%d\n", node, width, height);
        ++count;
    }
    streams.endArray();
    const QString token = started.results.value(QStringLiteral("restore_token")).toString();
    if (!token.isEmpty()) std::printf("restore_token %s\n", qPrintable(token));
    std::fflush(stdout);
    if (hold && count > 0) {
        QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
        QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
            char buffer[256];
            if (read(STDIN_FILENO, buffer, sizeof buffer) <= 0) app.quit();
        });
        app.exec();
    }
    return count > 0 ? 0 : 1;
}

#include "portal_screencast.moc"
