// A small in-memory operation table for the tests: it logs every slot call, serves files from
// a map with an optional hidden header (as the recorder adapter hides one), lists a fixed set
// of names for any pattern, and fails on demand.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "vfs/filetable.h"

namespace fake {

struct State {
  std::map<std::string, std::string> files;  // path -> raw content, hidden header included
  size_t header = 0;                         // bytes hidden at the start of every file
  size_t read_limit = SIZE_MAX;              // most bytes one read slot call delivers
  int result = 0;            // returned by close, flush, path slots, find close, disk space
  bool fail_seek = false;    // seek slot returns -1
  bool fail_tell = false;    // tell slot returns -1
  std::vector<std::string> listing;  // names every find yields, in order; empty = no match
  std::vector<std::string> calls;    // one line per slot call: "slot arguments"
};

// The state behind kOps; Reset() before each test.
State& S();
void Reset();

// The fake table.
extern const FileOps kOps;

// kOps with an access slot that returns tag: FindFileOps(path)->access tells which table
// answers a path (see Owner).
FileOps Tagged(int tag);

// Tag of the table answering path: 0 for the default operations, else its access result.
int Owner(const char* path);

// Frees every entry of prefix when it goes out of scope.
class Unregister {
 public:
  explicit Unregister(std::string prefix) : prefix_(std::move(prefix)) {}
  ~Unregister();
  Unregister(const Unregister&) = delete;
  Unregister& operator=(const Unregister&) = delete;

 protected:
  std::string prefix_;
};

// Registers ops under prefix for one test (expecting success); frees it afterwards.
class Registration : public Unregister {
 public:
  explicit Registration(std::string prefix, const FileOps& ops = kOps);
};

// Test fixture: fresh fake state.
class Test : public testing::Test {
 protected:
  void SetUp() override { Reset(); }
};

}  // namespace fake
