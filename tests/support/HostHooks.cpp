// The host's integer hook, as a media server defines it: a plain decimal conversion.
#include <cstdlib>

#include "mysearchcriteria.h"

extern "C" long long myatoll(const char *text) { return strtoll(text, nullptr, 10); }
