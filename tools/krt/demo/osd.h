// The camera's on-screen display of the demo pictures: the channel and the picture's date and
// time ("CH 02  2024-03-05 14:05:30") in a fixed 5 x 7 dot font of the demo's own, white on a
// black band at the top left. read_osd reads the text back from a decoded picture's luma, so a
// test can check the moment a picture shows without any text recognition.
#pragma once

#include <cstdint>
#include <string>

namespace krtdemo {

// Where the display sits in a picture of a given width: the top left corner of the first
// glyph and the size of one dot (pixels a side). Glyphs are 5 x 7 dots, 6 dots apart.
struct OsdLayout {
  int x = 0;
  int y = 0;
  int dot = 1;
};

// The layout for pictures `width` pixels wide (CIF: 2-pixel dots, D1: 4-pixel dots).
OsdLayout osd_layout(int width);

// The display's text for channel `channel` (0-based; shown 1-based) at packed time `time`.
std::string osd_text(int channel, uint32_t time);

// Draws `text` (digits, 'C', 'H', '-', ':', spaces) on its black band into a luma plane of
// width x height pixels, `stride` bytes a row. Characters outside the font are left blank.
void draw_osd(uint8_t* luma, int stride, int width, int height, const std::string& text);

// Reads `length` characters of display back from a luma plane laid out as draw_osd draws:
// each glyph cell is compared with the font dot by dot (a dot is lit when its middle is
// brighter than mid grey). A cell that matches no glyph reads as '?'.
std::string read_osd(const uint8_t* luma, int stride, int width, int height, size_t length);

}  // namespace krtdemo
