#include "IntParse.h"

std::optional<int32_t> ParseInt32(std::string_view) { return std::nullopt; }
