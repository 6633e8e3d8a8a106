#pragma once

#include <string>
#include <string_view>
#include <vector>

// What the service accepts as names, passwords and free text. Everything a user typed passes
// through here before it is stored or shown.
class TextRules {
public:
    // 2 to 32 bytes of letters, digits, "_", "-", "." or non-ASCII characters (Chinese names),
    // valid UTF-8. Nothing that would have to be escaped in a form body or a URL, and no
    // character that is invisible or not a character people agree on: no control, format
    // (zero-width, direction marks), private-use, unassigned or space characters.
    static bool IsValidUserName(std::string_view name);

    // What a name looks like, as ICU's spoof checker reduces it (UTS #39 skeleton): names with
    // the same skeleton are confusable ("dеmo" with a Cyrillic "е", full-width "ｄｅｍｏ").
    // A name ICU cannot read (not UTF-8; no name IsValidUserName accepts) stands for itself.
    static std::string NameSkeleton(std::string_view name);
    // The skeletons of many names, with one spoof checker.
    static std::vector<std::string> NameSkeletons(const std::vector<std::string>& names);

    // True when `name` looks like one of `names` (same skeleton), itself included.
    static bool LooksLikeAny(std::string_view name, const std::vector<std::string>& names);

    // 6 to 128 bytes without control characters.
    static bool IsValidPassword(std::string_view password);

    // `text` as valid UTF-8 without control characters, C1 controls included (line breaks kept
    // when `multiLine`), and without the bidirectional controls that would turn the text around
    // it on a page; invalid sequences replaced by U+FFFD, cut at a character boundary to at most
    // `maxBytes`.
    static std::string Clean(std::string_view text, size_t maxBytes, bool multiLine = false);

    // True when every byte sequence of `text` is well-formed UTF-8.
    static bool IsUtf8(std::string_view text);

    // Decimal digits only, 1 to 18 of them: a live id as it may appear in a URL.
    static bool IsId(std::string_view text);
};
