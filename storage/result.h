#pragma once

// Storage calls report with the workstation's general result types.

#include "base/result.h"

namespace storage {
using base::Result;
using base::Status;
} // namespace storage
