#pragma once

#include <QEventLoop>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include <atomic>
#include <memory>
#include <optional>
#include <string>

namespace portal {

// What the portal shared: one PipeWire node on the remote it opened for us.
struct SharedStream {
    unsigned nodeId = 0;
    int width = 0;   // the source's size as the portal reports it; 0 when it did not
    int height = 0;
    unsigned sourceType = 0;  // 1 monitor, 2 window
    bool cursorEmbedded = false;
    bool cursorAsMetadata = false;
    int pipeWireFd = -1;      // owned by the SharedStream's holder
    std::string restoreToken;
};

// The desktop's ScreenCast portal (org.freedesktop.portal.ScreenCast on the session bus),
// spoken to through QtDBus on the calling thread: CreateSession, SelectSources, Start and
// OpenPipeWireRemote. Every request carries a handle token of ours, and the answer's
// Response signal is subscribed to before the call, so no answer is lost. The calls wait for
// their answers in a local event loop: the member may be choosing in the portal's picker.
//
// One object is one portal session; destroying it closes the session, which ends the sharing.
class ScreenCastPortal : public QObject {
    Q_OBJECT
public:
    // Why Open failed, for the caller's words and the log.
    enum class Failure { None, NoPortal, Cancelled, Refused, NoRemote };

    // How long the member may take in the portal's picker before we give up on an answer.
    static constexpr int kAnswerTimeoutMs = 5 * 60 * 1000;

    explicit ScreenCastPortal(int answerTimeoutMs = kAnswerTimeoutMs);
    ~ScreenCastPortal() override;

    // Asks the portal to share one window (a monitor where windows are not offered). With
    // `restoreToken` the portal may share what it shared under that token without its picker;
    // a token it refuses brings the picker back. True with `stream` filled on success.
    bool Open(const std::string& restoreToken, SharedStream* stream);

    // The restore token Start answered with in the last Open, set once Start answered, even when
    // the open failed afterwards (no remote): the token given to Open is honoured once only, and
    // this one replaces it. Empty when the portal keeps nothing.
    const std::optional<std::string>& AnsweredToken() const { return answeredToken_; }

    Failure LastFailure() const { return failure_; }
    // The portal's (or the bus's) own words about the last failure.
    const std::string& FailureText() const { return failureText_; }
    // Set once the portal closed the session (the desktop ended the sharing). Read from any
    // thread; the signal arrives on this object's.
    bool Closed() const { return closed_.load(); }

    // What the portal offers, read from its properties; 0 when there is no portal.
    static unsigned Version();

    // Gives up the answers being waited for on this thread (the member stopped, the program is
    // ending): each request is withdrawn, so its picker leaves the screen, and its Open returns
    // at once, failing as Cancelled. The waits run nested event loops on the caller's thread, so
    // this is called from inside them; the objects stay until their Open has returned.
    static void WithdrawWaits();

private slots:
    void OnResponse(uint response, const QVariantMap& results);
    void OnClosed(const QVariantMap& details);

private:
    // Calls `method` with `arguments` (the options last, which gets our handle token) and waits
    // for its Response; false on an error or a response other than 0.
    bool Request(const QString& method, QList<QVariant> arguments, QVariantMap* results);
    bool Fail(Failure failure, std::string text);
    QString NewToken();

    const int answerTimeoutMs_;
    QString sessionHandle_;
    Failure failure_ = Failure::None;
    std::string failureText_;
    std::optional<std::string> answeredToken_;
    std::atomic<bool> closed_{false};
    // The answer being waited for.
    bool answered_ = false;
    bool withdrawn_ = false;
    uint response_ = 2;
    QVariantMap results_;
    QEventLoop* waiting_ = nullptr;
};

}  // namespace portal
