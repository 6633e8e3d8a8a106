#pragma once

#include <string>

// A broadcast goes only to an RTMP server: "rtmp://" or "rtmps://", the scheme in any case. The
// address comes from the service, and FFmpeg would take a local path or any of its other
// protocols just as readily.
bool IsPublishAddress(const std::string& url);

// The output protocols an address may use: a publish address those of RTMP (and its TLS form),
// anything else (a local recording) only plain files.
const char* OutputProtocolsFor(const std::string& url);
