#pragma once

namespace lodestrum::drivers {

// Registers "dev", "raw" and "sim" with the driver registry. Front ends call
// it once before they pick a driver by name.
void RegisterBuiltinDrivers();

} // namespace lodestrum::drivers
