#include "transfers/Transfers.h"

namespace lodestrum::transfers {

const engine::TransferSet& DefaultTransfers() {
    static const engine::TransferSet set{};
    return set;
}

} // namespace lodestrum::transfers
