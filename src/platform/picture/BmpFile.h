#pragma once
// Writing a picture as a Windows BMP file.

#include <string>

#include "platform/picture/Dib.h"

// Writes `dib` to `fileName` as a BMP file (a Dib that refers to a frame must have its pixels
// computed first, Dib::ComputeFramePixels; one without pixels fails with "Invalid argument"):
// file header, info header (always
// bottom-up, with biSizeImage filled in), the masks or colour table where the format has them, then
// the rows padded to 4 bytes, bottom row first whatever the Dib's own row order. In 32-bit pictures
// the bits no colour uses (BI_RGB: the fourth byte) are written as 0.
//
// Written through AtomicReplace, so a picture of that name is replaced whole or not at all: an
// existing file this user could not open for writing is not replaced (Permission denied), a
// replaced one keeps its mode, and a name that is a symbolic link has its target replaced where
// the kernel would follow that link (another user's link in a shared sticky folder is refused
// with Permission denied). On any
// failure nothing is left behind and an existing file is untouched; raises EStillwickError
// "Cannot create file "<fileName>". <reason>" with the system's text for the failing call.
namespace platform {

// Raises the writer's error for `fileName`: "Cannot create file "<fileName>". <strerror(error)>".
[[noreturn]] void RaiseCannotCreate(const std::string& fileName, int error);

void WriteBmpFile(const std::string& fileName, const Dib& dib);

}  // namespace platform
