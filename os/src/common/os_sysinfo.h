// What the library's modules ask of the running system: the answers of the
// configuration's detection pass, which runs on first use (before any
// configuration exists too) and once per start-up.
#pragma once

#include "os_win.h"

// The operating-system code (the EOSCFGOS values: above 7 is XP or later,
// above 9 Vista or later); 0 when the pass found nothing.
int OsSysOsCode();
// Machine bits (32 or 64) and process bits (32 or 64); 0 without a
// processor table.
int OsSysMachineBits();
int OsSysProcessBits();
// The full path of a library in the system directory, so that a system
// library is never taken from the program's own folder.
bool OsSysLibraryPath(const wchar_t* a_wszName, wchar_t* a_wszPath, unsigned a_uSize);
// Loads a_wszName from the system directory, by its full path. a_wszPath
// receives that path for the caller's message (the bare name when the
// directory cannot be had). Null on failure, the last error as the system
// left it.
HMODULE OsSysLoadLibrary(const wchar_t* a_wszName, wchar_t (&a_wszPath)[MAX_PATH]);
// Looks up a_szName in a_hmodule as the function-pointer type T; false
// (and *a_ppfn null) when the module is null or lacks the entry point.
template <typename T>
bool OsSysResolve(HMODULE a_hmodule, const char* a_szName, T* a_ppfn) {
  *a_ppfn = a_hmodule != nullptr ? reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(a_hmodule, a_szName)))
                                 : nullptr;
  return *a_ppfn != nullptr;
}
// The module that holds the library's code: the program itself, or the
// library it is linked into; null when the system cannot tell.
HMODULE OsSysLibraryModule();

// The one rule for a link (a symbolic link or junction: a reparse point that
// stands for another place, not a de-duplicated or cloud file) of an entry
// opened on itself with FILE_FLAG_OPEN_REPARSE_POINT. Windows keeps the bit
// on the handle; Wine shows a link only in the attributes by path, so the
// path is asked too (after the open, the caller's handle keeps it in place).
bool OsSysIsLink(HANDLE a_hEntry, DWORD a_dwHandleAttributes, const wchar_t* a_wszPath);

// The file-version calls of version.dll, looked up once in the system
// directory's copy: the library is no KnownDLL, so a static import would be
// taken from the program's folder, where anyone may have put one. Null
// entries when it cannot be had.
struct OsSysVersionApi {
  DWORD(WINAPI* m_pfnGetFileVersionInfoSizeW)(LPCWSTR, LPDWORD);
  BOOL(WINAPI* m_pfnGetFileVersionInfoW)(LPCWSTR, DWORD, DWORD, LPVOID);
  BOOL(WINAPI* m_pfnVerQueryValueW)(LPCVOID, LPCWSTR, LPVOID*, PUINT);
};
const OsSysVersionApi& OsSysVersion();
