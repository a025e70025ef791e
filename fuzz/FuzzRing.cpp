// The emulator shares two rings with us and may write any index, any byte,
// at any moment. Every index it leaves there must stay inside the ring, on
// the plain ring operations, on the emulator's RingLink and on VirtualLink.
#include "FuzzSupport.h"

#include "engine/VirtualLink.h"
#include "platform/GlobalAtoms.h"
#include "platform/RingLink.h"
#include "platform/SharedRing.h"

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>

using namespace lodestrum;

namespace {

// Reads the script: every step is an opcode byte and its operands.
class Script {
  public:
    Script(const uint8_t* data, size_t size) : Data(data), Size(size) {}
    bool Done() const { return Position >= Size; }
    uint8_t Byte() { return Position < Size ? Data[Position++] : 0; }
    uint32_t Word() {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v |= uint32_t{Byte()} << (8 * i);
        return v;
    }

  private:
    const uint8_t* Data;
    size_t Size;
    size_t Position = 0;
};

// What the other side may do to a ring it shares with us.
bool Hostile(Script& s, uint8_t op, platform::RingBuffer& ring) {
    switch (op) {
    case 0:
        ring.ReadIndex = s.Word();
        return true;
    case 1:
        ring.WriteIndex = s.Word();
        return true;
    case 2:
        ring.Data[s.Byte()] = s.Byte();
        return true;
    default:
        return false;
    }
}

void Check(bool ok) {
    if (!ok) std::abort();
}

// The four operations on a heap ring, so a stray index is an ASan report.
void PlainRing(Script& s) {
    auto ring = std::make_unique<platform::RingBuffer>();
    *ring = {};
    while (!s.Done()) {
        const uint8_t op = s.Byte() % 8;
        if (Hostile(s, op, *ring)) continue;
        switch (op) {
        case 3:
            (void)platform::RingHasData(*ring);
            break;
        case 4: {
            const bool had = platform::RingHasData(*ring);
            const uint32_t read = ring->ReadIndex & 0xFF;
            const uint8_t expected = ring->Data[read];
            const uint8_t got = platform::RingGetByte(*ring);
            Check(!had || (got == expected && ring->ReadIndex < 256));
            break;
        }
        case 5:
            (void)platform::RingHasRoom(*ring);
            break;
        default: {
            const bool room = platform::RingHasRoom(*ring);
            Check(platform::RingPutByte(*ring, s.Byte()) == room);
            Check(!room || ring->WriteIndex < 256);
            break;
        }
        }
    }
}

std::string Unique(const char* what) {
    return std::string("lodestrum-fuzz ") + what + " " + std::to_string(::getpid());
}

// The emulator's end: our ring is Own, the program's ring is Peer; the
// script plays the program, who may scribble on both.
void EmulatorEnd(Script& s) {
    static std::shared_ptr<platform::SharedRing> own, peer;
    if (!own) {
        std::string error;
        platform::SharedRing::Failure failure;
        own = platform::SharedRing::Create(Unique("own"), failure, error);
        peer = platform::SharedRing::Create(Unique("peer"), failure, error);
        if (!own || !peer) std::abort();
    }
    own->Ring() = {};
    peer->Ring() = {};
    platform::RingLink link(own);
    link.AttachPeer(peer);
    while (!s.Done()) {
        const uint8_t op = s.Byte() % 9;
        if (op < 3) {
            Hostile(s, op, peer->Ring());
            continue;
        }
        switch (op) {
        case 3:
            own->Ring().ReadIndex = s.Word();
            break;
        case 4:
            if (link.GetByte(std::chrono::milliseconds(0))) Check(peer->Ring().ReadIndex < 256);
            break;
        case 5:
            if (link.PutByte(s.Byte(), std::chrono::milliseconds(0)))
                Check(own->Ring().WriteIndex < 256);
            break;
        case 6:
            link.SetEnabled(s.Byte() & 1);
            break;
        case 7:
            link.AttachPeer(s.Byte() & 1 ? peer : nullptr);
            break;
        default:
            own->Ring().WriteIndex = s.Word();
            break;
        }
    }
    link.AttachPeer(nullptr);
}

// The program's end: VirtualLink with its own ring and the emulator's ring
// attached through SendBuffer, as the emulator announces it.
void ProgramEnd(Script& s) {
    static std::unique_ptr<engine::VirtualLink> link;
    static std::unique_ptr<platform::SharedRing> emulator, ownView;
    if (!link) {
        engine::VirtualLinkOptions options;
        options.RingPrefix = Unique("program") + " ";
        options.WindowName = "TTranDlg-fuzz" + std::to_string(::getpid());
        options.EndpointFolder = fuzz::WorkFolder();
        options.MutexFolder = fuzz::WorkFolder();
        options.SendTimeout = std::chrono::milliseconds(50);
        link = std::make_unique<engine::VirtualLink>(options);
        std::string error;
        platform::SharedRing::Failure failure;
        emulator = platform::SharedRing::Create(Unique("emulator"), failure, error);
        if (!link->Start(error) || !emulator) std::abort();
        ownView = platform::SharedRing::Open(link->OwnRingName(), error);
        if (!ownView) std::abort();
    }
    ownView->Ring() = {};
    emulator->Ring() = {};
    platform::ScopedAtom atom(emulator->Name());
    platform::Message announce;
    announce.Number = platform::LinkMessage::SendBuffer;
    announce.LParam = atom.Atom();
    link->Dispatch(announce);
    Check(link->HasPeerRing());
    while (!s.Done()) {
        const uint8_t op = s.Byte() % 8;
        if (op < 3) {
            Hostile(s, op, emulator->Ring());
            continue;
        }
        switch (op) {
        case 3:
            ownView->Ring().ReadIndex = s.Word();
            break;
        case 4:
            ownView->Ring().WriteIndex = s.Word();
            break;
        case 5:
            if (link->RingHasData()) {
                (void)link->RingGetByte();
                Check(emulator->Ring().ReadIndex < 256);
            }
            break;
        case 6:
            if (link->RingHasRoom()) {
                Check(link->RingPutByte(s.Byte()));
                Check(ownView->Ring().WriteIndex < 256);
            }
            break;
        default:
            (void)link->RingGetByte();
            break;
        }
    }
    link->ReleasePeerRing();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    Script s(data + 1, size - 1);
    switch (data[0] % 3) {
    case 0:
        PlainRing(s);
        break;
    case 1:
        EmulatorEnd(s);
        break;
    default:
        ProgramEnd(s);
        break;
    }
    return 0;
}
