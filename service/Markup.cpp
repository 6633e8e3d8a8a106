#include "Markup.h"

#include <utility>

std::string Markup::Escape(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out.push_back(c);
        }
    }
    return out;
}

std::string Markup::Unescape(std::string_view text)
{
    static constexpr std::pair<std::string_view, char> kReferences[] = {
        {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&#39;", '\''}};
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        bool replaced = false;
        for (const auto& [reference, c] : kReferences) {
            if (text.substr(i, reference.size()) == reference) {
                out.push_back(c);
                i += reference.size();
                replaced = true;
                break;
            }
        }
        if (!replaced) out.push_back(text[i++]);
    }
    return out;
}
