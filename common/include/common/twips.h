#pragma once
// Twips, 1/1440 inch: the unit of RTF lengths and of the window's layout
// table. A pixel at 96 dots per inch is 15 twips.

namespace common {

inline constexpr int kTwipsPerInch = 1440;
inline constexpr int kPixelsPerInch = 96;
inline constexpr int kTwipsPerPixel = kTwipsPerInch / kPixelsPerInch;

}  // namespace common
