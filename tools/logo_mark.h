// The logo's mark: four rising bars, the last one amber, over an amber rule.
// The about box's logo (make_logo.cpp) and the desktop icons (make_icon.cpp)
// both draw it from these numbers, so the two always match.
#pragma once

#include <array>

namespace qvxlogo {

struct Rgb {
    unsigned char r, g, b;
};

constexpr Rgb Navy{20, 50, 110};
constexpr Rgb Amber{235, 150, 20};
constexpr Rgb White{255, 255, 255};

// In logo pixels: bar i spans x = BarLeft + i * BarPitch .. + BarWidth, and
// from y = BarBottom - BarHeights[i] down to BarBottom.
constexpr int BarLeft = 8;
constexpr int BarPitch = 9;
constexpr int BarWidth = 6;
constexpr int BarBottom = 37;
constexpr std::array<int, 4> BarHeights{12, 19, 26, 33};

// The mark's box: from the first bar's left edge to the last bar's right
// edge, from the tallest bar's top to the bars' foot (a square).
constexpr int MarkLeft = BarLeft;
constexpr int MarkTop = BarBottom - BarHeights[3];
constexpr int MarkSize = BarPitch * 3 + BarWidth;

constexpr Rgb barColour(int i)
{
    return i == 3 ? Amber : Navy;
}

} // namespace qvxlogo
