// Profile files: parsing, lookups and atomic rewrites (rules in profile.h).
#include "profile/profile.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <sstream>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace profile {
namespace {

constexpr std::string_view kBlanks = " \t";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

std::string_view Trim(std::string_view text) {
  const std::size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  const std::size_t last = text.find_last_not_of(kBlanks);
  return text.substr(first, last - first + 1);
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return Lower(x) == Lower(y); });
}

bool HasLineBreak(std::string_view text) {
  return text.find_first_of("\r\n") != std::string_view::npos;
}

// The name of a section header line ("[name]"), or nothing for any other line.
std::optional<std::string_view> SectionName(std::string_view line) {
  line = Trim(line);
  if (line.empty() || line.front() != '[') return std::nullopt;
  const std::size_t close = line.find(']');
  if (close == std::string_view::npos) return std::nullopt;
  return Trim(line.substr(1, close - 1));
}

// The key and value of an entry line, or nothing for a comment or a line without an entry.
struct Entry {
  std::string_view key;
  std::string_view value;
};
std::optional<Entry> EntryOf(std::string_view line) {
  const std::string_view trimmed = Trim(line);
  if (trimmed.empty() || trimmed.front() == ';') return std::nullopt;
  const std::size_t eq = trimmed.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  const std::string_view key = Trim(trimmed.substr(0, eq));
  if (key.empty()) return std::nullopt;
  return Entry{key, Trim(trimmed.substr(eq + 1))};
}

std::string Cut(std::string_view text, std::size_t size) {
  if (size == 0) return {};
  return std::string(text.substr(0, std::min(text.size(), size - 1)));
}

}  // namespace

Document Document::Parse(std::string_view text) {
  Document doc;
  if (text.starts_with(kByteOrderMark)) {
    doc.m_bom = true;
    text.remove_prefix(kByteOrderMark.size());
  }
  bool first = true;
  while (!text.empty()) {
    const std::size_t nl = text.find('\n');
    std::string_view line = text.substr(0, nl);
    const bool cr = !line.empty() && line.back() == '\r';
    if (cr) line.remove_suffix(1);
    if (first && nl != std::string_view::npos) doc.m_crlf = cr;
    first = false;
    doc.m_lines.emplace_back(line);
    if (nl == std::string_view::npos) break;
    text.remove_prefix(nl + 1);
  }
  return doc;
}

Document Document::Read(const std::string& path, bool* found) {
  if (found) *found = false;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return {};
  if (found) *found = true;
  return Parse(text);
}

bool Document::Find(std::string_view section, std::string_view key, std::string* value) const {
  key = Trim(key);
  return VisitEntries(section, [&](std::string_view name, std::string_view found) {
    if (!SameName(name, key)) return false;
    if (value) *value = std::string(found);
    return true;
  });
}

std::string Document::GetString(std::string_view section, std::string_view key,
                                 std::string_view def, std::size_t size) const {
  std::string value;
  return Cut(Find(section, key, &value) ? std::string_view(value) : def, size);
}

int Document::GetInt(std::string_view section, std::string_view key, int def) const {
  std::string value;
  if (!Find(section, key, &value)) return def;
  std::string_view text = Trim(value);
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  long long number = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    number = std::min<long long>(number * 10 + (c - '0'), static_cast<long long>(INT_MAX) + 1);
  }
  if (negative) number = -number;
  return static_cast<int>(std::clamp<long long>(number, INT_MIN, INT_MAX));
}

std::vector<std::string> Document::Keys(std::string_view section) const {
  std::vector<std::string> keys;
  VisitEntries(section, [&](std::string_view key, std::string_view) {
    keys.emplace_back(key);
    return false;
  });
  return keys;
}

bool Document::VisitEntries(std::string_view section,
                            const std::function<bool(std::string_view, std::string_view)>& visit) const {
  section = Trim(section);
  bool inSection = false;
  for (const std::string& line : m_lines) {
    if (const auto name = SectionName(line)) {
      inSection = SameName(*name, section);
      continue;
    }
    if (!inSection) continue;
    if (const auto entry = EntryOf(line); entry && visit(entry->key, entry->value)) return true;
  }
  return false;
}

