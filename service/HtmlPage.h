#pragma once

#include <string>
#include <string_view>

// The frame every page of the service shares: head, navigation, a body of the caller's.
class HtmlPage {
public:
    // A whole page. `body` is HTML already; `userName` (empty when nobody is logged in) is shown
    // in the navigation bar. `head` goes into <head> as it stands.
    static std::string Render(std::string_view title, std::string_view body,
                              std::string_view userName = {}, std::string_view head = {});

    // A date and time in UTC as "2026-12-07 08:45".
    static std::string Time(long long seconds);

    // A room's title as lists and room pages show it (not yet escaped): rooms the broadcaster
    // gave no title get a placeholder.
    static std::string RoomTitle(const std::string& title);
};
