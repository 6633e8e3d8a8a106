#pragma once

#include <string>
#include <string_view>

// The frame every page of the service shares: head, navigation, a body of the caller's.
class HtmlPage {
public:
    // `text` with the five characters that matter in HTML content and attributes escaped.
    static std::string Escape(std::string_view text);

    // A whole page. `body` is HTML already; `userName` (empty when nobody is logged in) is shown
    // in the navigation bar. `head` goes into <head> as it stands.
    static std::string Render(std::string_view title, std::string_view body,
                              std::string_view userName = {}, std::string_view head = {});

    // A date and time in UTC as "2026-12-07 08:45".
    static std::string Time(long long seconds);
};
