// Extensions of paths and the format codes they stand for.
#pragma once

#include <string>

// Format code (see ImageFormat in image.h) of a path's extension: the text
// after the last dot of the last path component, compared case-insensitively
// for ASCII letters. 0 for an unknown or missing extension.
int FormatFromExtension(const std::string& path);

// The extension of the last component of path: from its last dot to the end,
// dot included; "" when the last component has no dot.
std::string FindExtension(const std::string& path);
