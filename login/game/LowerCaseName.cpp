#include "LowerCaseName.h"

#include <locale.h>
#include <memory>
#include <type_traits>
#include <wctype.h>

namespace {

struct LocaleFree {
    void operator()(std::remove_pointer_t<locale_t>* l) const { freelocale(l); }
};
using LocalePtr = std::unique_ptr<std::remove_pointer_t<locale_t>, LocaleFree>;

// Case mapping of the built-in UTF-8 locale, whatever locale the program runs in; null where
// the system has none, and then only ASCII letters change.
locale_t Utf8Ctype() {
    static const LocalePtr locale(newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr)));
    return locale.get();
}

// The code point at `at` and its length in bytes; length 0 for anything but a well-formed
// shortest-form sequence of a scalar value.
char32_t Decode(const std::string& s, std::size_t at, std::size_t* length) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char lead = byte(at);
    *length = 0;
    std::size_t n;
    char32_t cp;
    if (lead < 0x80) {
        *length = 1;
        return lead;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        n = 2, cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        n = 3, cp = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        n = 4, cp = lead & 0x07;
    } else {
        return 0;
    }
    if (at + n > s.size()) return 0;
    for (std::size_t i = 1; i < n; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) return 0;
        cp = cp << 6 | (byte(at + i) & 0x3F);
    }
    const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < least[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    *length = n;
    return cp;
}

void Encode(char32_t cp, std::string& out) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | cp >> 6);
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | cp >> 12);
        out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | cp >> 18);
        out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

char32_t Lower(char32_t cp) {
    if (cp >= 'A' && cp <= 'Z') return cp - 'A' + 'a';
    if (cp < 0x80) return cp;
    const locale_t utf8 = Utf8Ctype();
    if (utf8 == nullptr) return cp;
    const auto lower = static_cast<char32_t>(towlower_l(static_cast<wint_t>(cp), utf8));
    // Only ever another scalar value: the result is encoded back as UTF-8.
    return lower <= 0x10FFFF && !(lower >= 0xD800 && lower <= 0xDFFF) ? lower : cp;
}

}  // namespace

std::string LowerCaseName(const std::string& name) {
    std::string out;
    out.reserve(name.size());
    for (std::size_t at = 0; at < name.size();) {
        std::size_t length = 0;
        const char32_t cp = Decode(name, at, &length);
        if (length == 0) {
            out += name[at++];  // not UTF-8: the byte as it is
            continue;
        }
        Encode(Lower(cp), out);
        at += length;
    }
    return out;
}
