#include "FormData.h"

namespace {

int HexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

}  // namespace

std::string FormData::Decode(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '+') {
            out.push_back(' ');
        } else if (c == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
                   HexValue(text[i + 2]) >= 0) {
            out.push_back(static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2])));
            i += 2;
        } else {
            out.push_back(c);
        }
    }
    return out;
}

FormData FormData::Parse(std::string_view text)
{
    FormData form;
    while (!text.empty()) {
        const size_t amp = text.find('&');
        const std::string_view field = text.substr(0, amp);
        text = amp == std::string_view::npos ? std::string_view{} : text.substr(amp + 1);
        if (field.empty()) continue;
        const size_t eq = field.find('=');
        if (eq == std::string_view::npos) {
            form.fields_.emplace_back(Decode(field), std::string{});
        } else {
            form.fields_.emplace_back(Decode(field.substr(0, eq)), Decode(field.substr(eq + 1)));
        }
    }
    return form;
}

std::optional<std::string> FormData::Get(std::string_view key) const
{
    for (const auto& [name, value] : fields_) {
        if (name == key) return value;
    }
    return std::nullopt;
}

std::optional<std::string> FormData::GetTrimmed(std::string_view key) const
{
    auto value = Get(key);
    if (value) *value = std::string(Trim(*value));
    return value;
}

FormData FormData::ParseQuery(std::string_view target)
{
    const size_t mark = target.find('?');
    return Parse(mark == std::string_view::npos ? std::string_view{} : target.substr(mark + 1));
}
