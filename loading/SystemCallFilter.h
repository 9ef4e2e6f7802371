#pragma once

#include "platform/runtime/RuntimeError.h"

namespace vb::sandbox {

// The error EnterSandbox throws when a step of it fails.
RuntimeError SandboxError(const char* what, int err);

// The seccomp filter of the loading helper, on every thread of the process, for good.
void InstallSystemCallFilter();

} // namespace vb::sandbox
