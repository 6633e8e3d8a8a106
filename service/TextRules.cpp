#include "TextRules.h"

namespace {

// Length of the well-formed UTF-8 sequence at the start of `s`, 0 when it is not one.
size_t SequenceLength(std::string_view s)
{
    const auto b0 = static_cast<unsigned char>(s[0]);
    if (b0 < 0x80) return 1;
    size_t length = 0;
    unsigned min = 0;
    unsigned code = 0;
    if ((b0 & 0xE0) == 0xC0) { length = 2; code = b0 & 0x1F; min = 0x80; }
    else if ((b0 & 0xF0) == 0xE0) { length = 3; code = b0 & 0x0F; min = 0x800; }
    else if ((b0 & 0xF8) == 0xF0) { length = 4; code = b0 & 0x07; min = 0x10000; }
    else return 0;
    if (s.size() < length) return 0;
    for (size_t i = 1; i < length; ++i) {
        const auto b = static_cast<unsigned char>(s[i]);
        if ((b & 0xC0) != 0x80) return 0;
        code = (code << 6) | (b & 0x3F);
    }
    if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    return length;
}

}  // namespace

bool TextRules::IsUtf8(std::string_view text)
{
    while (!text.empty()) {
        const size_t n = SequenceLength(text);
        if (n == 0) return false;
        text.remove_prefix(n);
    }
    return true;
}

bool TextRules::IsValidUserName(std::string_view name)
{
    if (name.size() < 2 || name.size() > 32 || !IsUtf8(name)) return false;
    for (char ch : name) {
        const auto c = static_cast<unsigned char>(ch);
        const bool ok = c >= 0x80 || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') ||
                        (c >= 'A' && c <= 'Z') || c == '_' || c == '-' || c == '.';
        if (!ok) return false;
    }
    return true;
}

bool TextRules::IsValidPassword(std::string_view password)
{
    if (password.size() < 6 || password.size() > 128) return false;
    for (char ch : password) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7f) return false;
    }
    return true;
}

std::string TextRules::Clean(std::string_view text, size_t maxBytes, bool multiLine)
{
    static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
    std::string out;
    while (!text.empty()) {
        size_t n = SequenceLength(text);
        std::string_view piece;
        if (n == 0) {
            piece = kReplacement;
            n = 1;
        } else {
            piece = text.substr(0, n);
            const auto c = static_cast<unsigned char>(piece[0]);
            const bool control = n == 1 && (c < 0x20 || c == 0x7f);
            if (control && !(multiLine && (c == '\n' || c == '\t'))) piece = {};
        }
        if (out.size() + piece.size() > maxBytes) break;
        out += piece;
        text.remove_prefix(n);
    }
    return out;
}

bool TextRules::IsId(std::string_view text)
{
    if (text.empty() || text.size() > 18) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}
