#pragma once
// A picture file as pages (ORV_FORMAT_PICTURE), read with Qt's image
// readers: JPEG, PNG, GIF, BMP, TIFF and WebP, recognised from the content.
// Every frame of a TIFF is a page; of other formats (an animated GIF or
// WebP) the first frame only. The orientation a file records (EXIF) is
// applied. A frame is shown at its own size (its pixels at the resolution it
// records, 96 dpi when none or an implausible one), scaled down to fit its
// room. Before a frame is decoded, the size its header claims is checked
// against kMaxPicturePixels, and it is decoded at the size it is shown at
// where the format allows (JPEG), within kMaxPictureAllocationMiB.

#include "fixed_pages.h"

#include <QByteArray>

#include <string>
#include <vector>

namespace render::engine {

// Reads `bytes`: every frame's header, and each frame decoded once for its
// size at 96 dpi (kept for pages drawn at 96 dpi, up to
// kMaxKeptPictureBytes). A frame that cannot be shown gives a warning and
// its page says why; when none can, or the bytes are no picture, the result
// is a refusal.
ContentPages readPicture(const QByteArray& bytes, const RoomFor& roomFor,
                         std::vector<std::string>& warnings);

}  // namespace render::engine
