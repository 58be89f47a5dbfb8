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

}  // namespace krt
