#pragma once

#include <array>
#include <cstdint>

#include "ui/window_description.h"

namespace zelwik::ui {

inline constexpr int kGlyphSize = 16;
// A tool button's picture: kGlyphSize rows of kGlyphSize pixels, 0xAARRGGBB, 0 where transparent.
using GlyphPixels = std::array<std::uint32_t, kGlyphSize * kGlyphSize>;

GlyphPixels GlyphImage(Glyph glyph);
// The picture shown while the button is disabled: dark parts mid grey, light parts pale grey.
GlyphPixels GreyGlyph(const GlyphPixels& normal);

}  // namespace zelwik::ui