bool Document::Set(std::string_view section, std::string_view key, std::string_view value) {
  section = Trim(section);
  key = Trim(key);
  value = Trim(value);
  if (section.empty() || key.empty() || HasLineBreak(section) || HasLineBreak(key) ||
      HasLineBreak(value) || key.find('=') != std::string_view::npos)
    return false;
  std::string entry = std::string(key) + "=" + std::string(value);
  std::optional<std::size_t> header;     // the first matching section's header line
  std::size_t insertAt = m_lines.size();  // after that section's last entry
  for (std::size_t i = 0; i < m_lines.size(); ++i) {
    if (const auto name = SectionName(m_lines[i])) {
      if (header) break;
      if (SameName(*name, section)) {
        header = i;
        insertAt = i + 1;
      }
      continue;
    }
    if (!header) continue;
    const auto found = EntryOf(m_lines[i]);
    if (!found) continue;
    if (SameName(found->key, key)) {
      m_lines[i] = std::move(entry);
      return true;
    }
    insertAt = i + 1;
  }
  if (header) {
    m_lines.insert(m_lines.begin() + static_cast<std::ptrdiff_t>(insertAt), std::move(entry));
    return true;
  }
  if (!m_lines.empty() && !Trim(m_lines.back()).empty()) m_lines.emplace_back();
  m_lines.push_back("[" + std::string(section) + "]");
  m_lines.push_back(std::move(entry));
  return true;
}

std::string Document::Text() const {
  std::string text = m_bom ? std::string(kByteOrderMark) : std::string();
  const std::string_view end = m_crlf ? "\r\n" : "\n";
  for (const std::string& line : m_lines) {
    text += line;
    text += end;
  }
  return text;
}

std::string GetString(const std::string& path, std::string_view section, std::string_view key,
                      std::string_view def, std::size_t size) {
  return Document::Read(path).GetString(section, key, def, size);
}

int GetInt(const std::string& path, std::string_view section, std::string_view key, int def) {
  return Document::Read(path).GetInt(section, key, def);
}

namespace {

// Writes text to a new temporary file next to target with the given mode and renames it over
// target. Returns false (removing the temporary file) on any failure.
bool ReplaceFile(const std::string& target, const std::string& text, mode_t mode) {
  std::string temp = target + ".XXXXXX";
  const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = ::fchmod(fd, mode) == 0;
  for (std::size_t done = 0; ok && done < text.size();) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += static_cast<std::size_t>(n);
  }
  ok = ok && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  ok = ok && ::rename(temp.c_str(), target.c_str()) == 0;
  if (!ok) ::unlink(temp.c_str());
  return ok;
}

}  // namespace

bool WriteString(const std::string& path, std::string_view section, std::string_view key,
                 std::string_view value) {
  std::string target = path;
  struct stat st {};
  mode_t mode = 0600;
  if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    std::error_code ec;
    const auto resolved = std::filesystem::weakly_canonical(path, ec);
    if (ec) return false;
    target = resolved.string();
  }
  bool exists = false;
  if (::stat(target.c_str(), &st) == 0) {
    if (!S_ISREG(st.st_mode) || ::access(target.c_str(), W_OK) != 0) return false;
    exists = true;
    mode = st.st_mode & 07777;
  } else if (errno != ENOENT) {
    return false;
  }
  bool found = false;
  Document doc = Document::Read(target, &found);
  if (exists && !found) return false;  // never replace a file we could not read
  if (!doc.Set(section, key, value)) return false;
  return ReplaceFile(target, doc.Text(), mode);
}

std::string LanguageText(const Document& doc, std::string_view key) {
  std::string text = doc.GetString("String", key, "", kMaxLanguageText + 1);
  if (text.size() == kMaxLanguageText) {
    // The cut may have split a character: drop continuation bytes and the lead byte they
    // belong to when the character is incomplete.
    std::size_t start = text.size();
    while (start > 0 && (static_cast<unsigned char>(text[start - 1]) & 0xC0) == 0x80) --start;
    if (start > 0) {
      const auto lead = static_cast<unsigned char>(text[start - 1]);
      const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
      if (text.size() - (start - 1) < length) text.resize(start - 1);
    }
  }
  if (!text.empty()) return text;
  const std::size_t dot = key.find('.');
  return std::string(dot == std::string_view::npos ? key : key.substr(dot + 1));
}

}  // namespace profile
