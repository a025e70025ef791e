#pragma once

#include "engine/TTransT.h"

#include <span>
#include <string>

namespace lodestrum::transfers {

// The transfer of codes 1 and 5: loads FileName, recognises it and sends it
// by the route its contents call for.
void SendFile(engine::TTransThread& job);

// What the common front hands a route.
struct SendContext {
    std::span<const uint8_t> Image; // the file as read, exactly its size
    std::string BaseName;           // the file's name without its folder
    bool IsTib = false;
    bool IsAms = false;
};

// Each returns true when it ran to its end, false when it ended early
// (stopped, refused, declined, or the file was found damaged).
bool SendTi8xRoute(engine::TTransThread& job, const SendContext& context);
bool SendTi89Route(engine::TTransThread& job, const SendContext& context);
bool SendFlashRoute(engine::TTransThread& job, SendContext& context);

} // namespace lodestrum::transfers
