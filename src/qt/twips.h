#pragma once

#include <QtGlobal>

namespace doredaviro::qt {

// Qt lays out in device-independent pixels of 1/96 inch: 15 twips each.
constexpr float kTwipsPerPixel = 15.0f;

inline int ToPixels(float twips) { return qRound(twips / kTwipsPerPixel); }
inline float ToTwips(int pixels) { return static_cast<float>(pixels) * kTwipsPerPixel; }

}  // namespace doredaviro::qt
