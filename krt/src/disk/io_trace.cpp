// The I/O trace, the disk models and the slow-disk mode.
#include "krt/io_trace.h"

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <thread>

#include "krt/lock.h"

namespace krt {
namespace {

// All protected by library_lock().
std::FILE* g_trace = nullptr;
std::string g_trace_path;
const DiskModel* g_emulation = nullptr;
std::optional<DiskModelClock> g_emulation_clock;

}  // namespace

const DiskModel* disk_model_named(std::string_view name) {
  if (name == kSpinningDiskModel.name) return &kSpinningDiskModel;
  if (name == kUsbSsdModel.name) return &kUsbSsdModel;
  return nullptr;
}

double DiskModelClock::read(int disk, uint64_t sector, uint64_t count) {
  const size_t d = disk >= 0 && disk < kMaxDisks ? size_t(disk) : 0;
  const bool continues = seen_[d] && next_[d] == sector;
  seen_[d] = true;
  next_[d] = sector + count;
  const double bytes = double(count) * kSectorBytes;
  const double cost = (continues ? 0.0 : model_.seek_ms) + bytes / model_.bytes_per_ms;
  ++calls_;
  bytes_ += count * kSectorBytes;
  places_ += continues ? 0 : 1;
  ms_ += cost;
  return cost;
}

bool set_io_trace(const std::string& path) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  if (g_trace) std::fclose(g_trace);
  g_trace = nullptr;
  g_trace_path.clear();
  if (path.empty()) return true;
  g_trace = std::fopen(path.c_str(), "w");
  if (!g_trace) return false;
  g_trace_path = path;
  std::fprintf(g_trace, "# reads of the disk layer: read DISK FIRST_SECTOR SECTORS WALL_US\n");
  std::fflush(g_trace);
  return true;
}

void set_disk_emulation(const DiskModel* model) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  g_emulation = model;
  g_emulation_clock.reset();
  if (model) g_emulation_clock.emplace(*model);
}

const DiskModel* disk_emulation() {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  return g_emulation;
}

std::string io_settings_from_environment() {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  std::string problems;
  if (const char* model = std::getenv("KRT_EMULATE_DISK"); model && *model) {
    if (const DiskModel* m = disk_model_named(model)) {
      if (g_emulation != m) set_disk_emulation(m);
    } else {
      problems = std::string("KRT_EMULATE_DISK=") + model + " is none of hdd, ssd";
    }
  }
  if (const char* path = std::getenv("VENDREL_IO_TRACE"); path && *path && !g_trace) {
    if (!set_io_trace(path)) {
      if (!problems.empty()) problems += "; ";
      problems += std::string("the trace file ") + path + " cannot be created";
    }
  }
  return problems;
}

void io_note_read(int disk, uint64_t sector, uint64_t count, uint64_t wall_us) {
  std::lock_guard<std::recursive_mutex> hold(library_lock());
  if (g_emulation_clock) {
    const double due_us = g_emulation_clock->read(disk, sector, count) * 1000.0;
    if (due_us > double(wall_us)) {
      std::this_thread::sleep_for(std::chrono::microseconds(uint64_t(due_us) - wall_us));
    }
  }
  if (g_trace) {
    std::fprintf(g_trace, "read %d %" PRIu64 " %" PRIu64 " %" PRIu64 "\n", disk, sector, count, wall_us);
    std::fflush(g_trace);
  }
}

}  // namespace krt
