// The demo pictures' on-screen display: a 5 x 7 dot font, drawn and read back.
#include "osd.h"

#include <cstdio>

#include "krt/packed_time.h"

namespace krtdemo {
namespace {

constexpr int kGlyphW = 5, kGlyphH = 7, kAdvance = 6;  // dots
constexpr uint8_t kLit = 235, kDark = 16;

// 5 x 7 dot glyphs, one row per byte (bit 4 = leftmost dot).
struct Glyph {
  char c;
  uint8_t rows[kGlyphH];
};
constexpr Glyph kGlyphs[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}}, {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}}, {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}}, {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}}, {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}}, {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'-', {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}}, {':', {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00}},
    {'C', {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}}, {'H', {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {' ', {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
};

const Glyph* glyph(char c) {
  for (const Glyph& g : kGlyphs) {
    if (g.c == c) return &g;
  }
  return nullptr;
}

bool lit(const Glyph& g, int row, int col) { return (g.rows[row] >> (kGlyphW - 1 - col) & 1) != 0; }

// Fills a rectangle of the luma plane, clipped to the picture.
void fill(uint8_t* luma, int stride, int width, int height, int x, int y, int w, int h, uint8_t value) {
  for (int py = y < 0 ? 0 : y; py < y + h && py < height; ++py)
    for (int px = x < 0 ? 0 : x; px < x + w && px < width; ++px) luma[py * stride + px] = value;
}

}  // namespace

OsdLayout osd_layout(int width) {
  OsdLayout l;
  l.dot = width >= 704 ? 4 : 2;
  l.x = 16;
  l.y = 16;
  return l;
}

std::string osd_text(int channel, uint32_t time) {
  const krt::TimeFields t = krt::unpack_time(time);
  char s[48];
  std::snprintf(s, sizeof s, "CH %02d  %04d-%02d-%02d %02d:%02d:%02d", (channel + 1) % 100, t.year % 10000,
                t.month % 100, t.day % 100, t.hour % 100, t.minute % 100, t.second % 100);
  return s;
}

void draw_osd(uint8_t* luma, int stride, int width, int height, const std::string& text) {
  const OsdLayout l = osd_layout(width);
  const int cell = kAdvance * l.dot;
  fill(luma, stride, width, height, l.x - l.dot * 2, l.y - l.dot * 2, int(text.size()) * cell + l.dot * 3,
       (kGlyphH + 4) * l.dot, kDark);
  for (size_t i = 0; i < text.size(); ++i) {
    const Glyph* g = glyph(text[i]);
    if (!g) continue;
    for (int row = 0; row < kGlyphH; ++row)
      for (int col = 0; col < kGlyphW; ++col)
        if (lit(*g, row, col))
          fill(luma, stride, width, height, l.x + int(i) * cell + col * l.dot, l.y + row * l.dot, l.dot, l.dot, kLit);
  }
}

std::string read_osd(const uint8_t* luma, int stride, int width, int height, size_t length) {
  const OsdLayout l = osd_layout(width);
  std::string out;
  for (size_t i = 0; i < length; ++i) {
    const int x0 = l.x + int(i) * kAdvance * l.dot;
    char found = '?';
    for (const Glyph& g : kGlyphs) {
      bool same = true;
      for (int row = 0; row < kGlyphH && same; ++row)
        for (int col = 0; col < kGlyphW && same; ++col) {
          const int px = x0 + col * l.dot + l.dot / 2, py = l.y + row * l.dot + l.dot / 2;
          const bool bright = px < width && py < height && luma[py * stride + px] > 128;
          same = bright == lit(g, row, col);
        }
      if (same) {
        found = g.c;
        break;
      }
    }
    out += found;
  }
  return out;
}

}  // namespace krtdemo
