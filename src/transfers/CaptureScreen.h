#pragma once

#include "engine/JobHost.h"
#include "engine/TTransT.h"

#include <cstdint>
#include <span>

namespace lodestrum::transfers {

// The transfer of code 4: asks the calculator for its display and hands the
// one-bit picture to the window. A stopped capture hands nothing over.
void CaptureScreen(engine::TTransThread& job);

struct ScreenSize {
    int Bytes;  // display bytes the calculator sends
    int Width;  // of the image
    int Height;
};

// The display of a CalcType; clipped to 160 x 100 for 8 and above when asked.
ScreenSize ScreenSizeOf(uint8_t calcType, bool clip);

// The image of the display bytes as WorkBuffer holds them (already
// complemented): rows of Width / 8 bytes.
engine::MonoImage ScreenImage(std::span<const uint8_t> display, const ScreenSize& size);

} // namespace lodestrum::transfers
