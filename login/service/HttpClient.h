#pragma once

#include <memory>
#include <string>

#include "CHttpRequest.h"
#include "HttpHandle.h"
#include "LoginOutcome.h"

// The service's form POSTs, synchronous on the calling thread. Diagnostic lines ("Error:...")
// go to standard output; callers tell the user in their own words.

// The header line every form POST carries.
inline constexpr const char* kFormContentType = "Content-Type: application/x-www-form-urlencoded\r\n";

// The request target of every POST: the text from the last "/" of the whole URL to its end,
// query included; a URL without "/" is used whole.
std::string ObjectNameOf(const std::string& url);

// Sends `body` (already UTF-8 bytes) as `verb` to `objectName` on `connection`, over TLS when
// `scheme` is 2, with the caller's header line, "Cache-Control: no-cache" and "User-Agent:test".
// Null when the connection is not an open HTTP connection or no response was received.
std::unique_ptr<CHttpRequest> OpenPostRequest(HttpHandle* connection, const std::string& verb,
                                              const std::string& objectName, int scheme,
                                              const std::string& headerLine, const std::string& body);

// Posts the login on a new session. Accepted when the first byte of the whole reply is "1" or
// 0x01. Once a reply was received, the outcome hands over the session and the connection
// whatever the verdict; when none was received both are null.
LoginOutcome PostLogin(const std::string& url, const std::string& body);

// Posts on a session of its own, closed afterwards, and appends the reply text to `reply`.
// True once a response was received, whatever its HTTP status.
bool PostForText(std::string& reply, const std::string& url, const std::string& body);

// Posts on a kept connection (the login's): the request goes to the connection's host and port,
// `url` supplies only the object name and the scheme. Appends the reply text to `reply`. False
// when `connection` is null or no response was received.
bool PostOnConnection(std::string& reply, HttpHandle* connection, const std::string& url, const std::string& body);

// A reply as text: the bytes are UTF-8, decoded as one whole so that no character is cut; the
// text ends at the first 0 byte, as a C string would.
std::string ReplyText(const std::string& bytes);
