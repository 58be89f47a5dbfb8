#include "image_options.h"

#include <memory>

#include "krt/disk.h"
#include "krt/ewf_source.h"
#include "krt/image_source.h"

namespace {

ImageOptions g_options;
thread_local bool g_opening = false;  // the opener is asking the built-in ones

// A source read from a number of bytes into another: the recorder disk inside an image.
class OffsetSource final : public krt::ImageSource {
 public:
  OffsetSource(std::unique_ptr<krt::ImageSource> inner, uint64_t offset) : inner_(std::move(inner)), offset_(offset) {}
  bool read(void* buf, size_t bytes, uint64_t offset) override {
    return offset <= size() && bytes <= size() - offset && inner_->read(buf, bytes, offset + offset_);
  }
  uint64_t size() const override { return inner_->size() - offset_; }
  std::string format() const override {
    return inner_->format() + " from sector " + std::to_string(offset_ / krt::kSectorBytes);
  }
  int segments() const override { return inner_->segments(); }
  std::vector<std::pair<std::string, std::string>> stored_digests() const override { return {}; }

 private:
  std::unique_ptr<krt::ImageSource> inner_;
  uint64_t offset_;
};

// Opens path in the format forced by -i, or as the built-in openers recognise it.
krt::SourceOpen open_in_format(const std::string& path) {
  const std::string& f = g_options.format;
  if (f == "raw") return {krt::open_plain_source(path), ""};
  krt::SourceOpen r = f == "split" ? krt::open_split_raw_source(path)
                      : f == "ewf" ? krt::open_ewf_source(path)
                                   : krt::open_image_source(path);
  if (!r.source && r.refusal.empty() && !f.empty()) {
    r.refusal = f == "split" ? "is not the first segment of a split raw set (NAME.001)" : "is not an E01 segment";
  }
  return r;
}

krt::SourceOpen open_with_options(const std::string& path) {
  if (g_opening) return {};
  g_opening = true;
  krt::SourceOpen r = open_in_format(path);
  g_opening = false;
  const uint64_t offset = g_options.offset_sectors * krt::kSectorBytes;
  if (!r.source || offset == 0) return r;
  if (offset >= r.source->size()) {
    return {nullptr, "holds " + std::to_string(r.source->size()) + " bytes: nothing at sector " +
                         std::to_string(g_options.offset_sectors)};
  }
  return {std::make_unique<OffsetSource>(std::move(r.source), offset), ""};
}

// A whole number of at most 18 digits.
bool whole_number(const std::string& text, uint64_t& out) {
  if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  out = std::stoull(text);
  return true;
}

}  // namespace

bool parse_image_format(const std::string& text, ImageOptions& options) {
  if (text != "raw" && text != "split" && text != "ewf") return false;
  options.format = text;
  return true;
}

bool parse_image_offset(const std::string& text, ImageOptions& options) {
  return whole_number(text, options.offset_sectors);
}

void install_image_options(const ImageOptions& options) {
  g_options = options;
  if (!options.format.empty() || options.offset_sectors != 0) krt::register_source_opener(open_with_options);
}
