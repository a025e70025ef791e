#include "transfers/Transfers.h"

#include "protocol/Packets.h"
#include "transfers/CaptureScreen.h"
#include "transfers/ReceiveGroup.h"
#include "transfers/ReceiveVariable.h"
#include "transfers/SendFile.h"

namespace lodestrum::transfers {

const engine::TransferSet& DefaultTransfers() {
    static const engine::TransferSet set = [] {
        engine::TransferSet t;
        t.SendFile = &SendFile;
        t.ReceiveVariable = &ReceiveVariable;
        t.ReceiveGroup = &ReceiveGroup;
        t.CaptureScreen = &CaptureScreen;
        t.SendEot = &protocol::SendEot;
        return t;
    }();
    return set;
}

} // namespace lodestrum::transfers
