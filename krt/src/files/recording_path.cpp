// Recording path names: parsing from the end backwards, and writing the file component.
#include "krt/recording_path.h"

#include <cstdio>
#include <cstring>
#include <string_view>

#include "krt/packed_time.h"

namespace krt {
namespace {

constexpr size_t kMaxTypeText = 8;  // characters allowed between the type brackets

// Reads one component left to right; every step fails without moving when it does not match.
class Scanner {
 public:
  explicit Scanner(std::string_view text) : text_(text) {}

  bool done() const { return pos_ == text_.size(); }
  bool peek(char c) const { return pos_ < text_.size() && text_[pos_] == c; }

  bool literal(std::string_view word) {
    if (text_.substr(pos_, word.size()) != word) return false;
    pos_ += word.size();
    return true;
  }

  // 1..max_digits decimal digits whose value lies in [lo, hi].
  bool decimal(int max_digits, int lo, int hi, int& out) {
    int value = 0;
    int digits = 0;
    while (pos_ + digits < text_.size() && digits <= max_digits) {
      const char c = text_[pos_ + digits];
      if (c < '0' || c > '9') break;
      value = value * 10 + (c - '0');
      ++digits;
    }
    if (digits == 0 || digits > max_digits || value < lo || value > hi) return false;
    pos_ += size_t(digits);
    out = value;
    return true;
  }

  // 1..8 hexadecimal digits (either case).
  bool hexadecimal(uint32_t& out) {
    uint32_t value = 0;
    int digits = 0;
    while (pos_ + digits < text_.size()) {
      const char c = text_[pos_ + digits];
      int nibble;
      if (c >= '0' && c <= '9') nibble = c - '0';
      else if (c >= 'a' && c <= 'f') nibble = c - 'a' + 10;
      else if (c >= 'A' && c <= 'F') nibble = c - 'A' + 10;
      else break;
      if (++digits > 8) return false;
      value = value << 4 | uint32_t(nibble);
    }
    if (digits == 0) return false;
    pos_ += size_t(digits);
    out = value;
    return true;
  }

  // One character, any value.
  bool any(char& out) {
    if (pos_ >= text_.size()) return false;
    out = text_[pos_++];
    return true;
  }

  // "[" text "]" with 1..kMaxTypeText characters other than brackets; out = its first one.
  bool bracketed_text(char& out) {
    const size_t start = pos_;
    if (!literal("[")) return false;
    const size_t close = text_.find(']', pos_);
    const size_t length = close == std::string_view::npos ? 0 : close - pos_;
    if (length == 0 || length > kMaxTypeText ||
        text_.substr(pos_, length).find('[') != std::string_view::npos) {
      pos_ = start;
      return false;
    }
    out = text_[pos_];
    pos_ = close + 1;
    return true;
  }

