#include "ScreenCastPortal.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QDBusVariant>
#include <QEventLoop>
#include <QTimer>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

namespace portal {
namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kScreenCast = QStringLiteral("org.freedesktop.portal.ScreenCast");
const QString kRequest = QStringLiteral("org.freedesktop.portal.Request");
const QString kSession = QStringLiteral("org.freedesktop.portal.Session");

// Source types and cursor modes, as the portal numbers them.
constexpr uint kMonitor = 1;
constexpr uint kWindow = 2;
constexpr uint kCursorHidden = 1;
constexpr uint kCursorEmbedded = 2;
constexpr uint kCursorMetadata = 4;
// Persist until the member revokes it.
constexpr uint kPersistUntilRevoked = 2;

QVariant Property(const QString& name) {
    QDBusMessage get = QDBusMessage::createMethodCall(kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    get.setArguments({kScreenCast, name});
    const QDBusMessage reply = QDBusConnection::sessionBus().call(get, QDBus::Block, 5000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return {};
    return reply.arguments().first().value<QDBusVariant>().variant();
}

// The portal's streams answer: a(ua{sv}), the first stream is ours.
bool FirstStream(const QVariant& streams, SharedStream* out) {
    if (!streams.canConvert<QDBusArgument>()) return false;
    const QDBusArgument array = streams.value<QDBusArgument>();
    bool found = false;
    array.beginArray();
    while (!array.atEnd()) {
        uint node = 0;
        QVariantMap properties;
        array.beginStructure();
        array >> node >> properties;
        array.endStructure();
        if (found) continue;
        found = true;
        out->nodeId = node;
        out->sourceType = properties.value(QStringLiteral("source_type")).toUInt();
        const QVariant size = properties.value(QStringLiteral("size"));
        if (size.canConvert<QDBusArgument>()) {
            const QDBusArgument pair = size.value<QDBusArgument>();
            int w = 0, h = 0;
            pair.beginStructure();
            pair >> w >> h;
            pair.endStructure();
            out->width = w;
            out->height = h;
        }
    }
    array.endArray();
    return found;
}

// The portals of this thread waiting for an answer, the innermost last.
std::vector<ScreenCastPortal*>& PortalsWaiting() {
    thread_local std::vector<ScreenCastPortal*> waiting;
    return waiting;
}

}  // namespace

void ScreenCastPortal::WithdrawWaits() {
    for (ScreenCastPortal* portal : PortalsWaiting()) {
        portal->withdrawn_ = true;
        if (portal->waiting_ != nullptr) portal->waiting_->quit();
    }
}

ScreenCastPortal::ScreenCastPortal(int answerTimeoutMs) : answerTimeoutMs_(answerTimeoutMs) {}

ScreenCastPortal::~ScreenCastPortal() {
    if (sessionHandle_.isEmpty() || closed_) return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.disconnect(QString(), sessionHandle_, kSession, QStringLiteral("Closed"), this,
                   SLOT(OnClosed(QVariantMap)));
    // Closing the session ends the sharing; nobody waits for the answer.
    bus.call(QDBusMessage::createMethodCall(kService, sessionHandle_, kSession, QStringLiteral("Close")),
             QDBus::NoBlock);
}

unsigned ScreenCastPortal::Version() { return Property(QStringLiteral("version")).toUInt(); }

bool ScreenCastPortal::Fail(Failure failure, std::string text) {
    failure_ = failure;
    failureText_ = std::move(text);
    return false;
}

QString ScreenCastPortal::NewToken() {
    // Unique for the whole process: the portal keeps a closed session's objects for a while, and
    // a second session under the same token would be refused.
    static std::atomic<unsigned> counter{0};
    return QStringLiteral("strimo%1_%2").arg(static_cast<qulonglong>(::getpid())).arg(++counter);
}

void ScreenCastPortal::OnResponse(uint response, const QVariantMap& results) {
    answered_ = true;
    response_ = response;
    results_ = results;
    if (waiting_ != nullptr) waiting_->quit();
}

void ScreenCastPortal::OnClosed(const QVariantMap&) { closed_ = true; }

bool ScreenCastPortal::Request(const QString& method, QList<QVariant> arguments, QVariantMap* results) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QString token = NewToken();
    // The request object the portal will answer on: its path is predictable from our unique
    // name and the token, so the answer is subscribed to before it can be sent.
    QString sender = bus.baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    QString requestPath = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
    const auto subscribe = [&](const QString& path, bool on) {
        return on ? bus.connect(QString(), path, kRequest, QStringLiteral("Response"), this,
                                SLOT(OnResponse(uint, QVariantMap)))
                  : bus.disconnect(QString(), path, kRequest, QStringLiteral("Response"), this,
                                   SLOT(OnResponse(uint, QVariantMap)));
    };
    if (!subscribe(requestPath, true)) return Fail(Failure::NoPortal, "cannot subscribe to the portal's answers");

    QVariantMap options = arguments.takeLast().toMap();
    options.insert(QStringLiteral("handle_token"), token);
    arguments.append(options);
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kScreenCast, method);
    call.setArguments(arguments);
    answered_ = false;
    const QDBusMessage reply = bus.call(call, QDBus::Block, 30000);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        subscribe(requestPath, false);
        return Fail(Failure::NoPortal, (method + QStringLiteral(": ") + reply.errorMessage()).toStdString());
    }
    // Portals before 0.9 chose the path themselves.
    const QString actual = reply.arguments().value(0).value<QDBusObjectPath>().path();
    if (!actual.isEmpty() && actual != requestPath) {
        subscribe(requestPath, false);
        requestPath = actual;
        subscribe(requestPath, true);
    }
    if (!answered_) {
        QEventLoop wait;
        QTimer timeout;
        timeout.setSingleShot(true);
        connect(&timeout, &QTimer::timeout, &wait, &QEventLoop::quit);
        timeout.start(answerTimeoutMs_);
        // The answer arrives through OnResponse, on this thread's event loop. Everything else
        // of the window thread runs meanwhile, the member's stop and quit too: they withdraw
        // the wait (WithdrawWaits) rather than destroy what waits.
        waiting_ = &wait;
        PortalsWaiting().push_back(this);
        wait.exec();
        auto& waiting = PortalsWaiting();
        waiting.erase(std::remove(waiting.begin(), waiting.end(), this), waiting.end());
        waiting_ = nullptr;
    }
    subscribe(requestPath, false);
    if (!answered_) {
        // Withdraw the request, or its picker stays on the member's screen after we gave up.
        bus.call(QDBusMessage::createMethodCall(kService, requestPath, kRequest, QStringLiteral("Close")),
                 QDBus::NoBlock);
        if (withdrawn_) return Fail(Failure::Cancelled, (method + QStringLiteral(": withdrawn")).toStdString());
        return Fail(Failure::NoPortal, (method + QStringLiteral(": no answer")).toStdString());
    }
    if (response_ == 1) return Fail(Failure::Cancelled, method.toStdString() + ": the member cancelled the picker");
    if (response_ != 0)
        return Fail(Failure::Refused, method.toStdString() + ": refused (response " + std::to_string(response_) + ")");
    *results = results_;
    // An answer that came as the wait was withdrawn still ends the open; what it carries (a
    // Start's token) is the caller's.
    if (withdrawn_) return Fail(Failure::Cancelled, (method + QStringLiteral(": withdrawn")).toStdString());
    return true;
}

