#include "CData.h"

#include "DecimalText.h"
#include "FileAside.h"

#include <new>
#include <optional>

namespace MY_DATA_SPACE {
namespace {

using Node = CXmlDocFile::Node;

constexpr const char* kUserFile = "usr.xml";
constexpr const char* kConfigFile = "config.xml";
constexpr const char* kDefaultUserFile = "default/usr.xml";
constexpr const char* kDefaultConfigFile = "default/config.xml";

std::string Text(const Node* node) { return std::string(node->value(), node->value_size()); }

std::optional<std::string> Attribute(const Node* node, const char* name) {
    const auto* attr = node->first_attribute(name);
    if (attr == nullptr) return std::nullopt;
    return std::string(attr->value(), attr->value_size());
}

// The n-th child element, whatever its name: the settings are read by position.
const Node* ChildAt(const Node* parent, int index) {
    const Node* child = parent->first_node();
    while (child != nullptr && child->type() != rapidxml::node_element) child = child->next_sibling();
    for (int i = 0; child != nullptr && i < index; ++i) {
        do child = child->next_sibling();
        while (child != nullptr && child->type() != rapidxml::node_element);
    }
    return child;
}

template <typename F>
void ForEachElement(const Node* parent, F&& f) {
    for (const Node* c = parent->first_node(); c != nullptr; c = c->next_sibling())
        if (c->type() == rapidxml::node_element) f(c);
}

bool NameIs(const Node* node, const std::string& name) {
    const auto value = Attribute(node, "name");
    return value && *value == name;
}

struct PersonRecords {
    VideoRecord video;
    AudioRecord audio;
    int recording = 0;
    std::string saveFile;
    std::string streamId;
    int bitRate = 0;
    std::map<std::string, std::string> captureTokens;
};

// The portal's restore tokens of a person entry: "capture" children after "net", which older
// files lack.
constexpr const char* kCaptureTag = "capture";
constexpr const char* kCaptureGame = "game";
constexpr const char* kCaptureToken = "restore_token";

// Reads one person entry; nullopt when it lacks a child the layout requires.
std::optional<PersonRecords> ReadPerson(const Node* person, const AudioRecord& audioBase,
                                        const VideoRecord& videoBase) {
    const Node* video = ChildAt(person, 0);
    const Node* audio = ChildAt(person, 1);
    const Node* net = ChildAt(person, 2);
    if (!video || !audio || !net) return std::nullopt;

    const Node* v[6];
    for (int i = 0; i < 6; ++i)
        if (!(v[i] = ChildAt(video, i))) return std::nullopt;
    const Node* a[5];
    for (int i = 0; i < 5; ++i)
        if (!(a[i] = ChildAt(audio, i))) return std::nullopt;
    const Node* n[2];
    for (int i = 0; i < 2; ++i)
        if (!(n[i] = ChildAt(net, i))) return std::nullopt;
    const auto num = Attribute(v[1], "num");
    const auto den = Attribute(v[1], "den");
    if (!num || !den) return std::nullopt;

    PersonRecords r;
    r.video = videoBase;
    r.audio = audioBase;
    r.video.sizePercent = ParseLeadingDecimal(Text(v[0]));
    r.video.frameRateNum = ParseLeadingDecimal(*num);
    r.video.frameRate = ParseLeadingDecimal(*den);
    r.video.quality = ParseLeadingDecimal(Text(v[2]));
    r.recording = ParseLeadingDecimal(Text(v[3])) == 1 ? 1 : 0;
    r.video.deviceIndex = ParseLeadingDecimal(Text(v[4]));
    r.saveFile = Text(v[5]);
    r.audio.sampleRate = ParseLeadingDecimal(Text(a[0]));
    r.audio.channels = ParseLeadingDecimal(Text(a[1]));
    r.audio.dataRate = ParseLeadingDecimal(Text(a[2]));
    r.audio.enabled = ParseLeadingDecimal(Text(a[3])) == 1 ? 1 : 0;
    r.audio.deviceIndex = ParseLeadingDecimal(Text(a[4]));
    r.streamId = Text(n[0]);
    r.bitRate = ParseLeadingDecimal(Text(n[1]));
    for (const Node* c = person->first_node(kCaptureTag); c != nullptr; c = c->next_sibling(kCaptureTag)) {
        const auto game = Attribute(c, kCaptureGame);
        const auto token = Attribute(c, kCaptureToken);
        if (game && token && !game->empty() && !token->empty()) r.captureTokens[*game] = *token;
    }
    return r;
}

constexpr const char* kRejectedSuffix = ".rejected";

// Loads `plain`, else `fallback`, into `doc` and accepts the first one that `understand` can read.
// The document is written back to `plain` later: a member's own file that was not accepted (a
// damaged file, a tenth server, a login without its attributes) still holds every other member's
// settings and logins, so it goes aside under a name that says why before the defaults can ever
// replace it. If it cannot be moved, or nothing was accepted, the document is never written.
template <typename F>
bool LoadWithFallback(CXmlDocFile& doc, const char* plain, const char* fallback, F&& understand) {
    if (doc.Load(plain) && understand()) return true;
    if (doc.Load(fallback) && understand()) {
        if (!MoveFileAside(plain, kRejectedSuffix)) doc.Unbind();
        return true;
    }
    doc.Unbind();
    return false;
}

}  // namespace

CData::CData() = default;

CData::~CData() {
    UpdateDocuments();
    usrLoaded_ = 0;
    personLoaded_ = 0;
    connection_.reset();
    session_.reset();
    // configDocument_ and userDocument_ write themselves back as they are destroyed.
}

bool CData::SaveFiles() {
    UpdateDocuments();
    const bool user = userDocument_.Save();
    const bool config = configDocument_.Save();
    return user && config;
}

const std::string& CData::ServerAddress(int slot) const {
    static const std::string kNone;
    return slot >= 0 && slot < kServerSlots ? serverAddresses_[static_cast<std::size_t>(slot)] : kNone;
}

void CData::SetServerAddress(int slot, std::string address) {
    if (slot >= 0 && slot < kServerSlots) serverAddresses_[static_cast<std::size_t>(slot)] = std::move(address);
}

bool CData::LoadUserFile() {
    const bool loaded = LoadWithFallback(userDocument_, kUserFile, kDefaultUserFile,
                                         [this] { return ReadUserDocument(); });
    usrLoaded_ = loaded ? 1 : 0;
    return loaded;
}

bool CData::ReadUserDocument() {
    rememberedUsers_.clear();
    version_.clear();
    const Node* root = userDocument_.Doc().first_node("usr");
    if (root == nullptr) return false;
    const auto version = Attribute(root, "version");
    if (!version) return false;

    std::vector<LoginRecord> users;
    bool complete = true;
    ForEachElement(root, [&](const Node* login) {
        const auto name = Attribute(login, "name");
        const auto passwd = Attribute(login, "passwd");
        const auto flag = Attribute(login, "record_passwd");
        if (!name || !passwd || !flag) {
            complete = false;
            return;
        }
        users.push_back({*name, *passwd, !flag->empty() && flag->front() == '1'});
    });
    if (!complete) return false;
    version_ = *version;
    rememberedUsers_ = std::move(users);
    return true;
}

bool CData::LoadConfigFile() {
    return LoadWithFallback(configDocument_, kConfigFile, kDefaultConfigFile,
                            [this] { return ReadConfigDocument(); });
}

bool CData::ReadConfigDocument() {
    serverAddresses_ = {};
    gameList_.clear();
    systemList_.clear();
    const Node* root = configDocument_.Doc().first_node("kanvo");
    if (root == nullptr) return false;
    const Node* server = root->first_node("server");
    if (server == nullptr) return false;

    std::array<std::string, kServerSlots> servers;
    std::size_t count = 0;
    bool ok = true;
    ForEachElement(server, [&](const Node* child) {
        if (count >= servers.size()) {
            ok = false;
            return;
        }
        servers[count++] = Text(child);
    });
    if (!ok) return false;

    std::vector<GameRecord> games;
    if (const Node* list = root->first_node("game_list")) {
        ForEachElement(list, [&](const Node* game) {
            const auto name = Attribute(game, "name");
            const auto main = Attribute(game, "main");
            if (!name || !main) {
                ok = false;
                return;
            }
            games.push_back({*name, *main, Attribute(game, "CompanyName").value_or(""),
                             Attribute(game, "LegalCopyright").value_or("")});
        });
    }
    if (!ok) return false;

    std::vector<std::string> system;
    if (const Node* list = root->first_node("system"))
        ForEachElement(list, [&](const Node* entry) { system.push_back(Text(entry)); });

    serverAddresses_ = std::move(servers);
    gameList_ = std::move(games);
    systemList_ = std::move(system);
    return true;
}

bool CData::LoadPersonSettings() {
    const Node* root = configDocument_.Doc().first_node("kanvo");
    if (root == nullptr) return false;

    const Node* own = nullptr;
    const Node* fallback = nullptr;
    for (const Node* p = root->first_node("person"); p != nullptr; p = p->next_sibling("person")) {
        if (!own && NameIs(p, currentUser_.name)) own = p;
        if (!fallback && NameIs(p, "")) fallback = p;
    }
    // A damaged entry of the user's own falls back to the defaults instead of losing them.
    for (const Node* person : {own, fallback}) {
        if (person == nullptr) continue;
        if (auto r = ReadPerson(person, audio_, video_)) {
            video_ = r->video;
            audio_ = r->audio;
            recording_ = r->recording;
            saveFile_ = r->saveFile;
            streamId_ = r->streamId;
            captureTokens_ = r->captureTokens;
            bitRate_ = r->bitRate;
            personLoaded_ = 1;
            return true;
        }
    }
    return false;
}

void CData::UpdateDocuments() {
    const std::string& name = currentUser_.name;
    if (name.empty()) return;

    if (usrLoaded_) {
        if (Node* root = userDocument_.Doc().first_node("usr")) {
            for (Node* login = root->first_node(); login != nullptr; login = login->next_sibling()) {
                if (login->type() == rapidxml::node_element && NameIs(login, name)) {
                    root->remove_node(login);
                    break;
                }
            }
            Node* login = userDocument_.NewElement("login");
            userDocument_.SetAttribute(login, "name", name);
            userDocument_.SetAttribute(login, "passwd", currentUser_.remember ? currentUser_.password : "");
            userDocument_.SetAttribute(login, "record_passwd", currentUser_.remember ? "1" : "0");
            root->prepend_node(login);
        }
    }

    if (personLoaded_) {
        if (Node* root = configDocument_.Doc().first_node("kanvo")) {
            for (Node* p = root->first_node("person"); p != nullptr; p = p->next_sibling("person")) {
                if (NameIs(p, name)) {
                    root->remove_node(p);
                    break;
                }
            }
            CXmlDocFile& doc = configDocument_;
            auto child = [&doc](Node* parent, const char* tag, const std::string& value) {
                Node* n = doc.NewElement(tag, value);
                parent->append_node(n);
                return n;
            };
            auto number = [](int v) { return std::to_string(v); };

            Node* person = doc.NewElement("person");
            doc.SetAttribute(person, "name", name);
            Node* video = child(person, "video", "");
            child(video, "size", number(video_.sizePercent));
            Node* rate = child(video, "frame_rate", "");
            doc.SetAttribute(rate, "num", number(video_.frameRateNum));
            doc.SetAttribute(rate, "den", number(video_.frameRate));
            child(video, "quality", number(video_.quality));
            child(video, "record", number(recording_));
            child(video, "deviceID", number(video_.deviceIndex));
            child(video, "savefile", recording_ ? saveFile_ : "");
            Node* audio = child(person, "audio", "");
            child(audio, "sample_rate", number(audio_.sampleRate));
            child(audio, "channels", number(audio_.channels));
            child(audio, "datarate", number(audio_.dataRate));
            child(audio, "record", number(audio_.enabled));
            child(audio, "deviceID", number(audio_.deviceIndex));
            Node* net = child(person, "net", "");
            child(net, "streamID", streamId_);
            child(net, "speed", number(bitRate_));
            for (const auto& [game, token] : captureTokens_) {
                Node* capture = child(person, kCaptureTag, "");
                doc.SetAttribute(capture, kCaptureGame, game);
                doc.SetAttribute(capture, kCaptureToken, token);
            }
            root->append_node(person);
        }
    }
}

std::string CData::CaptureToken(const std::string& processName) const {
    const auto it = captureTokens_.find(processName);
    return it == captureTokens_.end() ? std::string() : it->second;
}

void CData::SetCaptureToken(const std::string& processName, std::string token) {
    if (token.empty())
        captureTokens_.erase(processName);
    else
        captureTokens_[processName] = std::move(token);
}

namespace {
// The holder itself is never destroyed: the data object ends at Quit (DestroyData) and nowhere
// else. A process that ends any other way (the encoder's exit(1) on the timer thread while the
// user-interface thread runs on, the exit after a bad game list, "open configure file error!")
// must not write the member's files from whatever thread is exiting. The object stays reachable
// from static storage, so leak checkers do not count it.
std::unique_ptr<CData>& Instance() {
    alignas(std::unique_ptr<CData>) static unsigned char storage[sizeof(std::unique_ptr<CData>)];
    static std::unique_ptr<CData>* const data = ::new (storage) std::unique_ptr<CData>();
    return *data;
}
}  // namespace

CData& GetData() {
    auto& data = Instance();
    if (!data) data = std::make_unique<CData>();
    return *data;
}

void DestroyData() { Instance().reset(); }

}  // namespace MY_DATA_SPACE
