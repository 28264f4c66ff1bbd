// The command line of a spawned program, quoted for the child's parser.
#pragma once

#include <cstddef>

// Appends a_wszArgument and a space to the command line in a_wszLine (a_sizetLine
// wide characters, terminated). Unless a_bRaw, the argument is put in double
// quotes and escaped by the rules of CommandLineToArgvW and the C run-time's
// parser: a quote inside becomes \" and the backslashes before a quote, or at
// the end, are doubled, so that the child receives exactly a_wszArgument
// (also an empty one, or C:\dir\). At most a_sizetMax characters of the
// argument are taken. False, and the line unchanged, when it does not fit.
bool OsSpawnAppendArgument(wchar_t* a_wszLine, std::size_t a_sizetLine, const wchar_t* a_wszArgument,
                           std::size_t a_sizetMax, bool a_bRaw);
