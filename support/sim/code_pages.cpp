// Simulated platform: the system's ANSI code page (1252 or 65001) and the
// conversions between it and wide text, with Windows' rules for their flags.
#include "sim_state.h"

using namespace simstate;

// Code page 1252's bytes 0x80-0x9F; 0 where it has no character.
static const wchar_t Windows1252High[32] = {
    0x20AC, 0, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0, 0x017D, 0,
    0, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0, 0x017E, 0x0178};

static UINT ProcessCodePage()
{
    return S().script.processCodePage ? S().script.processCodePage : S().script.ansiCodePage;
}

static UINT Resolve(UINT codePage) { return codePage == CP_ACP ? ProcessCodePage() : codePage; }

// Evidence: MS docs "Use UTF-8 code pages in Windows apps" (with the
// activeCodePage manifest, GetACP returns 65001 and the A functions take and
// give UTF-8).
UINT WINAPI GetACP() { return ProcessCodePage(); }

namespace simstate {

// The directory's text, scripted in the system's code page, as the A call of
// a program whose own code page differs gives it: through UTF-16.
std::string InProcessCodePage(const std::string& systemText)
{
    UINT system = S().script.ansiCodePage, process = ProcessCodePage();
    if (process == system)
        return systemText;
    std::wstring wide(systemText.size() + 1, L'\0');
    int n = MultiByteToWideChar(system, 0, systemText.c_str(), (int)systemText.size(), &wide[0], (int)wide.size());
    std::string out(4 * (size_t)n + 1, '\0');
    int m = WideCharToMultiByte(process, 0, wide.c_str(), n, &out[0], (int)out.size(), NULL, NULL);
    return out.substr(0, (size_t)m);
}

std::wstring Wide(const std::string& systemText)
{
    std::wstring wide(systemText.size() + 1, L'\0');
    int n = MultiByteToWideChar(S().script.ansiCodePage, 0, systemText.c_str(), (int)systemText.size(), &wide[0],
                                (int)wide.size());
    return wide.substr(0, (size_t)n);
}

}  // namespace simstate

// Evidence: MS docs WideCharToMultiByte ("For the CP_UTF7 and CP_UTF8
// settings for CodePage, this parameter [dwFlags] must be set to 0 or
// WC_ERR_INVALID_CHARS. Otherwise, the function fails with
// ERROR_INVALID_FLAGS"; lpDefaultChar and lpUsedDefaultChar "must be set to
// NULL. Otherwise, the function fails with ERROR_INVALID_PARAMETER"); the
// best-fit of code page 1252 is not modelled: WC_NO_BEST_FIT_CHARS is
// assumed, so a character it lacks is the default character.
int WINAPI WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR text, int length, LPSTR out, int size,
                               LPCSTR defaultChar, LPBOOL usedDefault)
{
    UINT page = Resolve(codePage);
    if (!text || (page != 1252 && page != CP_UTF8))
        return (Fail(ERROR_INVALID_PARAMETER), 0);
    if (page == CP_UTF8 && (flags & ~(DWORD)WC_ERR_INVALID_CHARS))
        return (Fail(ERROR_INVALID_FLAGS), 0);
    if (page == CP_UTF8 && (defaultChar || usedDefault))
        return (Fail(ERROR_INVALID_PARAMETER), 0);
    size_t n = length < 0 ? wcslen(text) + 1 : (size_t)length;
    std::string bytes;
    bool used = false;
    for (size_t i = 0; i < n; i++) {
        uint32_t c = (uint32_t)text[i];
        if (page == CP_UTF8) {
            if (c < 0x80) {
                bytes += (char)c;
            } else if (c < 0x800) {
                bytes += (char)(0xC0 | c >> 6), bytes += (char)(0x80 | (c & 0x3F));
            } else if (c < 0x10000) {
                bytes += (char)(0xE0 | c >> 12), bytes += (char)(0x80 | (c >> 6 & 0x3F));
                bytes += (char)(0x80 | (c & 0x3F));
            } else {
                bytes += (char)(0xF0 | c >> 18), bytes += (char)(0x80 | (c >> 12 & 0x3F));
                bytes += (char)(0x80 | (c >> 6 & 0x3F)), bytes += (char)(0x80 | (c & 0x3F));
            }
            continue;
        }
        int byte = c < 0x80 || (c >= 0xA0 && c <= 0xFF) ? (int)c : -1;
        for (int k = 0; k < 32 && byte < 0; k++)
            if (Windows1252High[k] && Windows1252High[k] == (wchar_t)c)
                byte = 0x80 + k;
        if (byte < 0)
            used = true, byte = defaultChar ? (unsigned char)*defaultChar : '?';
        bytes += (char)byte;
    }
    if (usedDefault)
        *usedDefault = used;
    if (size == 0)
        return (int)bytes.size();
    if ((int)bytes.size() > size)
        return (Fail(ERROR_INSUFFICIENT_BUFFER), 0);
    memcpy(out, bytes.data(), bytes.size());
    return (int)bytes.size();
}

int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int length, LPWSTR out, int size)
{
    UINT page = Resolve(codePage);
    if (!text || (page != 1252 && page != CP_UTF8))
        return (Fail(ERROR_INVALID_PARAMETER), 0);
    (void)flags;
    size_t n = length < 0 ? strlen(text) + 1 : (size_t)length;
    std::wstring wide;
    for (size_t i = 0; i < n; i++) {
        unsigned char b = (unsigned char)text[i];
        if (page == 1252) {
            wide += b >= 0x80 && b < 0xA0 ? (Windows1252High[b - 0x80] ? Windows1252High[b - 0x80] : (wchar_t)b)
                                          : (wchar_t)b;
            continue;
        }
        int extra = b < 0x80 ? 0 : b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : -1;
        uint32_t c = extra == 0 ? b : extra == 1 ? b & 0x1F : extra == 2 ? b & 0x0F : b & 0x07;
        bool bad = extra < 0 || i + extra >= n + (extra ? 0 : 1);
        for (int k = 1; !bad && k <= extra; k++) {
            unsigned char t = (unsigned char)text[i + k];
            bad = (t & 0xC0) != 0x80;
            c = c << 6 | (t & 0x3F);
        }
        wide += bad ? (wchar_t)0xFFFD : (wchar_t)c;
        i += bad ? 0 : extra;
    }
    if (size == 0)
        return (int)wide.size();
    if ((int)wide.size() > size)
        return (Fail(ERROR_INSUFFICIENT_BUFFER), 0);
    memcpy(out, wide.data(), wide.size() * sizeof(wchar_t));
    return (int)wide.size();
}
