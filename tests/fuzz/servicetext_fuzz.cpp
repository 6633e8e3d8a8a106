// Arbitrary bytes as what the reference service takes from the network: form bodies, query
// strings, names, titles and update paths. Parsing must never crash, cleaned text must always be
// valid UTF-8 within its bound, and an accepted update path must never climb out of its folder.

#include <cstdint>
#include <string>

#include "FormData.h"
#include "TextRules.h"
#include "UpdateDescription.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const auto form = FormData::Parse(text);
    for (const char* key : {"username", "password", "gid", "title", "lid", ""}) {
        if (auto value = form.GetTrimmed(key)) {
            const std::string clean = TextRules::Clean(*value, 200);
            if (clean.size() > 200 || !TextRules::IsUtf8(clean)) __builtin_trap();
            if (TextRules::IsValidUserName(*value) && !TextRules::IsUtf8(*value)) __builtin_trap();
            if (TextRules::IsId(*value) && value->find_first_not_of("0123456789") != std::string::npos) __builtin_trap();
        }
    }
    const std::string multi = TextRules::Clean(text, 64, true);
    if (multi.size() > 64 || !TextRules::IsUtf8(multi)) __builtin_trap();
    const std::string decoded = FormData::Decode(text);
    if (decoded.size() > text.size()) __builtin_trap();
    if (UpdateDescription::IsSafeRelativePath(text)) {
        if (text[0] == '/' || text.find('\\') != std::string::npos) __builtin_trap();
        for (size_t start = 0; start <= text.size();) {
            const size_t end = text.find('/', start) == std::string::npos ? text.size() : text.find('/', start);
            const std::string part = text.substr(start, end - start);
            if (part.empty() || part == "." || part == "..") __builtin_trap();
            start = end + 1;
        }
    }
    return 0;
}
