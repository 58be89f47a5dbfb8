// SHA-256 of a byte stream (libsodium), written as sha256sum writes it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include <sodium.h>

class Sha256 {
 public:
  // Starts an empty digest.
  Sha256();

  // Adds size bytes.
  void update(const uint8_t* data, size_t size);

  // Ends the digest. Returns it as 64 lowercase hexadecimal digits. Call once.
  std::string hex();

 private:
  crypto_hash_sha256_state state_;  // libsodium's running state
};
