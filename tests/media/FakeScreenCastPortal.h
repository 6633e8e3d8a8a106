#pragma once

// A stand-in for the desktop's ScreenCast portal, for tests of the portal client. It owns
// org.freedesktop.portal.Desktop on a connection of its own to the session bus (a private bus of
// the test's) and serves from a thread of its own, because the client blocks its thread in its
// calls. A test sets how it answers and reads what it was asked.

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QMap>
#include <QStringList>
#include <QThread>
#include <QTimer>
#include <QVariantMap>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

#include <fcntl.h>
#include <unistd.h>

namespace fakeportal {

// One entry of Start's `streams` answer, a(ua{sv}), and the (ii) of its size.
struct Stream {
    uint node = 0;
    QVariantMap properties;
};
struct Size {
    int width = 0;
    int height = 0;
};

inline QDBusArgument& operator<<(QDBusArgument& arg, const Stream& s) {
    arg.beginStructure();
    arg << s.node << s.properties;
    arg.endStructure();
    return arg;
}
inline const QDBusArgument& operator>>(const QDBusArgument& arg, Stream& s) {
    arg.beginStructure();
    arg >> s.node >> s.properties;
    arg.endStructure();
    return arg;
}
inline QDBusArgument& operator<<(QDBusArgument& arg, const Size& s) {
    arg.beginStructure();
    arg << s.width << s.height;
    arg.endStructure();
    return arg;
}
inline const QDBusArgument& operator>>(const QDBusArgument& arg, Size& s) {
    arg.beginStructure();
    arg >> s.width >> s.height;
    arg.endStructure();
    return arg;
}

}  // namespace fakeportal

Q_DECLARE_METATYPE(fakeportal::Stream)
Q_DECLARE_METATYPE(fakeportal::Size)

class FakeScreenCastPortal {
public:
    // How it answers.
    struct Setup {
        uint version = 5;
        uint sourceTypes = 1 | 2;        // monitor, window
        uint cursorModes = 1 | 2 | 4;    // hidden, embedded, metadata
        QMap<QString, uint> responses;   // per method; 0 (granted) where not named
        QString silentAt;                // the method whose request is never answered
        bool ownRequestPaths = false;    // answers where it chooses, as portals before 0.9 did
        bool answerBeforeReply = false;  // the Response overtakes the method's reply
        QString knownToken;              // a restore token whose choice it remembers
        QString newToken = QStringLiteral("token-new");  // the token it hands out
        uint node = 42;
        int width = 1280;
        int height = 720;
        uint streamSourceType = 2;
        bool remoteFails = false;
    };
    // What the client asked.
    struct Seen {
        QStringList calls;           // the ScreenCast methods, in order
        QStringList requestPaths;    // where each request was answered (or would have been)
        QVariantMap selectOptions;   // SelectSources' options
        bool pickerShown = false;
        QString sessionPath;
        QStringList closedRequests;  // Request.Close
        QStringList closedSessions;  // Session.Close
    };

