/* A Windows game in miniature, run under Wine by the end-to-end test: one ordinary top-level
 * window whose 400 x 300 client area shows four plain quarters (red, green, blue, white), so the
 * broadcast picture can be checked against it. It runs until its window is closed. */
#include <windows.h>

enum { kClientWidth = 400, kClientHeight = 300 };

static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT: {
        static const COLORREF kQuarters[4] = {RGB(255, 0, 0), RGB(0, 255, 0), RGB(0, 0, 255), RGB(255, 255, 255)};
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        RECT client;
        GetClientRect(window, &client);
        const LONG midX = client.right / 2;
        const LONG midY = client.bottom / 2;
        for (int i = 0; i < 4; ++i) {
            RECT quarter = {(i % 2) ? midX : 0, (i / 2) ? midY : 0, (i % 2) ? client.right : midX,
                            (i / 2) ? client.bottom : midY};
            HBRUSH brush = CreateSolidBrush(kQuarters[i]);
            FillRect(dc, &quarter, brush);
            DeleteObject(brush);
        }
        EndPaint(window, &paint);
        return 0;
    }
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
    (void)previous;
    (void)commandLine;
    (void)show;
    WNDCLASSW windowClass = {0};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursor(NULL, IDC_ARROW);
    windowClass.lpszClassName = L"StrimoTestGame";
    if (!RegisterClassW(&windowClass)) return 1;

    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    RECT frame = {0, 0, kClientWidth, kClientHeight};
    AdjustWindowRect(&frame, style, FALSE);
    HWND window = CreateWindowW(L"StrimoTestGame", L"TestGame", style, 20, 20, frame.right - frame.left,
                                frame.bottom - frame.top, NULL, NULL, instance, NULL);
    if (!window) return 1;
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);

    MSG message;
    while (GetMessageW(&message, NULL, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}
