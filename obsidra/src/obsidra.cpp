// obsidra: secretbox under a key kept in a 0600 file, stored as base64 of nonce + box.
#include "obsidra/obsidra.h"

#include <sodium.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <optional>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace obsidra {
namespace {

using Key = std::array<unsigned char, crypto_secretbox_KEYBYTES>;

constexpr std::size_t kRawMax = crypto_secretbox_NONCEBYTES + crypto_secretbox_MACBYTES + kMaxPlainText;
static_assert(kEncipheredBufferSize >= sodium_base64_ENCODED_LEN(kRawMax, sodium_base64_VARIANT_ORIGINAL),
              "the enciphered form of the longest text must fit its buffer");

std::mutex g_mutex;       // guards g_keyFile and the making of the key file
std::string g_keyFile;    // set by SetKeyFile; empty: the default

std::string DefaultKeyFile() {
  std::string dir;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/') {
    dir = xdg;
  } else {
    const char* home = std::getenv("HOME");
    dir = std::string(home && *home ? home : ".") + "/.config";
  }
  return dir + "/vendrel/obsidra.key";
}

// Reads the key of the file at path: kNoKey when it is missing (errno ENOENT left for the
// caller), unreadable or not exactly one key long.
std::optional<Key> ReadKey(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  Key key{};
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
            st.st_size == static_cast<off_t>(key.size()) &&
            ::pread(fd, key.data(), key.size(), 0) == static_cast<ssize_t>(key.size());
  ::close(fd);
  if (!ok) {
    sodium_memzero(key.data(), key.size());
    errno = EINVAL;
    return std::nullopt;
  }
  return key;
}

// Makes a new key file at path atomically and returns the key in it (another process's,
// when it won the race).
std::optional<Key> MakeKey(const std::string& path) {
  std::error_code ec;
  const std::filesystem::path folder = std::filesystem::path(path).parent_path();
  if (!folder.empty() && !std::filesystem::exists(folder, ec)) {
    std::filesystem::create_directories(folder, ec);
    if (ec) return std::nullopt;
    std::filesystem::permissions(folder, std::filesystem::perms::owner_all, ec);
  }
  Key key{};
  randombytes_buf(key.data(), key.size());
  std::string temp = path + ".XXXXXX";
  const int fd = ::mkostemp(temp.data(), O_CLOEXEC);  // O_CREAT | O_EXCL, mode 0600
  if (fd < 0) return std::nullopt;
  bool ok = ::fchmod(fd, 0600) == 0 &&
            ::write(fd, key.data(), key.size()) == static_cast<ssize_t>(key.size()) &&
            ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  const bool linked = ok && ::link(temp.c_str(), path.c_str()) == 0;
  const int linkError = errno;
  ::unlink(temp.c_str());
  if (linked) return key;
  sodium_memzero(key.data(), key.size());
  if (ok && linkError == EEXIST) return ReadKey(path);
  return std::nullopt;
}

// The key, made first when create is set and there is no key file.
std::optional<Key> LoadKey(bool create) {
  std::lock_guard lock(g_mutex);
  const std::string path = g_keyFile.empty() ? DefaultKeyFile() : g_keyFile;
  if (auto key = ReadKey(path)) return key;
  if (!create || errno != ENOENT) return std::nullopt;
  return MakeKey(path);
}

int Fail(char* out, int error) {
  if (out) out[0] = '\0';
  return error;
}

}  // namespace

void SetKeyFile(const std::string& path) {
  std::lock_guard lock(g_mutex);
  g_keyFile = path;
}

std::string KeyFile() {
  std::lock_guard lock(g_mutex);
  return g_keyFile.empty() ? DefaultKeyFile() : g_keyFile;
}

int EncryptStringEX(const char* plain, char* out, int mode) {
  if (!plain || !out || mode != kMode) return Fail(out, kBadArgument);
  const std::size_t length = std::strlen(plain);
  if (length > kMaxPlainText) return Fail(out, kBadArgument);
  if (sodium_init() < 0) return Fail(out, kNoCipher);
  std::optional<Key> key = LoadKey(true);
  if (!key) return Fail(out, kNoKey);
  std::vector<unsigned char> raw(crypto_secretbox_NONCEBYTES + crypto_secretbox_MACBYTES + length);
  unsigned char* nonce = raw.data();
  randombytes_buf(nonce, crypto_secretbox_NONCEBYTES);
  crypto_secretbox_easy(raw.data() + crypto_secretbox_NONCEBYTES,
                        reinterpret_cast<const unsigned char*>(plain), length, nonce, key->data());
  sodium_memzero(key->data(), key->size());
  sodium_bin2base64(out, kEncipheredBufferSize, raw.data(), raw.size(), sodium_base64_VARIANT_ORIGINAL);
  return static_cast<int>(std::strlen(out));
}

int DecryptStringEX(const char* enciphered, char* out, int mode) {
  if (!enciphered || !out || mode != kMode) return Fail(out, kBadArgument);
  const std::size_t length = std::strlen(enciphered);
  if (length == 0) return Fail(out, 0);
  if (sodium_init() < 0) return Fail(out, kNoCipher);
  std::array<unsigned char, kRawMax> raw{};
  std::size_t rawLength = 0;
  if (sodium_base642bin(raw.data(), raw.size(), enciphered, length, nullptr, &rawLength, nullptr,
                        sodium_base64_VARIANT_ORIGINAL) != 0 ||
      rawLength < crypto_secretbox_NONCEBYTES + crypto_secretbox_MACBYTES)
    return Fail(out, kNotDeciphered);
  std::optional<Key> key = LoadKey(false);
  if (!key) return Fail(out, kNoKey);
  const std::size_t boxLength = rawLength - crypto_secretbox_NONCEBYTES;
  const std::size_t plainLength = boxLength - crypto_secretbox_MACBYTES;
  std::array<unsigned char, kMaxPlainText> plain{};
  const int opened = crypto_secretbox_open_easy(plain.data(), raw.data() + crypto_secretbox_NONCEBYTES,
                                                boxLength, raw.data(), key->data());
  sodium_memzero(key->data(), key->size());
  if (opened != 0 || std::memchr(plain.data(), '\0', plainLength)) {
    sodium_memzero(plain.data(), plain.size());
    return Fail(out, kNotDeciphered);
  }
  std::memcpy(out, plain.data(), plainLength);
  out[plainLength] = '\0';
  sodium_memzero(plain.data(), plain.size());
  return static_cast<int>(plainLength);
}

std::string Encrypt(const std::string& plain, int* result) {
  std::array<char, kEncipheredBufferSize> out{};
  const int r = plain.find('\0') == std::string::npos ? EncryptStringEX(plain.c_str(), out.data(), kMode)
                                                      : Fail(out.data(), kBadArgument);
  if (result) *result = r;
  return out.data();
}

std::string Decrypt(const std::string& enciphered, int* result) {
  std::array<char, kPlainBufferSize> out{};
  const int r = DecryptStringEX(enciphered.c_str(), out.data(), kMode);
  if (result) *result = r;
  std::string plain = out.data();
  sodium_memzero(out.data(), out.size());
  return plain;
}

}  // namespace obsidra
