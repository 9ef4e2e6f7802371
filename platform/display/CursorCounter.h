#pragma once

namespace vb {

// `ShowCursor`: a display counter as on Windows. Each call adds 1 (show) or subtracts 1 (hide)
// and returns the new count; while the count is below zero the pointer is blank over every
// window of the program.
int ShowCursor(bool show);

// The current count, for tests and for the cover window's unload.
int CursorDisplayCount();

} // namespace vb