bool ScreenCastPortal::Open(const std::string& restoreToken, SharedStream* stream) {
    failure_ = Failure::None;
    failureText_.clear();
    answeredToken_.reset();
    withdrawn_ = false;
    if (!QDBusConnection::sessionBus().isConnected()) return Fail(Failure::NoPortal, "no session bus");
    const unsigned version = Version();
    if (version == 0) return Fail(Failure::NoPortal, "no ScreenCast portal on the session bus");
    // Some back ends report types they do not honour; a window is asked for wherever offered.
    const uint types = Property(QStringLiteral("AvailableSourceTypes")).toUInt();
    const uint cursors = version >= 2 ? Property(QStringLiteral("AvailableCursorModes")).toUInt() : 0;

    QVariantMap results;
    QVariantMap create;
    create.insert(QStringLiteral("session_handle_token"), NewToken());
    if (!Request(QStringLiteral("CreateSession"), {create}, &results)) return false;
    const QVariant handle = results.value(QStringLiteral("session_handle"));
    sessionHandle_ = handle.canConvert<QDBusObjectPath>() ? handle.value<QDBusObjectPath>().path() : handle.toString();
    if (sessionHandle_.isEmpty()) return Fail(Failure::Refused, "CreateSession: no session handle");
    QDBusConnection::sessionBus().connect(QString(), sessionHandle_, kSession, QStringLiteral("Closed"), this,
                                          SLOT(OnClosed(QVariantMap)));

    QVariantMap select;
    select.insert(QStringLiteral("types"), (types & kWindow) != 0 ? kWindow : kMonitor);
    select.insert(QStringLiteral("multiple"), false);
    uint cursorMode = 0;
    if ((cursors & kCursorEmbedded) != 0)
        cursorMode = kCursorEmbedded;  // the compositor draws the pointer as it is
    else if ((cursors & kCursorMetadata) != 0)
        cursorMode = kCursorMetadata;  // we draw our arrow where it says
    else if ((cursors & kCursorHidden) != 0)
        cursorMode = kCursorHidden;
    if (cursorMode != 0) select.insert(QStringLiteral("cursor_mode"), cursorMode);
    if (version >= 4) {
        select.insert(QStringLiteral("persist_mode"), kPersistUntilRevoked);
        if (!restoreToken.empty()) select.insert(QStringLiteral("restore_token"), QString::fromStdString(restoreToken));
    }
    const QDBusObjectPath session(sessionHandle_);
    if (!Request(QStringLiteral("SelectSources"), {QVariant::fromValue(session), select}, &results)) return false;

    results.clear();
    const bool started =
        Request(QStringLiteral("Start"), {QVariant::fromValue(session), QString(), QVariantMap()}, &results);
    // A Start answered as it was withdrawn spent the given token all the same.
    if (started || !results.isEmpty())
        answeredToken_ = results.value(QStringLiteral("restore_token")).toString().toStdString();
    if (!started) return false;
    SharedStream shared;
    shared.restoreToken = *answeredToken_;
    if (!FirstStream(results.value(QStringLiteral("streams")), &shared))
        return Fail(Failure::Refused, "Start: the portal shared no stream");
    shared.cursorEmbedded = cursorMode == kCursorEmbedded;
    shared.cursorAsMetadata = cursorMode == kCursorMetadata;

    QDBusMessage open = QDBusMessage::createMethodCall(kService, kPath, kScreenCast, QStringLiteral("OpenPipeWireRemote"));
    open.setArguments({QVariant::fromValue(session), QVariantMap()});
    const QDBusMessage reply = QDBusConnection::sessionBus().call(open, QDBus::Block, 30000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return Fail(Failure::NoRemote, ("OpenPipeWireRemote: " + reply.errorMessage()).toStdString());
    const QDBusUnixFileDescriptor fd = reply.arguments().first().value<QDBusUnixFileDescriptor>();
    // Ours to keep beyond the reply's own copy.
    shared.pipeWireFd = fd.isValid() ? ::fcntl(fd.fileDescriptor(), F_DUPFD_CLOEXEC, 3) : -1;
    if (shared.pipeWireFd < 0) return Fail(Failure::NoRemote, "OpenPipeWireRemote: no descriptor");
    *stream = shared;
    return true;
}

}  // namespace portal
