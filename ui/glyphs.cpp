#include "ui/glyphs.h"

#include <cstdio>
#include <cstring>

namespace zelwik::ui {
namespace {

// Sixteen-colour pictures drawn for this program, one character a pixel, one row a line.
// clang-format off
const char* const kFolder[] = {
    "16 16 4 1",
    ". c None",
    "Y c #C8A000",
    "k c #000000",
    "y c #FFE040",
    "................",
    "................",
    "................",
    ".kkkk...........",
    "kYYYYk..........",
    "kYYYYYkkkkkkk...",
    "kYYYYYYYYYYYYk..",
    "kYYYkkkkkkkkkkkk",
    "kYYkyyyyyyyyyyyk",
    "kYYkyyyyyyyyyyk.",
    "kYkyyyyyyyyyyyk.",
    "kYkyyyyyyyyyyk..",
    "kkyyyyyyyyyyyk..",
    "kkyyyyyyyyyyk...",
    "kkkkkkkkkkkkk...",
    "................",
};

const char* const kFloppy[] = {
    "16 16 6 1",
    ". c None",
    "b c #283070",
    "g c #707070",
    "k c #000000",
    "s c #C0C0C0",
    "w c #FFFFFF",
    "................",
    ".kkkkkkkkkkkkkk.",
    ".kbkwwwwwwwwkbk.",
    ".kbkwwwwwwwwkbk.",
    ".kbkwggggggwkbk.",
    ".kbkwwwwwwwwkbk.",
    ".kbkwggggggwkbk.",
    ".kbbkkkkkkkkbbk.",
    ".kbbbbbbbbbbbbk.",
    ".kbbssssssssbbk.",
    ".kbbsskkssssbbk.",
    ".kbbsskkssssbbk.",
    ".kbbsskkssssbbk.",
    ".kbbssssssssbbk.",
    "..kkkkkkkkkkkkk.",
    "................",
};

const char* const kChipZ[] = {
    "16 16 4 1",
    ". c None",
    "g c #707070",
    "k c #000000",
    "r c #E00000",
    ".........rrrrrrr",
    ".........rrrrrrr",
    ".............rr.",
    "............rr..",
    "...........rr...",
    "..........rr....",
    ".........rrrrrrr",
    ".........rrrrrrr",
    ".g.g.g.g.g.g....",
    ".g.g.g.g.g.g....",
    "kkkkkkkkkkkkk...",
    "kkkkkkkkkkkkk...",
    ".kkkkkkkkkkkk...",
    "kkkkkkkkkkkkk...",
    ".g.g.g.g.g.g....",
    ".g.g.g.g.g.g....",
};

const char* const kChipO[] = {
    "16 16 4 1",
    ". c None",
    "G c #00A000",
    "g c #707070",
    "k c #000000",
    "..........GGGGG.",
    ".........GGGGGGG",
    ".........GG...GG",
    ".........GG...GG",
    ".........GG...GG",
    ".........GG...GG",
    ".........GGGGGGG",
    "..........GGGGG.",
    ".g.g.g.g.g.g....",
    ".g.g.g.g.g.g....",
    "kkkkkkkkkkkkk...",
    "kkkkkkkkkkkkk...",
    ".kkkkkkkkkkkk...",
    "kkkkkkkkkkkkk...",
    ".g.g.g.g.g.g....",
    ".g.g.g.g.g.g....",
};

const char* const kChipB[] = {
    "16 16 4 1",
    ". c None",
    "B c #0020E0",
    "g c #707070",
    "k c #000000",
    ".........BBBBBB.",
    ".........BB...BB",
    ".........BB..BB.",
    ".........BBBBB..",
    ".........BB..BB.",
    ".........BB...BB",
    ".........BB...BB",
    ".........BBBBBB.",
    ".g.g.g.g.g.g....",
    ".g.g.g.g.g.g....",
    "kkkkkkkkkkkkk...",
    "kkkkkkkkkkkkk...",
    ".kkkkkkkkkkkk...",
    "kkkkkkkkkkkkk...",
    ".g.g.g.g.g.g....",
    ".g.g.g.g.g.g....",
};
// clang-format on

const char* const* XpmOf(Glyph glyph) {
  switch (glyph) {
    case Glyph::OpenFolder:
      return kFolder;
    case Glyph::Floppy:
      return kFloppy;
    case Glyph::ChipZ:
      return kChipZ;
    case Glyph::ChipO:
      return kChipO;
    case Glyph::ChipB:
      return kChipB;
  }
  return kFolder;
}

// The colour of one "X c #RRGGBB" or "X c None" line.
std::uint32_t ColourOf(const char* line) {
  unsigned rgb = 0;
  if (std::strcmp(line + 4, "None") == 0 || std::sscanf(line + 4, "#%6x", &rgb) != 1) return 0;
  return 0xFF000000u | rgb;
}

}  // namespace

GlyphPixels GlyphImage(Glyph glyph) {
  const char* const* xpm = XpmOf(glyph);
  int colours = 0;
  std::sscanf(xpm[0], "%*d %*d %d", &colours);
  std::uint32_t palette[128] = {};
  for (int i = 1; i <= colours; ++i)
    palette[static_cast<unsigned char>(xpm[i][0]) & 0x7F] = ColourOf(xpm[i]);
  GlyphPixels pixels{};
  for (int y = 0; y < kGlyphSize; ++y)
    for (int x = 0; x < kGlyphSize; ++x)
      pixels[y * kGlyphSize + x] =
          palette[static_cast<unsigned char>(xpm[1 + colours + y][x]) & 0x7F];
  return pixels;
}

GlyphPixels GreyGlyph(const GlyphPixels& normal) {
  GlyphPixels grey = normal;
  for (std::uint32_t& p : grey) {
    if ((p >> 24) == 0) continue;
    const unsigned r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
    const unsigned luminance = (r * 11 + g * 16 + b * 5) / 32;  // as qGray weighs them
    p = luminance < 160 ? 0xFF808080u : 0xFFC0C0C0u;
  }
  return grey;
}

}  // namespace zelwik::ui
