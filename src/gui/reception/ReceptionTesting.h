#pragma once

// Test-only knobs of the reception controller. The shipped app never calls these; tests use
// them where real time or a real failure would make a test slow or impossible to set up.
namespace reception_testing {

// The marker time-out in ms (30000 unless changed). Returns the previous value.
unsigned SetMarkerTimeout(unsigned milliseconds);

// Makes the next start of a reader thread fail, as if the system had no thread left.
void FailNextReaderStart();

} // namespace reception_testing
