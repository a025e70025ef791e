#pragma once

#include "engine/TTransT.h"

namespace lodestrum::transfers {

// The transfers every front end hands its jobs: sending, receiving, capture
// and the end-of-transmission exchange.
const engine::TransferSet& DefaultTransfers();

} // namespace lodestrum::transfers
