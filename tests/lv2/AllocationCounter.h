// Counts the heap calls a thread makes between Start and Stop: malloc,
// calloc, realloc, free, the aligned allocators and every operator new and
// delete of the process come through here while this executable runs.
#pragma once

#include <cstdint>

namespace allocation_counter {

void Start();    // counts this thread's heap calls from now
int64_t Stop();  // stops counting; answers the calls counted since Start

}  // namespace allocation_counter
