#include "app/glyphs.h"

#include <QPixmap>
#include <cmath>
#include <cstring>

#include "ui/glyphs.h"

namespace zelwik::app {
namespace {

QImage ToImage(const ui::GlyphPixels& pixels) {
  QImage image(ui::kGlyphSize, ui::kGlyphSize, QImage::Format_ARGB32);
  for (int y = 0; y < ui::kGlyphSize; ++y)
    std::memcpy(image.scanLine(y), pixels.data() + y * ui::kGlyphSize, ui::kGlyphSize * 4);
  return image;
}

}  // namespace

QIcon GlyphIcon(ui::Glyph glyph) {
  const ui::GlyphPixels normal = ui::GlyphImage(glyph);
  QIcon icon;
  icon.addPixmap(QPixmap::fromImage(ToImage(normal)), QIcon::Normal);
  icon.addPixmap(QPixmap::fromImage(ToImage(ui::GreyGlyph(normal))), QIcon::Disabled);
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
