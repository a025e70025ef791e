#pragma once

#include "engine/TTransT.h"

namespace lodestrum::transfers {

// The transfer of code 2, called again for as long as it returns true: takes
// one variable, backup or end of transmission from the calculator and stores
// a variable or backup in a file of its own. True when an ordinary variable
// was dealt with (stored or its dialog cancelled) and the job goes on.
bool ReceiveVariable(engine::TTransThread& job);

} // namespace lodestrum::transfers
