#include "catalog/sha256.h"

#include <openssl/evp.h>

#include <cstdio>
#include <fstream>
#include <vector>

Sha256::Sha256() : ctx_(EVP_MD_CTX_new()) { EVP_DigestInit_ex(ctx_, EVP_sha256(), nullptr); }

Sha256::~Sha256() { EVP_MD_CTX_free(ctx_); }

void Sha256::update(const uint8_t* data, size_t size) { EVP_DigestUpdate(ctx_, data, size); }

std::string Sha256::hex() {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  EVP_DigestFinal_ex(ctx_, digest, &size);
  EVP_DigestInit_ex(ctx_, EVP_sha256(), nullptr);
  std::string text;
  for (unsigned int i = 0; i < size; ++i) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02x", digest[i]);
    text += pair;
  }
  return text;
}

HashPipeline::HashPipeline(size_t block_bytes, size_t blocks) {
  for (size_t i = 0; i < blocks; ++i) {
    storage_.emplace_back(new uint8_t[block_bytes]);
    free_.push_back(storage_.back().get());
  }
  thread_ = std::thread(&HashPipeline::run, this);
}

HashPipeline::~HashPipeline() {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

uint8_t* HashPipeline::take() {
  std::unique_lock<std::mutex> hold(mutex_);
  changed_.wait(hold, [this] { return !free_.empty(); });
  uint8_t* block = free_.back();
  free_.pop_back();
  return block;
}

void HashPipeline::give_back(uint8_t* block) {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    free_.push_back(block);
  }
  changed_.notify_all();
}

void HashPipeline::submit(uint8_t* block, size_t size) {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    pending_.emplace_back(block, size);
  }
  changed_.notify_all();
}

std::string HashPipeline::digest() {
  std::unique_lock<std::mutex> hold(mutex_);
  changed_.wait(hold, [this] { return pending_.empty() && !hashing_; });
  return sha_.hex();  // the thread is idle until the next submit, which needs this lock
}

void HashPipeline::run() {
  std::unique_lock<std::mutex> hold(mutex_);
  for (;;) {
    changed_.wait(hold, [this] { return stop_ || !pending_.empty(); });
    if (pending_.empty()) return;  // stopping, nothing left
    const auto [block, size] = pending_.front();
    pending_.pop_front();
    hashing_ = true;
    hold.unlock();
    sha_.update(block, size);
    hold.lock();
    hashing_ = false;
    free_.push_back(block);
    changed_.notify_all();
  }
}

bool sha256_file(const std::string& path, std::string& hex, uint64_t& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  Sha256 sha;
  std::vector<char> block(1 << 20);
  bytes = 0;
  while (in) {
    in.read(block.data(), std::streamsize(block.size()));
    const auto n = size_t(in.gcount());
    sha.update(reinterpret_cast<const uint8_t*>(block.data()), n);
    bytes += n;
  }
  hex = sha.hex();
  return in.eof();
}
