#pragma once

#include <algorithm>
#include <cmath>

namespace doredaviro::win32 {

// Twips as the window's pixels at its DPI, and back: 1440 twips to the inch.
inline int ToPixels(float twips, unsigned dpi) {
    const double pixels = std::round(static_cast<double>(twips) * dpi / 1440.0);
    return static_cast<int>(std::clamp(pixels, -1e6, 1e6));
}

inline float ToTwips(int pixels, unsigned dpi) { return static_cast<float>(pixels * 1440.0 / dpi); }

}  // namespace doredaviro::win32
