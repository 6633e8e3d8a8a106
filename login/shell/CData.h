#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "AudioRecord.h"
#include "CXmlDocFile.h"
#include "GameRecord.h"
#include "HttpHandle.h"
#include "LoginRecord.h"
#include "ServerAddresses.h"
#include "VideoRecord.h"

namespace MY_DATA_SPACE {

// The broadcaster's shared data: the user file "usr.xml" (remembered logins, version) and the
// configuration file "config.xml" (service addresses, game and system lists, per-user settings),
// the login and broadcast results, and the shared broadcasting flag. Both files fall back to
// their read-only copies under "default/" and are written back when the object is destroyed.
// User-interface thread only.
class CData {
public:
    CData();
    virtual ~CData();
    CData(const CData&) = delete;
    CData& operator=(const CData&) = delete;

    // Each loads the plain file, else its default copy; the document stays bound to the plain
    // name. A plain file that is there but not accepted is first moved to "NAME.rejected" (or
    // "NAME.rejected.2", ...), so writing the defaults back never destroys it. False when
    // neither can be read and understood; that document is then never written.
    bool LoadUserFile();
    bool LoadConfigFile();
    // Reads the person entry of the current user, else the default (empty name) entry.
    // False, with the records untouched, when there is neither.
    bool LoadPersonSettings();

    const std::vector<LoginRecord>& RememberedUsers() const { return rememberedUsers_; }
    const std::string& ServerAddress(int slot) const;
    const ServerAddressTable& ServerAddresses() const { return serverAddresses_; }
    void SetServerAddress(int slot, std::string address);

    const LoginRecord& CurrentUser() const { return currentUser_; }
    void SetCurrentUser(LoginRecord user) { currentUser_ = std::move(user); }

    int BitRate() const { return bitRate_; }
    void SetBitRate(int v) { bitRate_ = v; }
    const std::string& StreamId() const { return streamId_; }
    void SetStreamId(std::string v) { streamId_ = std::move(v); }
    AudioRecord Audio() const { return audio_; }
    void SetAudio(const AudioRecord& v) { audio_ = v; }
    VideoRecord Video() const { return video_; }
    void SetVideo(const VideoRecord& v) { video_ = v; }
    int Recording() const { return recording_; }
    void SetRecording(int v) { recording_ = v; }
    const std::string& SaveFile() const { return saveFile_; }
    void SetSaveFile(std::string v) { saveFile_ = std::move(v); }

    // What the desktop's screen-sharing portal answered the last time the member broadcast the
    // game `processName` (empty: nothing kept); with it the portal shares the game again
    // without asking. Kept in the member's person entry.
    std::string CaptureToken(const std::string& processName) const;
    void SetCaptureToken(const std::string& processName, std::string token);

    const std::string& PipName() const { return pipName_; }
    void SetPipName(std::string v) { pipName_ = std::move(v); }
    const std::string& PipUrl() const { return pipUrl_; }
    void SetPipUrl(std::string v) { pipUrl_ = std::move(v); }
    const std::string& Lid() const { return lid_; }
    void SetLid(std::string v) { lid_ = std::move(v); }

    int UsrLoaded() const { return usrLoaded_; }
    int PersonLoaded() const { return personLoaded_; }
    int Broadcasting() const { return broadcasting_; }
    void SetBroadcasting(int v) { broadcasting_ = v; }

    // The HTTP client's session and kept connection; setting a slot closes what it held.
    HttpHandle* Session() const { return session_.get(); }
    void SetSession(std::unique_ptr<HttpHandle> h) { session_ = std::move(h); }
    HttpHandle* Connection() const { return connection_.get(); }
    void SetConnection(std::unique_ptr<HttpHandle> h) { connection_ = std::move(h); }

    const std::vector<std::string>& SystemList() const { return systemList_; }
    const std::vector<GameRecord>& GameList() const { return gameList_; }
    const std::string& Version() const { return version_; }

    // Brings the documents up to date (login order, the user's person entry) without saving;
    // the destructor calls it before both documents write themselves back.
    void UpdateDocuments();
    // Brings the documents up to date and writes both files now, so that what the member chose
    // survives a process that ends without reaching the destructor (an encoder failure ends
    // the program from a worker thread). False when a file could not be written.
    bool SaveFiles();

private:
    bool ReadUserDocument();
    bool ReadConfigDocument();

    CXmlDocFile userDocument_{"usr.xml"};
    std::vector<LoginRecord> rememberedUsers_;
    ServerAddressTable serverAddresses_;
    LoginRecord currentUser_;
    CXmlDocFile configDocument_{"config.xml"};
    int bitRate_ = 0;
    std::string streamId_;
    AudioRecord audio_{0, 1, 0, 0, 0};
    VideoRecord video_{1, 0, 0, 0, 0};
    int recording_ = 0;
    std::string saveFile_;
    std::map<std::string, std::string> captureTokens_;
    std::string pipName_;
    std::string pipUrl_;
    int usrLoaded_ = 0;
    int personLoaded_ = 0;
    std::unique_ptr<HttpHandle> session_;
    std::unique_ptr<HttpHandle> connection_;
    std::string lid_;
    int broadcasting_ = 0;
    std::vector<std::string> systemList_;
    std::vector<GameRecord> gameList_;
    std::string version_;
};

// The one CData of the program, created on the first call. It lives until DestroyData(): an
// exit that does not go through Quit writes no file.
CData& GetData();
// Ends the CData's life (the login window's Quit): both files are written back.
void DestroyData();

}  // namespace MY_DATA_SPACE
