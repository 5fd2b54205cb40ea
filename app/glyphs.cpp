#include "app/glyphs.h"

#include <QPixmap>
#include <cmath>

namespace zelwik::app {
namespace {

// Sixteen-colour pictures drawn for this program, one character a pixel.
const char* const kFolder[] = {
    "16 16 4 1",        ". c None",         "Y c #C8A000",      "k c #000000",
    "y c #FFE040",      "................", "................", "................",
    ".kkkk...........", "kYYYYk..........", "kYYYYYkkkkkkk...", "kYYYYYYYYYYYYk..",
    "kYYYkkkkkkkkkkkk", "kYYkyyyyyyyyyyyk", "kYYkyyyyyyyyyyk.", "kYkyyyyyyyyyyyk.",
    "kYkyyyyyyyyyyk..", "kkyyyyyyyyyyyk..", "kkyyyyyyyyyyk...", "kkkkkkkkkkkkk...",
    "................",
};

const char* const kFloppy[] = {
    "16 16 6 1",        ". c None",         "b c #283070",      "g c #707070",
    "k c #000000",      "s c #C0C0C0",      "w c #FFFFFF",      "................",
    ".kkkkkkkkkkkkkk.", ".kbkwwwwwwwwkbk.", ".kbkwwwwwwwwkbk.", ".kbkwggggggwkbk.",
    ".kbkwwwwwwwwkbk.", ".kbkwggggggwkbk.", ".kbbkkkkkkkkbbk.", ".kbbbbbbbbbbbbk.",
    ".kbbssssssssbbk.", ".kbbsskkssssbbk.", ".kbbsskkssssbbk.", ".kbbsskkssssbbk.",
    ".kbbssssssssbbk.", "..kkkkkkkkkkkkk.", "................",
};

const char* const kChipZ[] = {
    "16 16 4 1",        ". c None",         "g c #707070",      "k c #000000",
    "r c #E00000",      ".........rrrrrrr", ".........rrrrrrr", ".............rr.",
    "............rr..", "...........rr...", "..........rr....", ".........rrrrrrr",
    ".........rrrrrrr", ".g.g.g.g.g.g....", ".g.g.g.g.g.g....", "kkkkkkkkkkkkk...",
    "kkkkkkkkkkkkk...", ".kkkkkkkkkkkk...", "kkkkkkkkkkkkk...", ".g.g.g.g.g.g....",
    ".g.g.g.g.g.g....",
};

const char* const kChipO[] = {
    "16 16 4 1",        ". c None",         "G c #00A000",      "g c #707070",
    "k c #000000",      "..........GGGGG.", ".........GGGGGGG", ".........GG...GG",
    ".........GG...GG", ".........GG...GG", ".........GG...GG", ".........GGGGGGG",
    "..........GGGGG.", ".g.g.g.g.g.g....", ".g.g.g.g.g.g....", "kkkkkkkkkkkkk...",
    "kkkkkkkkkkkkk...", ".kkkkkkkkkkkk...", "kkkkkkkkkkkkk...", ".g.g.g.g.g.g....",
    ".g.g.g.g.g.g....",
};

const char* const kChipB[] = {
    "16 16 4 1",        ". c None",         "B c #0020E0",      "g c #707070",
    "k c #000000",      ".........BBBBBB.", ".........BB...BB", ".........BB..BB.",
    ".........BBBBB..", ".........BB..BB.", ".........BB...BB", ".........BB...BB",
    ".........BBBBBB.", ".g.g.g.g.g.g....", ".g.g.g.g.g.g....", "kkkkkkkkkkkkk...",
    "kkkkkkkkkkkkk...", ".kkkkkkkkkkkk...", "kkkkkkkkkkkkk...", ".g.g.g.g.g.g....",
    ".g.g.g.g.g.g....",
};
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

}  // namespace

QImage GlyphImage(Glyph glyph) {
  return QImage(XpmOf(glyph)).convertToFormat(QImage::Format_ARGB32);
}

QImage GreyGlyph(const QImage& normal) {
  // Dark parts become mid grey, light parts a pale grey: the usual look of a disabled button.
  QImage grey = normal.convertToFormat(QImage::Format_ARGB32);
  for (int y = 0; y < grey.height(); ++y) {
    auto* row = reinterpret_cast<QRgb*>(grey.scanLine(y));
    for (int x = 0; x < grey.width(); ++x) {
      if (qAlpha(row[x]) == 0) continue;
      row[x] = qGray(row[x]) < 160 ? qRgb(0x80, 0x80, 0x80) : qRgb(0xC0, 0xC0, 0xC0);
    }
  }
  return grey;
}

QIcon GlyphIcon(Glyph glyph) {
  const QImage normal = GlyphImage(glyph);
  QIcon icon;
  icon.addPixmap(QPixmap::fromImage(normal), QIcon::Normal);
  icon.addPixmap(QPixmap::fromImage(GreyGlyph(normal)), QIcon::Disabled);
  return icon;
}

QImage AppIconImage(int size) {
  // Geometry in units of the 32-pixel design, in the chip's own frame (u along the body, v across
  // it), turned 30 degrees; each pixel takes the colour of the part its centre falls in.
  constexpr double kPi = 3.14159265358979323846;
  const double angle = -30.0 * kPi / 180.0;
  const double c = std::cos(angle), s = std::sin(angle);
  const double scale = 32.0 / size;
  const QRgb black = qRgb(0, 0, 0), grey = qRgb(0x60, 0x60, 0x60), yellow = qRgb(0xFF, 0xFF, 0x00),
             olive = qRgb(0x80, 0x80, 0x00);

  QImage image(size, size, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      const double px = (x + 0.5) * scale - 16.0, py = (y + 0.5) * scale - 16.0;
      const double u = px * c + py * s, v = -px * s + py * c;
      const double au = std::abs(u), av = std::abs(v);
      QRgb colour = 0;
      if (au <= 11.0 && av <= 5.0) {
        const bool notch = (u + 11.0) * (u + 11.0) + v * v <= 4.0;
        const bool dot = (u + 7.5) * (u + 7.5) + (v - 2.8) * (v - 2.8) <= 1.0;
        const bool edge = au > 10.0 || av > 4.0;
        colour = notch || dot ? grey : (edge ? grey : black);
      } else if (av > 5.0 && av <= 9.5) {
        // Five pins a side, 2 units wide, 4.2 apart: at 32 pixels each stays a pin of its own.
        const double nearest = std::round((u + 8.4) / 4.2);
        if (nearest >= 0 && nearest <= 4 && std::abs(u + 8.4 - nearest * 4.2) <= 1.0)
          colour = av > 8.5 ? olive : yellow;
      }
      if (colour) image.setPixel(x, y, colour);
    }
  }
  return image;
}

}  // namespace zelwik::app
