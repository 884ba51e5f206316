#pragma once
// Text as JSON writes it.

#include <string>

// A JSON string of the bytes, read as text of the local 8-bit encoding.
std::string JsonString(const std::string& bytes);
