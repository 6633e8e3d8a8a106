#pragma once

#include <string>
#include <string_view>

// Text made safe to stand in HTML pages and in XML documents, in content and in quoted
// attributes alike.
class Markup {
public:
    // `text` with "&", "<", ">", '"' and "'" written as character references. XML readers
    // (the updater's among them) read "&#39;" back as "'", so one set serves both languages.
    static std::string Escape(std::string_view text);

    // The text Escape() wrote, read back (the five references it writes; others stay as they are).
    static std::string Unescape(std::string_view text);
};
