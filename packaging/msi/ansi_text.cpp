// The package's text in the system's ANSI code page.
#include "ansi_text.h"

#include <wchar.h>

// As long as the longest text the package converts (its CustomActionData).
enum { BackSize = 32 * 1024 };

// Where the system's code page is UTF-8 ("Use Unicode UTF-8 for worldwide
// language support"), every character has a place, and the flags other code
// pages take are refused. Elsewhere a character without a place, or with a
// best fit only, is refused, and the text must come back unchanged.
// Evidence: MS docs WideCharToMultiByte (for CP_UTF8, dwFlags 0 or
// WC_ERR_INVALID_CHARS, else ERROR_INVALID_FLAGS; lpDefaultChar and
// lpUsedDefaultChar NULL, else ERROR_INVALID_PARAMETER) and GetACP.
bool ToAnsi(const wchar_t* text, char* out, int size)
{
    if (GetACP() == CP_UTF8)
        return WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text, -1, out, size, NULL, NULL) > 0;
    BOOL lossy = FALSE;
    int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text, -1, out, size, NULL, &lossy);
    if (n <= 0 || lossy)
        return false;
    // And back: a code page without a default character flags nothing.
    static wchar_t back[BackSize];
    return MultiByteToWideChar(CP_ACP, 0, out, -1, back, BackSize) > 0 && wcscmp(back, text) == 0;
}
