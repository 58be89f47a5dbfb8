// Reading recording path names: a cursor over the text that takes literals and bounded
// decimal numbers, one field after the other.
#include "recordingpath.h"

#include <utility>

namespace {

constexpr int kSecondsPerDay = 24 * 60 * 60;
constexpr std::string_view kMountPrefix = "/mnt/";

class Reader {
 public:
  explicit Reader(std::string_view text) : m_text(text) {}

  // Takes the literal text; false when the text does not continue with it.
  bool Literal(std::string_view literal) {
    if (m_text.substr(m_pos, literal.size()) != literal) return false;
    m_pos += literal.size();
    return true;
  }

  // Takes 1 to maxDigits decimal digits into *value; false when there is no digit or the
  // value lies outside [low, high].
  bool Number(int maxDigits, int low, int high, int* value) {
    int digits = 0;
    int v = 0;
    while (digits < maxDigits && m_pos < m_text.size() && m_text[m_pos] >= '0' &&
           m_text[m_pos] <= '9') {
      v = v * 10 + (m_text[m_pos] - '0');
      ++m_pos;
      ++digits;
    }
    if (digits == 0 || v < low || v > high) return false;
    *value = v;
    return true;
  }

  // Takes one character c with low <= c <= high (as unsigned) into *value, as c - low.
  bool Letter(unsigned char low, unsigned char high, int* value) {
    if (m_pos >= m_text.size()) return false;
    const auto c = static_cast<unsigned char>(m_text[m_pos]);
    if (c < low || c > high) return false;
    ++m_pos;
    *value = c - low;
    return true;
  }

  // Takes a clock time "hh.mm.ss" into *seconds after midnight.
  bool ClockTime(int* seconds) {
    int h = 0, m = 0, s = 0;
    if (!Number(2, 0, 23, &h) || !Literal(".") || !Number(2, 0, 59, &m) || !Literal(".") ||
        !Number(2, 0, 59, &s))
      return false;
    *seconds = (h * 60 + m) * 60 + s;
    return true;
  }

  // The text not taken yet.
  std::string_view Rest() const { return m_text.substr(m_pos); }

 private:
  std::string_view m_text;
  size_t m_pos = 0;
};

}  // namespace

bool ParseRecordingName(std::string_view name, RecordingName* out) {
  RecordingName r;
  Reader in(name);
  // Disk letters follow 'a' for up to 32 recorder disks.
  if (!in.Literal("ide") || !in.Letter('a', 'a' + 31, &r.disk) || !in.Number(1, 0, 3, &r.partition))
    return false;
  if (!in.Literal("/") || !in.Number(4, 2000, 2063, &r.year) || !in.Literal("-") ||
      !in.Number(2, 1, 12, &r.month) || !in.Literal("-") || !in.Number(2, 1, 31, &r.day))
    return false;
  if (!in.Literal("/") || !in.Number(3, 1, 64, &r.channel) || !in.Literal("/")) return false;
  const std::string_view file = in.Rest();
  if (file.find('/') != std::string_view::npos) return false;
  if (!in.ClockTime(&r.startSeconds) || !in.Literal("-") || !in.ClockTime(&r.endSeconds))
    return false;
  r.fileName = file;
  *out = std::move(r);
  return true;
}

bool ParseRecordingPath(std::string_view path, RecordingName* out) {
  if (path.substr(0, kMountPrefix.size()) != kMountPrefix) return false;
  return ParseRecordingName(path.substr(kMountPrefix.size()), out);
}

int RecordingDuration(const RecordingName& name) {
  const int d = name.endSeconds - name.startSeconds;
  return d < 0 ? d + kSecondsPerDay : d;
}
