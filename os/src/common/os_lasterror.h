// The thread's last system error, for code that must not include the
// system headers (the bounded strings, the format engines).
#pragma once

// Sets the calling thread's last system error to 0.
void OsClearLastError();
