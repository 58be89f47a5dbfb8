// SHA-256 of byte streams, written as sha256sum writes it.
//
// The digest comes from OpenSSL's libcrypto, which uses the processor's SHA instructions where
// it has them: hashing then keeps up with copying from the page cache (several times faster
// than a portable implementation), which an export needs to run about as fast as a plain copy.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

struct evp_md_ctx_st;

// One running digest.
class Sha256 {
 public:
  // Starts an empty digest.
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  // Adds size bytes.
  void update(const uint8_t* data, size_t size);

  // Ends the digest and starts a new, empty one. Returns the digest as 64 lowercase
  // hexadecimal digits.
  std::string hex();

 private:
  evp_md_ctx_st* ctx_;  // libcrypto's running state
};

// The SHA-256 of the local file at path (hex, as sha256sum writes it) and its size in bytes.
// Returns false when the file cannot be opened or read to its end (hex and bytes are then
// unspecified).
bool sha256_file(const std::string& path, std::string& hex, uint64_t& bytes);

// Hashes a stream of blocks on a thread of its own, so that hashing one block overlaps with
// reading and writing the next. The caller takes a free block, fills it and submits it; the
// thread hashes submitted blocks in the order given and frees them again. All functions are
// called from one thread (the caller's); the hashing thread is internal.
class HashPipeline {
 public:
  // blocks free blocks of block_bytes each; the thread starts.
  HashPipeline(size_t block_bytes, size_t blocks);
  // Stops the thread once it has hashed what was submitted.
  ~HashPipeline();
  HashPipeline(const HashPipeline&) = delete;
  HashPipeline& operator=(const HashPipeline&) = delete;

  // A free block (block_bytes long); waits while every block is submitted and not yet hashed.
  uint8_t* take();

  // Returns a taken block unhashed.
  void give_back(uint8_t* block);

  // Hashes the first size bytes of a taken block next; the block is freed afterwards.
  void submit(uint8_t* block, size_t size);

  // Waits until everything submitted is hashed. Returns the hex SHA-256 of all bytes
  // submitted since the last digest() (or since the start), and starts a new stream.
  std::string digest();

 private:
  void run();  // the hashing thread

  std::vector<std::unique_ptr<uint8_t[]>> storage_;       // the blocks
  Sha256 sha_;                                            // hashing thread only, or when idle
  std::mutex mutex_;                                      // guards the fields below
  std::condition_variable changed_;                       // any of them changed
  std::vector<uint8_t*> free_;                            // protected by mutex_
  std::deque<std::pair<uint8_t*, size_t>> pending_;       // protected by mutex_
  bool hashing_ = false;                                  // protected by mutex_
  bool stop_ = false;                                     // protected by mutex_
  std::thread thread_;                                    // started last
};
