#include "transfers/Transfers.h"

#include "protocol/Packets.h"
#include "transfers/SendFile.h"

namespace lodestrum::transfers {

const engine::TransferSet& DefaultTransfers() {
    static const engine::TransferSet set = [] {
        engine::TransferSet t;
        t.SendFile = &SendFile;
        t.SendEot = &protocol::SendEot;
        return t;
    }();
    return set;
}

} // namespace lodestrum::transfers
