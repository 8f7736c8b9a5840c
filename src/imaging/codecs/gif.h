// The GIF reader's one-pass form, for taking a whole animation apart.
#pragma once

#include <functional>
#include <string>

#include "imaging/image.h"

// Reads the GIF file at path and composes its frames in order in one pass,
// handing each to each exactly as a load with SetFrame(i) gives frame i,
// until each returns false. frame receives the frames and, on false, the
// reason. False when the file cannot be read or a damaged frame ends the
// pass early (the frames before it have been handed over).
bool LoadGifFrames(const std::string& path, CImage& frame,
                   const std::function<bool(CImage& frame)>& each);