 private:
  std::string_view text_;
  size_t pos_ = 0;
};

// Splits the last component off path: "a/b/c" gives "c" and leaves "a/b". False when path has
// no "/" left.
bool pop_component(std::string_view& path, std::string_view& component) {
  const size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return false;
  component = path.substr(slash + 1);
  path = path.substr(0, slash);
  return true;
}

// "ide" letter number.
bool parse_partition(std::string_view component, PartitionName& out) {
  Scanner s(component);
  char letter;
  int part;
  if (!s.literal("ide") || !s.any(letter) || !s.decimal(1, 0, 3, part) || !s.done()) return false;
  const int disk = int(static_cast<unsigned char>(letter)) - 'a';
  if (disk < 0 || disk >= kMaxDisks) return false;
  out = {disk, part};
  return true;
}

// year-month-day.
bool parse_day(std::string_view component, ChannelDirName& out) {
  Scanner s(component);
  return s.decimal(4, 2000, 2063, out.year) && s.literal("-") && s.decimal(2, 1, 12, out.month) &&
         s.literal("-") && s.decimal(2, 1, 31, out.day) && s.done();
}

// channel + 1.
bool parse_channel(std::string_view component, int& channel) {
  Scanner s(component);
  int written;
  if (!s.decimal(3, 1, kMaxChannels, written) || !s.done()) return false;
  channel = written - 1;
  return true;
}

// HH.MM.SS. Each value may fill its packed-time field (hour 0..31, minute and second 0..63), so
// that a name written from any stored time reads back.
bool parse_clock(Scanner& s, int& hour, int& minute, int& second) {
  return s.decimal(2, 0, 31, hour) && s.literal(".") && s.decimal(2, 0, 63, minute) &&
         s.literal(".") && s.decimal(2, 0, 63, second);
}

// start-end[T][@C][R].ext, the cluster and repeat fields optional.
bool parse_file(std::string_view component, RecordingName& out) {
  Scanner s(component);
  char letter;
  if (!parse_clock(s, out.hour, out.minute, out.second) || !s.literal("-") ||
      !parse_clock(s, out.end_hour, out.end_minute, out.end_second) || !s.bracketed_text(letter))
    return false;
  out.alarm = alarm_of_letter(letter);
  out.first_cluster = 0;
  out.repeat_no = 0;
  if (s.literal("[@")) {
    if (!s.hexadecimal(out.first_cluster) || !s.literal("]")) return false;
    if (s.literal("[")) {
      int repeat;
      if (!s.decimal(3, 0, 255, repeat) || !s.literal("]")) return false;
      out.repeat_no = uint8_t(repeat);
    }
  }
  if (s.literal(".h264")) out.h264 = true;
  else if (s.literal(".jpg")) out.h264 = false;
  else return false;
  return s.done();
}

// Parses the partition, day and channel components at the end of path, last one first.
bool parse_channel_dir(std::string_view path, ChannelDirName& out) {
  std::string_view channel, day, partition;
  return pop_component(path, channel) && parse_channel(channel, out.channel) &&
         pop_component(path, day) && parse_day(day, out) && pop_component(path, partition) &&
         parse_partition(partition, out.partition);
}

bool ends_with(std::string_view text, std::string_view end) {
  return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

}  // namespace

char type_letter(uint8_t alarm) {
  static constexpr char kLetters[] = {'R', 'A', 'M', 'C', 'H'};
  return alarm < sizeof kLetters ? kLetters[alarm] : 'R';
}

uint8_t alarm_of_letter(char letter) {
  switch (letter) {
    case 'A': return 1;
    case 'M': return 2;
    case 'C': return 3;
    case 'H': return 4;
    default: return 0;
  }
}

bool is_recording_path(const char* path) {
  return path && (ends_with(path, ".h264") || ends_with(path, ".jpg"));
}

bool parse_recording_path(const char* path, RecordingName& out) {
  if (!path) return false;
  std::string_view rest(path);
  std::string_view file;
  if (!pop_component(rest, file) || !parse_file(file, out) || !parse_channel_dir(rest, out.dir))
    return false;
  out.start_time = pack_time(TimeFields{out.dir.year, out.dir.month, out.dir.day, out.hour,
                                        out.minute, out.second});
  return true;
}

bool parse_channel_pattern(const char* pattern, ChannelDirName& out) {
  if (!pattern) return false;
  std::string_view rest(pattern);
  std::string_view ignored;
  return pop_component(rest, ignored) && parse_channel_dir(rest, out);
}

bool parse_work_directory_path(const char* path, PartitionName& out) {
  if (!path) return false;
  std::string_view rest(path);
  std::string_view name, partition;
  return pop_component(rest, name) && name == kWorkDirectoryName &&
         pop_component(rest, partition) && parse_partition(partition, out);
}

bool parse_partition_component(std::string_view component, PartitionName& out) {
  return parse_partition(component, out);
}

bool parse_day_component(std::string_view component, int& year, int& month, int& day) {
  ChannelDirName dir{};
  if (!parse_day(component, dir)) return false;
  year = dir.year;
  month = dir.month;
  day = dir.day;
  return true;
}

bool parse_channel_component(std::string_view component, int& channel) {
  return parse_channel(component, channel);
}

bool parse_file_component(std::string_view component, RecordingName& out) {
  return parse_file(component, out);
}

bool find_partition_component(const char* path, PartitionName& out) {
  if (!path) return false;
  const std::string_view text(path);
  for (size_t at = text.find("/ide"); at != std::string_view::npos; at = text.find("/ide", at + 1)) {
    const size_t end = text.find('/', at + 1);
    if (parse_partition(text.substr(at + 1, end == std::string_view::npos ? end : end - at - 1), out))
      return true;
  }
  return false;
}

int format_recording_name(char* out, size_t size, uint32_t start_time, uint32_t end_time,
                          uint8_t alarm, uint32_t first_cluster, uint8_t repeat_no, bool h264) {
  if (!out || size == 0) return -1;
  const TimeFields s = unpack_time(start_time);
  const TimeFields e = unpack_time(end_time);
  const int n = std::snprintf(out, size, "%02d.%02d.%02d-%02d.%02d.%02d[%c][@%x][%d].%s", s.hour,
                              s.minute, s.second, e.hour, e.minute, e.second, type_letter(alarm),
                              first_cluster, repeat_no, h264 ? "h264" : "jpg");
  if (n < 0 || size_t(n) >= size) {
    out[0] = '\0';
    return -1;
  }
  return n;
}

}  // namespace krt
