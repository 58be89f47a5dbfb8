// Time sections: the runs of clusters of a partition inside which recording times rise.
//
// A recorder writes clusters in ascending order; when its clock is set back it records a
// collision, the cluster where times start again from an earlier value. The sections follow
// the clusters of the partition in order, with C = coll_count and n = cur_section:
//
//   section 0 .......... from rev_clus (time start_time1) up to the first collision
//   section k .......... from collision k-1 up to the next collision
//   section n .......... holds the write position current_cluster, and ends there
//   section n + 1 ...... the rest of the older lap from current_cluster + 1, when the write
//                        position lies before a collision (the older lap's own run)
//   section C + 1 ...... ends with the older lap at end_cluster2 (zero without an older lap)
//
// A section is valid when start cluster <= end cluster and start time <= end time; a section
// not in use is all zero (its owner is kept). Times come from the directory items of the end
// clusters (get_dir_item_time1) and the start clusters (get_dir_item_time); a time that cannot
// be read stays 0.
//
// Every function takes library_lock().
#pragma once

#include "krt/driver.h"

namespace krt {

// Rebuilds all kSectionsPerDriver sections of a mounted driver from its collision copy and lap
// fields and sets cur_section (0 when nothing is recorded). Collisions past the 128th are
// never read. Returns nothing.
void build_sections(DriverParam& pdp);

// Ends section cur_section at current_cluster with that cluster's end time and, when the
// following section is in use (non-zero end cluster), starts it at current_cluster + 1 with
// that cluster's start time. Does nothing when current_cluster is 0 or cur_section lies past
// the last section. Returns nothing.
void refresh_current_section(DriverParam& pdp);

// Brings a work driver's live state up to date before its sections are used: re-reads
// start_time2 from the directory item of start_cluster2 (when that is non-zero and readable),
// then refresh_current_section. Returns nothing.
void refresh_live_state(DriverParam& pdp);

// Whether a section is valid: start cluster <= end cluster and start time <= end time.
bool section_valid(const TimeSection& s);

}  // namespace krt
