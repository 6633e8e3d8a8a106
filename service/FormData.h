#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The fields of an application/x-www-form-urlencoded body (or query string). The broadcaster
// builds its bodies by concatenation, so the parser accepts whatever arrives: fields without "=",
// empty names, stray "%" signs and raw UTF-8 are all kept as they stand instead of being refused.
class FormData {
public:
    static FormData Parse(std::string_view text);

    // The query string of a request target ("/path?a=1&b=2"), parsed as a body is; empty when
    // the target has no "?".
    static FormData ParseQuery(std::string_view target);

    // "%41" and "+" decoded; an incomplete or non-hex escape stays literal.
    static std::string Decode(std::string_view text);

    // The value of the first field named `key`, decoded; nullopt when there is none.
    std::optional<std::string> Get(std::string_view key) const;

    // Get() with spaces and tabs cut from both ends (the stream request puts a space before
    // "&title=").
    std::optional<std::string> GetTrimmed(std::string_view key) const;

    size_t Size() const { return fields_.size(); }

private:
    std::vector<std::pair<std::string, std::string>> fields_;
};
