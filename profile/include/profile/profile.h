// Profile files: the "[Section]" / "key=value" text files of the viewer's configuration
// (Config.ini), its language files (*.lang) and its skin files (theme.ini).
//
// Rules, the same for every reader and writer of such a file:
//   - A line "[name]" starts a section (blanks around the line and the name are ignored);
//     a line "key=value" inside a section is an entry. Lines before the first section, lines
//     without '=', lines with an empty key and lines starting with ';' (a comment) hold no
//     entry.
//   - Sections and keys are matched without regard to ASCII letter case; the first matching
//     entry wins. A section name that appears twice is one section in two pieces: lookups
//     go through both in file order, writes go to the first.
//   - Keys and values are trimmed of blanks (spaces, tabs); lines may end in LF or CR LF; a
//     UTF-8 byte-order mark at the start of the file is skipped. Text is kept as bytes
//     (UTF-8 passes unchanged).
//   - A missing file, section or key is no error: the reader gets the caller's default.
//   - Reading through a buffer size cuts the value to size - 1 bytes, as a C buffer of that
//     size holding a terminator would.
//   - A write changes or adds one entry and keeps every other line and their order. The file
//     and the section are made when missing. The file is replaced atomically (a temporary
//     file in the same folder, then a rename), so a failed write leaves the old file whole.
//
// Standard library only: the file-system side of the program and the widgets use the same
// reader.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace profile {

// A profile file held in memory as its lines. Reading many entries of one file goes through
// one Document; the free functions below read or write the file at a path each time.
class Document {
 public:
  // An empty document (no lines).
  Document() = default;

  // The lines of text (LF or CR LF line ends; a leading byte-order mark is dropped).
  static Document Parse(std::string_view text);

  // The document of the file at path. A missing or unreadable file, or a path that is no
  // regular file, gives an empty document; *found (when not null) tells whether the file
  // was read.
  static Document Read(const std::string& path, bool* found = nullptr);

  // Whether section holds key; its trimmed value goes to *value (when not null).
  bool Find(std::string_view section, std::string_view key, std::string* value) const;

  // The value of key in section, or def when there is none; either cut to size - 1 bytes
  // (size 0 gives ""). This is the lookup of a C buffer of `size` bytes.
  std::string GetString(std::string_view section, std::string_view key, std::string_view def,
                        std::size_t size) const;

  // The value of key in section read as a decimal integer: optional blanks, an optional sign,
  // digits up to the first non-digit ("12abc" is 12, "abc" is 0); def when the key is
  // missing. Values beyond the range of int are clamped to it.
  int GetInt(std::string_view section, std::string_view key, int def) const;

  // The keys of the entries of section, in file order (each key as written, duplicates
  // included).
  std::vector<std::string> Keys(std::string_view section) const;

  // Sets key in section to value: the first matching entry is rewritten as "key=value";
  // when the section has no such key, the entry is added after the section's last entry
  // (or right after its header); when there is no such section, "[section]" and the entry
  // are added at the end. Returns false, changing nothing, when section, key or value holds
  // a line break, or section or key is empty after trimming.
  bool Set(std::string_view section, std::string_view key, std::string_view value);

  // The document as file text: its lines, each ended by the line end the parsed text used
  // (CR LF when its first line ended in CR LF, else LF).
  std::string Text() const;

 private:
  // Calls visit (key, value) for each entry of section in file order until it returns true;
  // returns whether it did.
  bool VisitEntries(std::string_view section,
                    const std::function<bool(std::string_view, std::string_view)>& visit) const;

  std::vector<std::string> m_lines;  // without their line ends
  bool m_crlf = false;               // lines end in CR LF
  bool m_bom = false;                // the text started with a UTF-8 byte-order mark
};

// The value of key in section of the file at path, or def; cut to size - 1 bytes.
std::string GetString(const std::string& path, std::string_view section, std::string_view key,
                      std::string_view def, std::size_t size);

// The value of key in section of the file at path as an integer (Document::GetInt), or def.
int GetInt(const std::string& path, std::string_view section, std::string_view key, int def);

// Sets key in section of the file at path to value (Document::Set), making the file when it
// does not exist. The new text goes to a temporary file in the same folder that then
// replaces the file (a symbolic link is followed to the file it names). The file keeps its
// permission bits; a new file gets 0600, since these files hold a user's own settings.
// Returns false, leaving the file as it was, when the entry is not valid, the path names no
// regular file, the folder cannot be written, an existing file is not writable for the
// process, or writing, flushing or renaming fails.
bool WriteString(const std::string& path, std::string_view section, std::string_view key,
                 std::string_view value);

// ---- Language files ---------------------------------------------------------------------
// A language file is a profile file whose section "String" maps text keys to the texts of
// one language. A key may carry a prefix up to a full stop ("PlayBack.LoadImageFail").

// The longest text a language file gives, in bytes; longer texts are cut (never inside a
// UTF-8 character).
inline constexpr std::size_t kMaxLanguageText = 299;

// The text of key in section "String" of doc. When doc has no text for key or an empty one:
// the part of key after its first full stop, or key itself when it has none.
std::string LanguageText(const Document& doc, std::string_view key);

}  // namespace profile
