#pragma once
// How a production names its pages: a Bates number is the prefix and the
// page's number zero-padded to a width kept throughout ("ABC" 8 ->
// "ABC00000123"), and its files go in folders of at most kImagesPerFolder,
// numbered from "0001" by the page's place in the production:
// IMAGES/0001/ABC00000001.tif, TEXT/0001/ABC00000001.txt,
// NATIVES/0001/ABC00000001.pdf. The converter stamps the numbers and the
// batch converter names the files; both use this.

#include <cstdint>
#include <string>
#include <string_view>

namespace common {

inline constexpr int kDefaultBatesDigits = 8;
inline constexpr int kMaxBatesDigits = 15;
inline constexpr std::uint64_t kImagesPerFolder = 1000;

struct Bates {
    std::string prefix;
    std::uint64_t start = 1;
    int digits = kDefaultBatesDigits;

    // "ABC00000123"; a number wider than `digits` keeps all its digits.
    std::string number(std::uint64_t value) const {
        std::string digitsText = std::to_string(value);
        if (digitsText.size() < static_cast<std::size_t>(digits)) {
            digitsText.insert(0, static_cast<std::size_t>(digits) - digitsText.size(), '0');
        }
        return prefix + digitsText;
    }

    // "0001" for the first kImagesPerFolder numbers, "0002" for the next...
    std::string folder(std::uint64_t value) const {
        const std::uint64_t index = (value >= start ? value - start : 0) / kImagesPerFolder + 1;
        std::string text = std::to_string(index);
        if (text.size() < 4) {
            text.insert(0, 4 - text.size(), '0');
        }
        return text;
    }

    // "IMAGES/0001/ABC00000001.tif" for `area` "IMAGES" and `extension` ".tif".
    std::string path(std::string_view area, std::uint64_t value, std::string_view extension) const {
        std::string out(area);
        out += '/';
        out += folder(value);
        out += '/';
        out += number(value);
        out += extension;
        return out;
    }
};

// The largest number of `digits` digits, so that a production refuses to
// start when its numbers would outgrow the width.
inline std::uint64_t largestBates(int digits) {
    std::uint64_t value = 0;
    for (int i = 0; i < digits; ++i) {
        value = value * 10 + 9;
    }
    return value;
}

}  // namespace common
