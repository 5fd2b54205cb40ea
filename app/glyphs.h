#pragma once

#include <QIcon>
#include <QImage>

#include "ui/window_description.h"

namespace zelwik::app {

// A tool button's picture and its grey disabled twin.
QIcon GlyphIcon(ui::Glyph glyph);

// The program's icon, a black chip with yellow pins at a slant, drawn for any size (32 is the
// design size). Needs no application object, so the build can render it to a file.
QImage AppIconImage(int size = 32);

}  // namespace zelwik::app
