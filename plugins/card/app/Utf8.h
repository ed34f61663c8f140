#pragma once
// Card texts for the page: the WebSocket text frame must be valid UTF-8, while a
// card may store its values in Latin-1.
#include <string>

bool isValidUtf8(const std::string& text);
// Valid UTF-8 unchanged; anything else read as Latin-1 and converted.
std::string asUtf8(const std::string& text);
