#include "TextRules.h"

#include <unicode/uchar.h>
#include <unicode/unorm2.h>
#include <unicode/ustring.h>
#include <unicode/uspoof.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <memory>
#include <stdexcept>

namespace {

// The code point of a sequence SequenceLength() accepted.
UChar32 CodePoint(std::string_view piece)
{
    UChar32 c = 0;
    int32_t i = 0;
    U8_NEXT(reinterpret_cast<const uint8_t*>(piece.data()), i, static_cast<int32_t>(piece.size()), c);
    return c;
}

// Controls that change the direction of the text around them: the marks, embeddings,
// overrides and isolates.
bool IsBidiControl(UChar32 c)
{
    return c == 0x061C || c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

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

// ICU's spoof checker, opened once for a run of names. Names are brought to NFKC first: the
// skeleton alone keeps full-width "ｄｅｍｏ" apart from "demo".
class Skeletons {
public:
    Skeletons()
    {
        UErrorCode status = U_ZERO_ERROR;
        checker_.reset(uspoof_open(&status));
        Check(status, "spoof checker");
        nfkc_ = unorm2_getNFKCInstance(&status);
        Check(status, "NFKC");
    }

    std::string Of(std::string_view name) const
    {
        UErrorCode status = U_ZERO_ERROR;
        std::u16string text(name.size() + 1, u'\0');
        int32_t length = 0;
        u_strFromUTF8(text.data(), static_cast<int32_t>(text.size()), &length, name.data(),
                      static_cast<int32_t>(name.size()), &status);
        Check(status, "UTF-8");
        text.resize(static_cast<size_t>(length));
        std::u16string normal = Grown([&](char16_t* out, int32_t room, UErrorCode* error) {
            return unorm2_normalize(nfkc_, text.data(), static_cast<int32_t>(text.size()), out, room, error);
        });
        std::u16string skeleton = Grown([&](char16_t* out, int32_t room, UErrorCode* error) {
            return uspoof_getSkeleton(checker_.get(), 0, normal.data(), static_cast<int32_t>(normal.size()), out, room,
                                      error);
        });
        std::string utf8(skeleton.size() * 3 + 1, '\0');
        u_strToUTF8(utf8.data(), static_cast<int32_t>(utf8.size()), &length, skeleton.data(),
                    static_cast<int32_t>(skeleton.size()), &status);
        Check(status, "UTF-8");
        utf8.resize(static_cast<size_t>(length));
        return utf8;
    }

private:
    static void Check(UErrorCode status, const char* what)
    {
        if (U_FAILURE(status)) throw std::runtime_error(std::string("ICU ") + what + ": " + u_errorName(status));
    }

    // Calls `fill` with a buffer, and again with a larger one when ICU says it was too small.
    template <typename Fill>
    static std::u16string Grown(Fill fill)
    {
        std::u16string out(64, u'\0');
        for (int attempt = 0; attempt < 2; ++attempt) {
            UErrorCode status = U_ZERO_ERROR;
            const int32_t length = fill(out.data(), static_cast<int32_t>(out.size()), &status);
            if (status == U_BUFFER_OVERFLOW_ERROR) {
                out.resize(static_cast<size_t>(length) + 1);
                continue;
            }
            Check(status, "text");
            out.resize(static_cast<size_t>(length));
            return out;
        }
        throw std::runtime_error("ICU: no room");
    }

    struct Close {
        void operator()(USpoofChecker* checker) const { uspoof_close(checker); }
    };
    std::unique_ptr<USpoofChecker, Close> checker_;
    const UNormalizer2* nfkc_ = nullptr;
};

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
    while (!name.empty()) {
        const size_t n = SequenceLength(name);
        const auto c = static_cast<unsigned char>(name[0]);
        if (n == 1) {
            const bool ok = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' ||
                            c == '-' || c == '.';
            if (!ok) return false;
        } else {
            switch (u_charType(CodePoint(name.substr(0, n)))) {
            case U_CONTROL_CHAR:
            case U_FORMAT_CHAR:
            case U_PRIVATE_USE_CHAR:
            case U_SURROGATE:
            case U_UNASSIGNED:
            case U_SPACE_SEPARATOR:
            case U_LINE_SEPARATOR:
            case U_PARAGRAPH_SEPARATOR: return false;
            default: break;
            }
        }
        name.remove_prefix(n);
    }
    return true;
}

std::string TextRules::NameSkeleton(std::string_view name)
{
    return NameSkeletons({std::string(name)}).front();
}

std::vector<std::string> TextRules::NameSkeletons(const std::vector<std::string>& names)
{
    Skeletons skeletons;
    std::vector<std::string> out;
    out.reserve(names.size());
    for (const auto& name : names) {
        try {
            out.push_back(skeletons.Of(name));
        } catch (const std::runtime_error&) {
            out.push_back(name);
        }
    }
    return out;
}

bool TextRules::LooksLikeAny(std::string_view name, const std::vector<std::string>& names)
{
    Skeletons skeletons;
    const std::string skeleton = skeletons.Of(name);
    return std::any_of(names.begin(), names.end(), [&](const std::string& other) { return skeletons.Of(other) == skeleton; });
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
            if (n > 1) {
                const UChar32 point = CodePoint(piece);
                if ((point >= 0x80 && point <= 0x9F) || IsBidiControl(point)) piece = {};
            }
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
