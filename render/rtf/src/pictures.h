#pragma once
// Pictures of \pict groups and of encapsulated HTML: decoding with a pixel
// limit, the bitmap a WMF/EMF metafile embeds, placeholder boxes.

#include <QImage>
#include <QString>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace rtf::detail {

enum class PictureFormat { Unknown, Png, Jpeg, Emf, Wmf, Dib, Ddb };

// Pixels one document may still spend on pictures (kMaxTotalPicturePixels).
struct PixelBudget {
    std::int64_t left;
};

// Decodes PNG, JPEG, BMP (and whatever else Qt reads from its content) of at
// most kMaxPicturePixels pixels and what `budget` has left, and charges the
// budget. A null image and a reason in `why` on failure.
QImage decodeImage(std::span<const std::uint8_t> data, std::string* why, PixelBudget& budget);

// The largest device-independent bitmap a WMF or EMF metafile draws, as the
// bytes of a BMP file; empty when it draws none. Reads every record with
// bounds checks; a malformed metafile simply yields nothing.
std::vector<std::uint8_t> metafileBitmap(PictureFormat format, std::span<const std::uint8_t> data);

// A packed DIB (BITMAPINFO + bits, as \dibitmap holds) as a BMP file; empty
// when the header is malformed.
std::vector<std::uint8_t> dibToBmp(std::span<const std::uint8_t> dib);

// A neat grey box of the given size (pixels) with `label` centred in it,
// charged to `budget`; drawn smaller (and shown scaled) when the budget is
// short.
QImage placeholderImage(int width, int height, const QString& label, PixelBudget& budget);
// The size of a placeholder box that shows `label` whole (wrapped at maxWidth).
QSize placeholderLabelSize(const QString& label, int maxWidth);

}  // namespace rtf::detail
