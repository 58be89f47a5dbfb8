#include "sha256.h"

Sha256::Sha256() { crypto_hash_sha256_init(&state_); }

void Sha256::update(const uint8_t* data, size_t size) { crypto_hash_sha256_update(&state_, data, size); }

std::string Sha256::hex() {
  unsigned char digest[crypto_hash_sha256_BYTES];
  crypto_hash_sha256_final(&state_, digest);
  char text[2 * crypto_hash_sha256_BYTES + 1];
  sodium_bin2hex(text, sizeof text, digest, sizeof digest);
  return text;
}
