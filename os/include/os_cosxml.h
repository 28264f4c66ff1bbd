// XML helpers that work on raw text without a parse.
#pragma once

#include <cstddef>

#include "os_sts.h"

// Copies into a_szOut the text between the first a_szOpening in a_szDocument
// and the first a_szClosing after it (complete tags such as "<uniquename>"
// and "</uniquename>"); a value wrapped in <![CDATA[ ... ]]> is unwrapped.
// a_szOut is always terminated and is empty unless the status is 0:
// 1 when either tag is missing or the value is empty, 2 when the value and
// its terminator do not fit in a_sizetOut bytes (the value counts as absent),
// 3 for a null argument or a zero size.
EOSSTS OsXmlGetTagValue(const char* a_szDocument, const char* a_szOpening, const char* a_szClosing, char* a_szOut,
                        std::size_t a_sizetOut);
