// How the tool opens the images named with -d: -i FORMAT forces their format instead of
// recognising it, -o SECTORS finds the recorder disk that many sectors into each (a recorder
// disk inside a larger image, say of a whole machine).
#pragma once

#include <cstdint>
#include <string>

// The image options of the command line.
struct ImageOptions {
  std::string format;           // "" (recognise), "raw", "split" or "ewf"
  uint64_t offset_sectors = 0;  // where the recorder disk starts in each image
};

// Reads -i's value into options. Returns false for anything but raw, split and ewf.
bool parse_image_format(const std::string& text, ImageOptions& options);

// Reads -o's value (a whole number of 512-byte sectors). Returns false for anything else.
bool parse_image_offset(const std::string& text, ImageOptions& options);

// Puts options in force for every image the library opens from now on (an opener asked
// before the built-in ones). Without a format or an offset it changes nothing. Returns nothing.
void install_image_options(const ImageOptions& options);
