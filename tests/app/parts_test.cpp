// The window's small parts: the gauge, the listing decoder and the pictures.
#include <QImage>
#include <QTest>
#include <set>

#include "app/cp1250.h"
#include "app/gauge.h"
#include "app/glyphs.h"

using namespace zelwik::app;

class PartsTest : public QObject {
  Q_OBJECT

 private slots:
  void gaugePercentFollowsProgress() {
    CGauge gauge;
    QCOMPARE(gauge.PercentDone(), 0);
    gauge.SetMaxValue(2047);
    gauge.SetProgress(1023);
    QCOMPARE(gauge.PercentDone(), 49);
    gauge.SetProgress(2047);
    QCOMPARE(gauge.PercentDone(), 100);
    gauge.SetProgress(5000);  // beyond the maximum: a full bar, never more
    QCOMPARE(gauge.PercentDone(), 100);
    gauge.SetProgress(-3);
    QCOMPARE(gauge.PercentDone(), 0);
    // No overflow for the largest image: 65,535 x 100 fits, but a bigger maximum must too.
    gauge.SetMaxValue(2'000'000'000);
    gauge.SetProgress(1'999'999'999);
    QCOMPARE(gauge.PercentDone(), 99);
  }

  void gaugeAcceptsEmptyRanges() {
    // An empty image gives a maximum of -1; a one-byte image of 0. Neither may fail or paint junk.
    for (int max : {-1, 0}) {
      CGauge gauge;
      gauge.resize(97, 13);
      gauge.SetMaxValue(max);
      gauge.SetProgress(0);
      QCOMPARE(gauge.PercentDone(), 0);
      gauge.SetProgress(1);
      QCOMPARE(gauge.PercentDone(), 0);
      QVERIFY(!gauge.grab().isNull());
      QCOMPARE(gauge.PaintedPercent(), 0);
      QCOMPARE(gauge.MaxValue(), max);
    }
  }

  void gaugeBarCoversItsShare() {
    CGauge gauge;
    gauge.resize(97, 13);
    gauge.SetMaxValue(100);
    gauge.SetProgress(50);
    const QImage picture = gauge.grab().toImage();
    // Left of the middle is bar (black), right of it background (white), away from the text.
    QCOMPARE(QColor(picture.pixel(5, 6)), QColor(Qt::black));
    QCOMPARE(QColor(picture.pixel(90, 6)), QColor(Qt::white));
    QVERIFY(!gauge.NeedsPaint());
    gauge.SetProgress(51);
    QVERIFY(gauge.NeedsPaint());
  }

  void windows1250Letters() {
    // The Polish letters, the ones that differ from Latin-1, and the last byte.
    QCOMPARE(int(Cp1250ToUnicode(0xA5)), 0x0104);  // Ą
    QCOMPARE(int(Cp1250ToUnicode(0xB9)), 0x0105);  // ą
    QCOMPARE(int(Cp1250ToUnicode(0x8C)), 0x015A);  // Ś
    QCOMPARE(int(Cp1250ToUnicode(0x9F)), 0x017A);  // ź
    QCOMPARE(int(Cp1250ToUnicode(0xA3)), 0x0141);  // Ł
    QCOMPARE(int(Cp1250ToUnicode(0xD3)), 0x00D3);  // Ó
    QCOMPARE(int(Cp1250ToUnicode(0x80)), 0x20AC);  // €
    QCOMPARE(int(Cp1250ToUnicode(0xFF)), 0x02D9);  // ˙, the empty byte
    QCOMPARE(int(Cp1250ToUnicode('A')), int('A'));
    std::set<char16_t> seen;
    for (int b = 0x80; b <= 0xFF; ++b) {
      const char16_t u = Cp1250ToUnicode(static_cast<unsigned char>(b));
      if (u == 0) continue;
      QVERIFY2(seen.insert(u).second, "two bytes decode to the same character");
    }
    QCOMPARE(seen.size(), std::size_t(123));  // five codes are undefined
  }

  void listLineKeepsItsColumns() {
    std::string line = "0000:41000A81B9FF";
    line += std::string(20, 'F');
    line += " A";
    line += std::string("\x0A\x09\x81\xB9\xAD\x7F\xFF", 7);
    const QString shown = QString::fromStdU16String(DecodeListLine(line));
    QCOMPARE(shown.size(), qsizetype(line.size()));
    QCOMPARE(shown.left(38), QString::fromLatin1(line.data(), 38));
    QCOMPARE(shown.mid(38), QString::fromUtf8("A...ą..˙"));
  }

  void glyphsAndIcon() {
    for (Glyph g : {Glyph::OpenFolder, Glyph::Floppy, Glyph::ChipZ, Glyph::ChipO, Glyph::ChipB}) {
      const QImage normal = GlyphImage(g);
      QCOMPARE(normal.size(), QSize(16, 16));
      const QImage grey = GreyGlyph(normal);
      int opaque = 0;
      for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
          QCOMPARE(qAlpha(grey.pixel(x, y)), qAlpha(normal.pixel(x, y)));
          if (qAlpha(grey.pixel(x, y)) == 0) continue;
          ++opaque;
          const QRgb p = grey.pixel(x, y);
          QVERIFY(qRed(p) == qGreen(p) && qGreen(p) == qBlue(p));
        }
      QVERIFY(opaque > 40);
    }
    // The chip letters carry their colour: red Z, green O, blue B.
    auto dominant = [](const QImage& image, auto channel) {
      int count = 0;
      for (int y = 0; y < 8; ++y)
        for (int x = 8; x < 16; ++x)
          if (qAlpha(image.pixel(x, y)) && channel(image.pixel(x, y))) ++count;
      return count;
    };
    QVERIFY(dominant(GlyphImage(Glyph::ChipZ), [](QRgb p) { return qRed(p) > 200 && qGreen(p) < 60; }) > 10);
    QVERIFY(dominant(GlyphImage(Glyph::ChipO), [](QRgb p) { return qGreen(p) > 140 && qRed(p) < 60; }) > 10);
    QVERIFY(dominant(GlyphImage(Glyph::ChipB), [](QRgb p) { return qBlue(p) > 200 && qRed(p) < 60; }) > 10);

    const QImage icon = AppIconImage(32);
    QCOMPARE(icon.size(), QSize(32, 32));
    int black = 0, yellow = 0;
    for (int y = 0; y < 32; ++y)
      for (int x = 0; x < 32; ++x) {
        const QRgb p = icon.pixel(x, y);
        if (!qAlpha(p)) continue;
        if (p == qRgb(0, 0, 0)) ++black;
        if (p == qRgb(255, 255, 0)) ++yellow;
      }
    QVERIFY(black > 100);
    QVERIFY(yellow > 40);
    QCOMPARE(AppIconImage(128).size(), QSize(128, 128));
  }
};

QTEST_MAIN(PartsTest)
#include "parts_test.moc"
