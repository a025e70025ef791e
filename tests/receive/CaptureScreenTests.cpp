#include "ReceiveRig.h"

#include "platform/SimCable.h"
#include "transfers/CaptureScreen.h"

using namespace lodestrum;
using namespace lodestrum::testkit;
using namespace std::chrono_literals;
using vcalc::Model;

namespace {

// The image a display gives: each byte complemented, clipped rows cut to 20 bytes.
std::vector<uint8_t> Expected(const std::vector<uint8_t>& display, int rowBytes, int keep, int rows) {
    std::vector<uint8_t> bits;
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < keep; ++x) bits.push_back(static_cast<uint8_t>(~display[y * rowBytes + x]));
    return bits;
}

// The last value shown before the progress was cleared.
int LastShown(const std::vector<int>& progress) {
    for (auto it = progress.rbegin(); it != progress.rend(); ++it)
        if (*it != 0) return *it;
    return -1;
}

// A calculator's end that answers one screen request with a given machine ID
// and as many display bytes as it is told, then falls silent.
class ScriptedScreen {
public:
    ScriptedScreen(uint8_t id, int count, int sent) : End(Cable) {
        Far = std::thread([=, this] {
            for (int i = 0; i < 4; ++i)
                if (!End.GetByte(10s)) return;
            const uint8_t head[8] = {id, 0x56, 0, 0, id, 0x15, static_cast<uint8_t>(count),
                                     static_cast<uint8_t>(count >> 8)};
            for (uint8_t b : head)
                if (!End.PutByte(b, 10s)) return;
            for (int j = 0; j < sent; ++j)
                if (!End.PutByte(static_cast<uint8_t>(j), 10s)) return;
            Done = true;
        });
    }
    ~ScriptedScreen() {
        End.Cancel();
        Far.join();
    }
    platform::SimCable Cable{0};
    platform::SimCableEnd End;
    std::atomic<bool> Done{false};
    std::thread Far;
};

} // namespace

TEST(CaptureScreen, EachModelGivesItsDisplay) {
    struct Case {
        Model Kind;
        bool Clip;
        int Width, Height, RowBytes;
        int CalcType;
    };
    const Case cases[] = {
        {Model::TI82, false, 96, 64, 12, 2},
        {Model::TI83, true, 96, 64, 12, 3},
        {Model::TI85, true, 128, 64, 16, 5}, // clipping is for the TI-89/92 only
        {Model::TI86, false, 128, 64, 16, 6},
        {Model::TI89, false, 240, 128, 30, 8},
        {Model::TI89, true, 160, 100, 30, 8},
        {Model::TI92, true, 160, 100, 30, 9},
        {Model::TI92Plus, false, 240, 128, 30, 8},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.Width) + "x" + std::to_string(c.Height));
        ReceiveRig r(c.Kind);
        r.Rig.Settings.TI89ClipScreen = c.Clip;
        r.Rig.CalcType = 2;
        r.Start(engine::OpCaptureScreen);
        ASSERT_TRUE(r.Wait());
        EXPECT_EQ(r.Rig.CalcType, c.CalcType);
        const auto image = r.Rig.Host.LastImage();
        ASSERT_TRUE(image);
        EXPECT_EQ(image->Width, c.Width);
        EXPECT_EQ(image->Height, c.Height);
        const auto display = vcalc::ScreenBytes(r.Calc().Options());
        EXPECT_EQ(image->Bits, Expected(display, c.RowBytes, c.Width / 8, c.Height));
        EXPECT_EQ(image->Bits[0], 0x00) << "0xFF on the calculator is eight black pixels";
        const auto progress = r.Rig.Host.ProgressValues();
        ASSERT_FALSE(progress.empty());
        EXPECT_EQ(progress.back(), 0);
        EXPECT_EQ(LastShown(progress), 99);
        if (c.Clip && c.Width == 160) {
            EXPECT_NE(std::find(progress.begin(), progress.end(), 77), progress.end());
            EXPECT_EQ(std::find(progress.begin(), progress.end(), 78) -
                          std::find(progress.begin(), progress.end(), 77),
                      1) << "77 after the last kept byte, then the dropped ones";
        }
        EXPECT_EQ(r.Rig.Host.Statuses().at(0), "Getting ScreenShot...");
        EXPECT_EQ(r.PcCommands(), Commands({SCR}));
    }
}

TEST(CaptureScreen, ShortFormTakesAnUnknownIdAsItStands) {
    ScriptedScreen peer(0x73, 3840, 3840);
    JobRig rig;
    rig.Env.Driver = &peer.Cable;
    rig.Env.Transfers = &transfers::DefaultTransfers();
    rig.Start(engine::OpCaptureScreen);
    ASSERT_TRUE(rig.WaitEnded(1, 60s));
    EXPECT_EQ(rig.CalcType, 0x73);
    const auto image = rig.Host.LastImage();
    ASSERT_TRUE(image);
    EXPECT_EQ(image->Width, 240);
    EXPECT_EQ(image->Height, 128);
    EXPECT_EQ(image->Bits[1], 0xFE);
}

TEST(CaptureScreen, StoppedCaptureKeepsThePreviousImage) {
    JobRig rig;
    rig.Env.Transfers = &transfers::DefaultTransfers();
    {
        ScriptedScreen full(0x85, 1024, 1024);
        rig.Env.Driver = &full.Cable;
        rig.Start(engine::OpCaptureScreen);
        ASSERT_TRUE(rig.WaitEnded(1, 60s));
    }
    ASSERT_EQ(rig.Host.Count("image:128x64"), 1);
    const auto first = rig.Host.LastImage();

    ScriptedScreen half(0x85, 1024, 300);
    rig.Env.Driver = &half.Cable;
    auto* job = rig.Start(engine::OpCaptureScreen);
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (!half.Done && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(1ms);
    ASSERT_TRUE(half.Done);
    rig.Stop(job);
    ASSERT_TRUE(rig.WaitEnded(2, 60s));
    EXPECT_EQ(rig.Host.Count("image:"), 1);
    EXPECT_EQ(rig.Host.LastImage()->Bits, first->Bits);
}

TEST(CaptureScreen, ImageFileOnTheCalculatorsScreen) {
    TempDir pictures;
    // A 96 x 64 picture: its top row black, the rest white.
    files::MonoBitmap picture{96, 64, std::vector<uint8_t>(12 * 64, 0xFF)};
    std::fill_n(picture.Bits.begin(), 12, 0x00);
    const auto path = pictures.Write("screen.bmp", files::EncodeMonoBmp(picture));
    vcalc::CalcOptions options;
    options.ScreenFile = path;
    ReceiveRig r(Model::TI83, options);
    r.Start(engine::OpCaptureScreen);
    ASSERT_TRUE(r.Wait());
    const auto image = r.Rig.Host.LastImage();
    ASSERT_TRUE(image);
    EXPECT_EQ(image->Bits, picture.Bits);
}
