#pragma once

#include "engine/TTransT.h"

namespace lodestrum::transfers {

// The transfer of code 3: takes every variable the calculator sends up to its
// EOT and only then writes them all into the group file FileName.
void ReceiveGroup(engine::TTransThread& job);

} // namespace lodestrum::transfers
