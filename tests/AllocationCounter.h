#pragma once

namespace vbtest {

// How many times operator new has run in this process. The program linking AllocationCounter.cpp
// replaces the global operator new and delete to count; a test or benchmark compares two
// readings to show that a piece of code allocates nothing.
long AllocationCount();

} // namespace vbtest
