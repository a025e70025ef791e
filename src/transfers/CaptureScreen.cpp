#include "transfers/CaptureScreen.h"

#include "protocol/Packets.h"
#include "transfers/Messages.h"

#include <algorithm>
#include <new>

namespace lodestrum::transfers {

using engine::MonoImage;
using engine::TTransThread;

namespace {

constexpr std::size_t DisplayOffset = 10000;
constexpr int Ti89RowBytes = 30;
constexpr int Ti89Bytes = 3840;

uint8_t& DisplayByte(TTransThread& job, int index) {
    return job.WorkBuffer[DisplayOffset + static_cast<std::size_t>(index)];
}

// Clipped: the first 20 bytes of each of the first 100 rows are kept, the
// rest of the display is read and dropped.
bool ReceiveClipped(TTransThread& job) {
    for (int row = 0; row < 100; ++row) {
        for (int column = 0; column < 20; ++column) {
            DisplayByte(job, 20 * row + column) = static_cast<uint8_t>(~job.ReceiveByte());
            job.SetProgress((Ti89RowBytes * row + column) * 100 / Ti89Bytes);
            if (job.Terminated()) return false;
        }
        job.ReceiveBlock(job.PacketBuffer.data(), Ti89RowBytes - 20);
    }
    for (int j = 0; j < Ti89Bytes - 3000; ++j) {
        job.ReceiveByte();
        job.SetProgress((j + 3000) * 100 / Ti89Bytes);
        if (job.Terminated()) return false;
    }
    return true;
}

bool ReceiveWhole(TTransThread& job, int count) {
    for (int j = 0; j < count; ++j) {
        DisplayByte(job, j) = static_cast<uint8_t>(~job.ReceiveByte());
        job.SetProgress((j + 1) * 100 / (count + 4));
        if (job.Terminated()) return false;
    }
    return true;
}

} // namespace

ScreenSize ScreenSizeOf(uint8_t calcType, bool clip) {
    if (calcType <= 3) return {768, 96, 64};
    if (calcType <= 7) return {1024, 128, 64};
    if (clip) return {Ti89Bytes, 160, 100};
    return {Ti89Bytes, 240, 128};
}

MonoImage ScreenImage(std::span<const uint8_t> display, const ScreenSize& size) {
    MonoImage image;
    image.Width = size.Width;
    image.Height = size.Height;
    const std::size_t rowBytes = static_cast<std::size_t>(size.Width / 8);
    const std::size_t total = rowBytes * static_cast<std::size_t>(size.Height);
    image.Bits.assign(display.begin(), display.begin() + static_cast<std::ptrdiff_t>(std::min(total, display.size())));
    image.Bits.resize(total, 0xFF);
    return image;
}

void CaptureScreen(TTransThread& job) {
    MonoImage image;
    try {
        image.Bits.reserve(Ti89Bytes);
    } catch (const std::bad_alloc&) {
        job.StatusText = text::UnableToAllocate;
        job.ShowStatus();
        return;
    }
    job.StatusText = text::GettingScreenShot;
    job.ShowStatus();

    protocol::SendShort(job, protocol::CmdScr);
    job.Pause(25);
    // The calculator's ACK, then the header of its data packet.
    job.ReceiveBlock(job.PacketBuffer.data(), 8);
    if (job.Terminated()) return;
    protocol::ApplyMachineId(job, job.PacketBuffer[0], true);
    job.ShowCalcType();

    const uint8_t calcType = job.CalcType.load();
    const bool clip = job.TI89ClipScreen && calcType >= 8;
    const ScreenSize size = ScreenSizeOf(calcType, clip);
    const bool complete = clip ? ReceiveClipped(job) : ReceiveWhole(job, size.Bytes);
    if (!complete) return;

    const std::span<const uint8_t> display(job.WorkBuffer.data() + DisplayOffset,
                                           static_cast<std::size_t>(size.Bytes));
    image = ScreenImage(display, size);
    job.HandScreenImage(image);
    image = {};
    job.Progress = 0;
    job.ShowProgress();
}

} // namespace lodestrum::transfers
