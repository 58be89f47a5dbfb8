// krt verify IMAGE [--sha256 HEX]: checks an image set against what it says of itself.
//
// The set is opened as the disk layer opens a candidate (krt/image_source.h), so a split set
// whose segments do not fit together or an E01 set with a missing or damaged segment fails
// here as it is refused there. Then every byte of the disk it holds is read once and hashed
// with MD5, SHA-1 and SHA-256 (libcrypto): the digests an E01 set stores (read by libewf) are
// compared with those of its data, and a SHA-256 given with --sha256 with the data's. A read
// that fails -- a chunk whose checksum does not match, a segment that ends early -- is named
// with its sector and length.
#include <openssl/evp.h>

#include <cinttypes>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "catalog/text.h"
#include "commands.h"
#include "krt/disk.h"
#include "krt/image_source.h"
#include "session.h"

namespace {

// A running digest of one algorithm.
class Digest {
 public:
  Digest(const char* name, const EVP_MD* md) : name_(name), ctx_(EVP_MD_CTX_new()) { EVP_DigestInit_ex(ctx_, md, nullptr); }
  ~Digest() { EVP_MD_CTX_free(ctx_); }
  Digest(const Digest&) = delete;
  Digest& operator=(const Digest&) = delete;
  void update(const uint8_t* data, size_t size) { EVP_DigestUpdate(ctx_, data, size); }
  const std::string& name() const { return name_; }
  // The digest as lowercase hexadecimal digits; ends the digest.
  std::string hex() {
    unsigned char value[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_DigestFinal_ex(ctx_, value, &size);
    std::string out;
    char two[3];
    for (unsigned int i = 0; i < size; ++i) {
      std::snprintf(two, sizeof two, "%02x", value[i]);
      out += two;
    }
    return out;
  }

 private:
  std::string name_;
  EVP_MD_CTX* ctx_;
};

// Whether a text is the hexadecimal form of a SHA-256.
bool is_sha256(const std::string& text) {
  return text.size() == 64 && text.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
}

std::string lower(std::string s) {
  for (char& c : s) c = char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return s;
}

}  // namespace

int cmd_verify(const CommandArgs& a) {
  std::string expected;
  for (const auto& [option, value] : a.values) {
    if (option != "--sha256") continue;
    if (!is_sha256(value)) return usage_error("verify", "--sha256 takes 64 hexadecimal digits");
    expected = lower(value);
  }
  const std::string& path = a.words[0];
  krt::SourceOpen opened = krt::open_image_source(path);
  if (!opened.source) {
    return fail(opened.refusal.empty() ? concat({path, ": cannot be opened as an image"})
                                       : concat({path, ": FAILED: ", opened.refusal}));
  }
  krt::ImageSource& source = *opened.source;
  const uint64_t bytes = source.size();
  std::printf("%s: %s, %d segment%s, %" PRIu64 " bytes\n", path.c_str(), source.format().c_str(), source.segments(),
              source.segments() == 1 ? "" : "s", bytes);
  if (source.format() == "split raw") std::printf("segments: consistent (each before the last as long as the first)\n");

  Digest md5("MD5", EVP_md5()), sha1("SHA1", EVP_sha1()), sha256("SHA256", EVP_sha256());
  constexpr size_t kBlock = 1 << 20;
  const std::unique_ptr<uint8_t[]> block(new uint8_t[kBlock]);
  uint64_t failed_reads = 0;
  for (uint64_t at = 0; at < bytes;) {
    const size_t n = size_t(std::min<uint64_t>(kBlock, bytes - at));
    if (!source.read(block.get(), n, at)) {
      ++failed_reads;
      std::printf("read error: %zu bytes at sector %" PRIu64 " (byte %" PRIu64 ") cannot be read as stored\n", n,
                  at / krt::kSectorBytes, at);
    } else {
      md5.update(block.get(), n);
      sha1.update(block.get(), n);
      sha256.update(block.get(), n);
    }
    at += n;
  }

  bool good = failed_reads == 0;
  const std::string computed_sha256 = sha256.hex();
  std::vector<std::pair<std::string, std::string>> computed = {{"MD5", md5.hex()}, {"SHA1", sha1.hex()}};
  const auto stored = source.stored_digests();
  for (const auto& [name, value] : stored) {
    for (const auto& [algorithm, digest] : computed) {
      if (algorithm != name) continue;
      const bool match = digest == value && failed_reads == 0;
      good = good && match;
      std::printf("%s: stored %s, data %s: %s\n", name.c_str(), value.c_str(),
                  failed_reads ? "(not all read)" : digest.c_str(), match ? "matches" : "DIFFERS");
    }
  }
  if (source.format() == "E01" && stored.empty()) std::printf("the set stores no MD5 or SHA-1 of its data\n");
  std::printf("SHA256: %s", failed_reads ? "(not all read)" : computed_sha256.c_str());
  if (!expected.empty()) {
    const bool match = expected == computed_sha256 && failed_reads == 0;
    good = good && match;
    std::printf(", given %s: %s", expected.c_str(), match ? "matches" : "DIFFERS");
  }
  std::printf("\n%s\n", good ? "verified" : "FAILED");
  return good ? kExitOk : kExitFailed;
}
