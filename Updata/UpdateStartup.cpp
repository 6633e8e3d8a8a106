#include "UpdateStartup.h"

#include "CXmlDocFile.h"
#include "UpdateDescription.h"

std::string RunUpdateStartup(const std::string& versionFile, UpdateState& state,
                             std::unique_ptr<UpdateConnection>& connection) {
    // Bound to the file it reads, so a start-up that gets this far writes it back unchanged.
    CXmlDocFile version(versionFile);
    if (!version.Load(versionFile)) return kMsgFileError;
    if (!ReadVersionFile(version, state)) return kMsgXmlError;

    if (UpdateConnection::ConnectAndCheck(state.serverUrl, state.CheckPath(), connection) != 1)
        return kMsgConnectFailed;

    std::string description;
    if (!connection || connection->GetText(state.serverUrl, state.DescriptionPath(), description) != 1)
        return kMsgVersionInfoFailed;
    if (!ParseUpdateDescription(description, state)) return kMsgVersionInfoFailed;
    return {};
}

bool RepeatCheck(UpdateConnection* connection, const UpdateState& state) {
    std::string body;
    return connection != nullptr && connection->GetText(state.serverUrl, state.CheckPath(), body) == 1 &&
           UpdateConnection::PassesCheck(body);
}
