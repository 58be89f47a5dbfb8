// Recording data of built images: the self-describing pattern, stream files, "DHII" headers.
#include <sys/stat.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <map>

#include "krt/endian.h"
#include "plan.h"

namespace krt_testing {
namespace {

constexpr uint32_t kRecordBytes = 16;
constexpr uint8_t kRecordMark = 0x5A;
constexpr char kHeaderTag[4] = {'D', 'H', 'I', 'I'};

uint32_t mix(uint32_t cluster, uint32_t sector, uint32_t place) {
  uint32_t h = cluster * 0x9E3779B1u ^ (sector + 0x7F4A7C15u) * 0x85EBCA77u ^ place * 0xC2B2AE3Du;
  h ^= h >> 15;
  h *= 0x2C1B3C6Du;
  return h ^ (h >> 13);
}

}  // namespace

void pattern_sector(uint8_t* out, uint8_t disk, int part, uint32_t cluster, uint32_t sector) {
  for (uint32_t r = 0; r < kSectorBytes / kRecordBytes; ++r) {
    uint8_t* rec = out + r * kRecordBytes;
    krt::st32(rec, cluster);
    krt::st32(rec + 4, sector);
    rec[8] = disk;
    rec[9] = uint8_t(part);
    rec[10] = uint8_t(r);
    rec[11] = kRecordMark;
    krt::st32(rec + 12, mix(cluster, sector, uint32_t(disk) << 16 | uint32_t(part & 0xFF) << 8 | r));
  }
}

namespace detail {

bool read_stream(const std::string& path, std::vector<uint8_t>& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

const std::vector<uint8_t>& payload_source(const Payload& payload, std::map<std::string, std::vector<uint8_t>>& streams) {
  static const std::vector<uint8_t> kNothing;
  if (payload.kind == Payload::Kind::kBytes) return payload.bytes ? *payload.bytes : kNothing;
  if (payload.kind != Payload::Kind::kStream) return kNothing;
  auto [it, added] = streams.try_emplace(payload.stream_path);
  if (added) read_stream(payload.stream_path, it->second);
  return it->second;
}

void fill_file_sectors(const FilePlacement& f, const std::vector<uint8_t>& stream, uint32_t first,
                       uint32_t count, uint8_t* out) {
  const uint32_t P = f.sector_per_clus;
  std::memset(out, 0, size_t(count) * kSectorBytes);
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t s = first + i;
    uint8_t* sector = out + size_t(i) * kSectorBytes;
    if (f.payload.kind == Payload::Kind::kPattern) {
      pattern_sector(sector, f.disk, f.slot, f.clusters[s / P], s % P);
    } else if ((f.payload.kind == Payload::Kind::kStream || f.payload.kind == Payload::Kind::kBytes) &&
               s >= f.header_sectors) {
      const uint64_t at = uint64_t(s - f.header_sectors) * kSectorBytes;
      if (at < stream.size())
        std::memcpy(sector, stream.data() + at, std::min<uint64_t>(kSectorBytes, stream.size() - at));
    }
    if (s == 0 && f.header_sectors > 0) {
      std::memcpy(sector, kHeaderTag, sizeof kHeaderTag);
      krt::st32(sector + 4, f.header_sectors * kSectorBytes);
    }
  }
}

}  // namespace detail

std::vector<uint8_t> expected_bytes(const FilePlacement& file) {
  std::map<std::string, std::vector<uint8_t>> streams;
  const std::vector<uint8_t>& stream = detail::payload_source(file.payload, streams);
  if (file.payload.kind == Payload::Kind::kStream && stream.empty()) return {};
  std::vector<uint8_t> bytes(size_t(file.data_sectors) * kSectorBytes);
  if (file.payload.kind == Payload::Kind::kNone) {
    detail::fill_file_sectors(file, stream, 0, file.header_sectors, bytes.data());
  } else {
    detail::fill_file_sectors(file, stream, 0, file.data_sectors, bytes.data());
  }
  return bytes;
}

bool fit_to_stream(File& f, const std::string& stream_path, uint32_t sector_per_clus) {
  struct stat st;
  if (sector_per_clus == 0 || ::stat(stream_path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0)
    return false;
  const uint64_t sectors = f.header_sectors + (uint64_t(st.st_size) + kSectorBytes - 1) / kSectorBytes;
  f.clusters = uint32_t((sectors + sector_per_clus - 1) / sector_per_clus);
  f.end_length = uint16_t(sectors - uint64_t(f.clusters - 1) * sector_per_clus);
  f.payload = Payload{Payload::Kind::kStream, stream_path, {}};
  return true;
}

}  // namespace krt_testing
