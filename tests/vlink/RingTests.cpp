#include "VlinkSupport.h"

#include "platform/SharedRing.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>

using namespace lodestrum;
using platform::RingBuffer;
using platform::SharedRing;

namespace {

RingBuffer Ring(uint32_t read, uint32_t write) {
    RingBuffer r{};
    for (int i = 0; i < 256; ++i) r.Data[i] = static_cast<uint8_t>(i);
    r.ReadIndex = read;
    r.WriteIndex = write;
    return r;
}

} // namespace

TEST(Ring, EmptyFullAndRoomRules) {
    struct Case {
        uint32_t Read, Write;
        bool HasData, HasRoom;
    } cases[] = {
        {0, 0, false, true},   {5, 4, true, false},   {0, 255, true, false},
        {255, 254, true, false}, {4, 5, true, true}, {200, 200, false, true},
    };
    for (const auto& c : cases) {
        auto r = Ring(c.Read, c.Write);
        EXPECT_EQ(platform::RingHasData(r), c.HasData) << c.Read << "/" << c.Write;
        EXPECT_EQ(platform::RingHasRoom(r), c.HasRoom) << c.Read << "/" << c.Write;
    }
}

TEST(Ring, PutIntoAFullRingChangesNothing) {
    auto r = Ring(5, 4);
    const auto before = r;
    EXPECT_FALSE(platform::RingPutByte(r, 0xAA));
    EXPECT_EQ(std::memcmp(&r, &before, sizeof r), 0);
}

TEST(Ring, HoldsExactly255AndOneGetMakesRoomForOne) {
    RingBuffer r{};
    for (int i = 0; i < 255; ++i) ASSERT_TRUE(platform::RingPutByte(r, static_cast<uint8_t>(i)));
    EXPECT_FALSE(platform::RingHasRoom(r));
    EXPECT_FALSE(platform::RingPutByte(r, 0xFF));
    EXPECT_EQ(platform::RingGetByte(r), 0);
    EXPECT_TRUE(platform::RingPutByte(r, 0xFE));
    EXPECT_FALSE(platform::RingHasRoom(r));
    for (int i = 1; i < 255; ++i) ASSERT_EQ(platform::RingGetByte(r), i);
    EXPECT_EQ(platform::RingGetByte(r), 0xFE);
    EXPECT_FALSE(platform::RingHasData(r));
}

TEST(Ring, IndicesWrapFrom255To0) {
    auto r = Ring(255, 255);
    ASSERT_TRUE(platform::RingPutByte(r, 0x42));
    EXPECT_EQ(r.WriteIndex, 0u);
    EXPECT_EQ(r.Data[255], 0x42);
    EXPECT_EQ(platform::RingGetByte(r), 0x42);
    EXPECT_EQ(r.ReadIndex, 0u);
}

TEST(Ring, HostileIndicesAreMaskedNeverFollowed) {
    // What a peer may leave in the indices: each is taken modulo 256.
    struct Case {
        uint32_t Read, Write;
        bool HasData;
        uint8_t First;
    } cases[] = {
        {0, 0xFFFFFFFF, true, 0},      {0x100, 0x100, false, 0},
        {0x12345607, 0x08, true, 7},   {0xDEADBEEF, 0xBEEF, false, 0},
    };
    for (const auto& c : cases) {
        auto r = Ring(c.Read, c.Write);
        EXPECT_EQ(platform::RingHasData(r), c.HasData);
        EXPECT_EQ(platform::RingGetByte(r), c.First);
        if (c.HasData) {
            EXPECT_LE(r.ReadIndex, 255u);
        }
        // Writing through a hostile WriteIndex stays inside the 256 slots.
        auto w = Ring(c.Write + 7, c.Write);
        EXPECT_TRUE(platform::RingPutByte(w, 0x99));
        EXPECT_EQ(w.Data[c.Write & 0xFF], 0x99);
        EXPECT_LE(w.WriteIndex, 255u);
    }
}

TEST(Ring, GetFromAnEmptyRingMovesNothing) {
    auto r = Ring(9, 9);
    EXPECT_EQ(platform::RingGetByte(r), 0);
    EXPECT_EQ(r.ReadIndex, 9u);
}

TEST(SharedRingBlock, FirstFreeNumberSkipsLiveHolders) {
    std::string error;
    const auto prefix = testkit::UniquePrefix("n");
    auto r0 = SharedRing::CreateFirstFree(prefix, error);
    auto r1 = SharedRing::CreateFirstFree(prefix, error);
    auto r2 = SharedRing::CreateFirstFree(prefix, error);
    ASSERT_TRUE(r0 && r1 && r2) << error;
    EXPECT_EQ(r0->Name(), prefix + "0");
    EXPECT_EQ(r1->Name(), prefix + "1");
    EXPECT_EQ(r2->Name(), prefix + "2");
    // Releasing 1 frees its number for the next one.
    r1.reset();
    auto again = SharedRing::CreateFirstFree(prefix, error);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->Name(), prefix + "1");
}

TEST(SharedRingBlock, StaleBlockWithoutHolderIsReusedAndZeroed) {
    // What a crashed process leaves: the object with data, and no lock on it.
    const auto prefix = testkit::UniquePrefix("s");
    const std::string object = "/" + prefix + "0";
    const int fd = ::shm_open(object.c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, sizeof(RingBuffer)), 0);
    auto* stale = static_cast<RingBuffer*>(
        ::mmap(nullptr, sizeof(RingBuffer), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0));
    ASSERT_NE(stale, MAP_FAILED);
    std::memset(static_cast<void*>(stale), 0x5A, sizeof(RingBuffer));
    ::close(fd);

    std::string error;
    auto ring = SharedRing::CreateFirstFree(prefix, error);
    ASSERT_TRUE(ring) << error;
    EXPECT_EQ(ring->Name(), prefix + "0");
    EXPECT_EQ(stale->ReadIndex, 0u);
    EXPECT_EQ(stale->WriteIndex, 0u);
    EXPECT_EQ(stale->Data[17], 0);
    ::munmap(stale, sizeof(RingBuffer));
    ring.reset();
    EXPECT_LT(::shm_open(object.c_str(), O_RDONLY, 0), 0) << "the creator unlinks its block";
}

TEST(SharedRingBlock, PeerSeesWhatTheCreatorWrites) {
    std::string error;
    auto own = SharedRing::CreateFirstFree(testkit::UniquePrefix("p"), error);
    ASSERT_TRUE(own) << error;
    auto peer = SharedRing::Open(own->Name(), error);
    ASSERT_TRUE(peer) << error;
    ASSERT_TRUE(platform::RingPutByte(own->Ring(), 0x83));
    EXPECT_EQ(platform::RingGetByte(peer->Ring()), 0x83);
    EXPECT_FALSE(platform::RingHasData(own->Ring()));
}

TEST(SharedRingBlock, OpenRefusesWhatIsNoRing) {
    const auto prefix = testkit::UniquePrefix("o");
    // A block too small for a ring would fault past its end.
    const std::string small = prefix + "small";
    const int fd = ::shm_open(("/" + small).c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, 100), 0);
    ::close(fd);
    struct Case {
        std::string Name;
    } cases[] = {{small}, {prefix + "missing"}, {std::string(200, 'V')}, {"a/b"}, {""}, {".."}};
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(SharedRing::Open(c.Name, error)) << c.Name;
        EXPECT_FALSE(error.empty());
    }
    ::shm_unlink(("/" + small).c_str());
}