    explicit FakeScreenCastPortal(Setup setup) : setup_(std::move(setup)) {
        qDBusRegisterMetaType<fakeportal::Stream>();
        qDBusRegisterMetaType<QList<fakeportal::Stream>>();
        qDBusRegisterMetaType<fakeportal::Size>();
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) == 0) {
            remoteRead_ = ends[0];
            remoteWrite_ = ends[1];
        }
        bus_ = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("fake-screencast-portal")));
        // Registering gives the object a child of this thread's, so it moves to its own after.
        object_ = new Object(this);
        registered_ = bus_->isConnected() && bus_->registerVirtualObject(kPath, object_, QDBusConnection::SubPath);
        object_->moveToThread(&thread_);
        thread_.start();
        registered_ = registered_ && bus_->registerService(QStringLiteral("org.freedesktop.portal.Desktop"));
    }

    ~FakeScreenCastPortal() {
        bus_->unregisterService(QStringLiteral("org.freedesktop.portal.Desktop"));
        bus_->unregisterObject(kPath, QDBusConnection::UnregisterTree);
        // Its timer lives on its thread, so it is stopped there.
        QMetaObject::invokeMethod(object_, [o = object_] { o->StopRepeating(); }, Qt::BlockingQueuedConnection);
        thread_.quit();
        thread_.wait();
        delete object_;
        bus_.reset();
        QDBusConnection::disconnectFromBus(QStringLiteral("fake-screencast-portal"));
        if (remoteRead_ >= 0) ::close(remoteRead_);
        if (remoteWrite_ >= 0) ::close(remoteWrite_);
    }

    FakeScreenCastPortal(const FakeScreenCastPortal&) = delete;
    FakeScreenCastPortal& operator=(const FakeScreenCastPortal&) = delete;

    // Whether it owns the portal's name and path.
    bool Registered() const { return registered_; }

    Seen Asked() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return seen_;
    }

    bool WaitUntil(const std::function<bool(const Seen&)>& holds,
                   std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) const {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, limit, [&] { return holds(seen_); });
    }

    // The desktop ends the sharing.
    void CloseSession() {
        QDBusMessage closed = QDBusMessage::createSignal(Asked().sessionPath, kSession, QStringLiteral("Closed"));
        closed.setArguments({QVariantMap()});
        bus_->send(closed);
    }

    // The member answers at last: the request left silent gets its answer.
    void AnswerWithheld() {
        QMetaObject::invokeMethod(object_, [o = object_] { o->SendWithheld(); }, Qt::BlockingQueuedConnection);
    }

    // The other end of the descriptor OpenPipeWireRemote hands out.
    int RemoteWriteEnd() const { return remoteWrite_; }

