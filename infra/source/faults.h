// Fault injection for the library's tests: makes the next thread creations fail as if the
// system had refused them, so the failure paths can be run on demand.
#pragma once

namespace infra::faults {

// The next count thread creations of CThread::Start fail.
void FailThreadCreations(int count);
// Consumes one pending failure; true when this creation is to fail.
bool TakeThreadCreationFailure();

}  // namespace infra::faults
