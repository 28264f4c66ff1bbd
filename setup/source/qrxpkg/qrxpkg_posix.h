// Between the two files of qrxpkg's Linux back end.
#pragma once

// The engine's log lines go to standard error from now on (else nowhere).
void QrxPkgPosixSetVerbose(bool a_bVerbose);
