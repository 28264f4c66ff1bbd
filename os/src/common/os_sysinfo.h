// What the library must know of the running system before the
// configuration's system information exists.
#pragma once

// Windows Vista or later (version 6 and above).
bool OsSysIsVistaOrLater();
// A 32-bit process on 64-bit Windows, whose file system is redirected.
bool OsSysIsWow64();