private:
    static inline const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
    static inline const QString kScreenCast = QStringLiteral("org.freedesktop.portal.ScreenCast");
    static inline const QString kRequest = QStringLiteral("org.freedesktop.portal.Request");
    static inline const QString kSession = QStringLiteral("org.freedesktop.portal.Session");

    // Everything under the portal's path, handled on the fake's thread.
    class Object : public QDBusVirtualObject {
    public:
        explicit Object(FakeScreenCastPortal* fake) : fake_(fake) {}

        QString introspect(const QString&) const override { return {}; }

        // Called on the bus's own thread; served on the fake's.
        bool handleMessage(const QDBusMessage& message, const QDBusConnection& bus) override {
            QMetaObject::invokeMethod(this, [this, message, bus] { Serve(message, bus); }, Qt::QueuedConnection);
            return true;
        }

        void StopRepeating() {
            delete repeat_;
            repeat_ = nullptr;
        }

        void SendWithheld() {
            if (withheldBus_) withheldBus_->send(withheld_);
            withheldBus_.reset();
        }

    private:
        void Serve(const QDBusMessage& message, const QDBusConnection& bus) {
            const QString iface = message.interface();
            const QString member = message.member();
            if (iface == QStringLiteral("org.freedesktop.DBus.Properties") && member == QStringLiteral("Get")) {
                Property(message, bus);
                return;
            }
            if ((iface == kRequest || iface == kSession) && member == QStringLiteral("Close")) {
                fake_->Record([&](Seen& seen) {
                    (iface == kRequest ? seen.closedRequests : seen.closedSessions).append(message.path());
                });
                bus.send(message.createReply());
                return;
            }
            if (iface != kScreenCast || message.path() != kPath) {
                bus.send(message.createErrorReply(QDBusError::UnknownMethod, member));
                return;
            }
            // The client moved on, so it has the answer that was being repeated.
            StopRepeating();
            fake_->Record([&](Seen& seen) { seen.calls.append(member); });
            if (member == QStringLiteral("OpenPipeWireRemote")) {
                if (fake_->setup_.remoteFails)
                    bus.send(message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.AccessDenied"),
                                                      QStringLiteral("no remote for this session")));
                else
                    bus.send(message.createReply(QVariant::fromValue(QDBusUnixFileDescriptor(fake_->remoteRead_))));
                return;
            }
            Answer(message, bus);
        }

        void Property(const QDBusMessage& message, const QDBusConnection& bus) {
            const Setup& setup = fake_->setup_;
            const QString name = message.arguments().value(1).toString();
            QVariant value;
            if (message.arguments().value(0).toString() == kScreenCast) {
                if (name == QStringLiteral("version")) value = setup.version;
                if (name == QStringLiteral("AvailableSourceTypes")) value = setup.sourceTypes;
                if (name == QStringLiteral("AvailableCursorModes")) value = setup.cursorModes;
            }
            bus.send(value.isValid()
                         ? message.createReply(QVariant::fromValue(QDBusVariant(value)))
                         : message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.UnknownProperty"), name));
        }

        // CreateSession, SelectSources and Start: the reply names the request, whose Response
        // carries the answer.
        void Answer(const QDBusMessage& message, const QDBusConnection& bus) {
            const Setup& setup = fake_->setup_;
            const QString method = message.member();
            const QVariantMap options =
                qdbus_cast<QVariantMap>(message.arguments().value(message.arguments().size() - 1));
            QString sender = message.service().mid(1);
            sender.replace(QLatin1Char('.'), QLatin1Char('_'));
            const QString requestPath =
                setup.ownRequestPaths
                    ? QStringLiteral("%1/request/old/%2").arg(kPath).arg(++ownRequests_)
                    : QStringLiteral("%1/request/%2/%3").arg(kPath, sender, options.value("handle_token").toString());
            QVariantMap results;
            if (method == QStringLiteral("CreateSession")) {
                const QString session = QStringLiteral("%1/session/%2/%3")
                                            .arg(kPath, sender, options.value("session_handle_token").toString());
                fake_->Record([&](Seen& seen) { seen.sessionPath = session; });
                results.insert(QStringLiteral("session_handle"), session);
            } else if (method == QStringLiteral("SelectSources")) {
                // A token it does not know brings its picker up, as real portals do.
                const bool known = !setup.knownToken.isEmpty() &&
                                   options.value(QStringLiteral("restore_token")).toString() == setup.knownToken;
                fake_->Record([&](Seen& seen) {
                    seen.selectOptions = options;
                    seen.pickerShown = !known;
                });
            } else if (method == QStringLiteral("Start")) {
                fakeportal::Stream stream;
                stream.node = setup.node;
                stream.properties.insert(QStringLiteral("source_type"), setup.streamSourceType);
                stream.properties.insert(QStringLiteral("size"),
                                         QVariant::fromValue(fakeportal::Size{setup.width, setup.height}));
                results.insert(QStringLiteral("streams"), QVariant::fromValue(QList<fakeportal::Stream>{stream}));
                if (fake_->Asked().selectOptions.contains(QStringLiteral("persist_mode")))
                    results.insert(QStringLiteral("restore_token"), setup.newToken);
            }
            fake_->Record([&](Seen& seen) { seen.requestPaths.append(requestPath); });

            QDBusMessage response = QDBusMessage::createSignal(requestPath, kRequest, QStringLiteral("Response"));
            response.setArguments({setup.responses.value(method, 0), results});
            const QDBusMessage reply = message.createReply(QVariant::fromValue(QDBusObjectPath(requestPath)));
            if (method == setup.silentAt) {
                withheld_ = response;
                withheldBus_ = std::make_unique<QDBusConnection>(bus);
                bus.send(reply);
            } else if (setup.answerBeforeReply) {
                bus.send(response);
                bus.send(reply);
            } else {
                bus.send(reply);
                bus.send(response);
            }
            if (setup.ownRequestPaths && method != setup.silentAt) {
                // The client learns this path only from the reply, so an answer sent before it
                // listens there is lost; it is sent again until the client's next call.
                repeat_ = new QTimer(this);
                QObject::connect(repeat_, &QTimer::timeout, [bus, response] { bus.send(response); });
                repeat_->start(20);
            }
        }

        FakeScreenCastPortal* fake_;
        QTimer* repeat_ = nullptr;
        QDBusMessage withheld_;
        std::unique_ptr<QDBusConnection> withheldBus_;
        int ownRequests_ = 0;
    };

    template <typename Change>
    void Record(Change change) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            change(seen_);
        }
        changed_.notify_all();
    }

    const Setup setup_;
    int remoteRead_ = -1;
    int remoteWrite_ = -1;
    QThread thread_;
    Object* object_ = nullptr;
    std::unique_ptr<QDBusConnection> bus_;
    bool registered_ = false;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    Seen seen_;
};
