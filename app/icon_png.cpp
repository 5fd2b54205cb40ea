// Renders the program's icon into PNG files for installation: icon_png SIZE FILE [SIZE FILE...]
#include <QImage>
#include <cstdio>
#include <cstdlib>

#include "app/glyphs.h"

int main(int argc, char** argv) {
  for (int i = 1; i + 1 < argc; i += 2) {
    const int size = std::atoi(argv[i]);
    if (size <= 0 || !zelwik::app::AppIconImage(size).save(argv[i + 1], "PNG")) {
      std::fprintf(stderr, "icon_png: cannot write %s\n", argv[i + 1]);
      return 1;
    }
  }
  return 0;
}
