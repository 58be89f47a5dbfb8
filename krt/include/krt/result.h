// Result codes of the KRT file-system library.
//
// Every library function that can fail returns an int: 0 is success, any other value says
// what went wrong. Results travel through out arguments. The codes are shared by the disk
// layer, the cluster index and directory accessors and the file layer.
#pragma once

namespace krt {

constexpr int FS_OK = 0;               // success
constexpr int FS_NO_HANDLE = 1;        // no free file handle, or no driver to attach it to
constexpr int FS_OUT_OF_RANGE = 2;     // requested position lies beyond the end of the file
constexpr int FS_READ_FAIL = 3;        // a sector read failed, or a cluster search found nothing
constexpr int FS_IO_ERROR = 4;         // the sector cache gave no buffer for a sector
constexpr int FS_BAD_CLUSTER = 5;      // cluster number beyond the partition's last cluster
constexpr int FS_NO_EXIST_FILE = 6;    // handle not positioned, file not found, not a first cluster
constexpr int FS_NO_USER_DATA = 10;    // the file carries no user data
constexpr int FS_INVALID_HANDLE = 11;  // handle check failed, or wrong handle state
constexpr int FS_NO_INDEX = 13;        // the partition has no cluster index

// A short text for a result code, for messages a user reads; "unknown result" for others.
constexpr const char* result_text(int r) {
  switch (r) {
    case FS_OK: return "success";
    case FS_NO_HANDLE: return "no free file handle";
    case FS_OUT_OF_RANGE: return "position beyond the end of the file";
    case FS_READ_FAIL: return "a read failed or the recording's clusters end early";
    case FS_IO_ERROR: return "a sector could not be read";
    case FS_BAD_CLUSTER: return "cluster outside the partition";
    case FS_NO_EXIST_FILE: return "no recording starts there";
    case FS_NO_USER_DATA: return "no user data";
    case FS_INVALID_HANDLE: return "invalid file handle";
    case FS_NO_INDEX: return "the partition has no cluster index";
    default: return "unknown result";
  }
}

}  // namespace krt
