#pragma once

#include <QIcon>
#include <QImage>

namespace zelwik::app {

enum class Glyph { OpenFolder, Floppy, ChipZ, ChipO, ChipB };

// The 16 x 16 picture of a tool button.
QImage GlyphImage(Glyph glyph);
// The grey picture shown while a button is disabled.
QImage GreyGlyph(const QImage& normal);
// Both pictures, for a tool button.
QIcon GlyphIcon(Glyph glyph);

// The program's icon, a black chip with yellow pins at a slant, drawn for any size (32 is the
// design size). Needs no application object, so the build can render it to a file.
QImage AppIconImage(int size = 32);

}  // namespace zelwik::app
