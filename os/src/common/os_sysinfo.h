// What the library must know of the running system before the
// configuration's system information exists.
#pragma once

// Windows Vista or later (version 6 and above).
bool OsSysIsVistaOrLater();
// A 32-bit process on 64-bit Windows, whose file system is redirected.
bool OsSysIsWow64();
// Windows XP or later (version 5.1 and above).
bool OsSysIsXpOrLater();
// The full path of a library in the system directory, so that a system
// library is never taken from the program's own folder.
bool OsSysLibraryPath(const wchar_t* a_wszName, wchar_t* a_wszPath, unsigned a_uSize);
