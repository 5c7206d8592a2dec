// Text helpers for asset and file names.
#pragma once

#include <cstdint>

// The standard strstr.
const char* str_find(const char* haystack, const char* needle);
// Copies src through tolower, terminator included; returns dst.
char* str_lower_copy(char* dst, const char* src);
// Case-blind compare: the difference of the first differing lower-cased
// bytes, 0 when equal. Consistent with its own equality, so it sorts.
int str_icmp(const char* a, const char* b);
// The asset-name hash of the lower-cased name (no length limit).
uint32_t hash_name_nocase(const char* name);
