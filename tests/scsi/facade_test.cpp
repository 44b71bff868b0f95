// The facade carries each command over ASPI when UseAspi is 1 and over the
// NT pass-through otherwise, deciding afresh on every call.
#include "aspi_fixture.h"
#include <cstring>
#include "scsi/facade/scsifacade.h"

namespace qvx::test {
namespace {

using ScsiFacade = AspiTest;

TEST_F(ScsiFacade, UseAspiOneReachesTheAspiSide) {
    BYTE capacity[8];
    char serial[256];
    BYTE data[512];
    EXPECT_EQ(ScsiTestUnitReady(kAdapter, kGoodDisk), 1);
    EXPECT_EQ(ScsiWriteBuffer(kAdapter, kGoodDisk), 1);
    EXPECT_EQ(ScsiReadBuffer(kAdapter, kGoodDisk), 1);
    EXPECT_EQ(ScsiReadBufferDescriptor(kAdapter, kGoodDisk), 1048576u);
    EXPECT_EQ(ScsiSeek(kAdapter, kGoodDisk, 0), 1);
    EXPECT_EQ(ScsiRead10(kAdapter, kGoodDisk, 0, 512, 1, data), 1);
    EXPECT_EQ(ScsiInquirySerialNumber(kAdapter, kGoodDisk, serial), 1);
    EXPECT_EQ(ScsiReadCapacity(kAdapter, kGoodDisk, capacity), 1);
    EXPECT_EQ(ScsiModeSenseCaching(kAdapter, kGoodDisk), 0x04);
    EXPECT_EQ(ScsiModeSenseRigidDisk(kAdapter, kGoodDisk), 7200);
}

TEST_F(ScsiFacade, AnyOtherValueReachesTheNtSide) {
    // Nothing is known to the NT side here, so each gives its failure value.
    for (LONG value : {0L, 2L, -1L}) {
        UseAspi = value;
        BYTE capacity[8];
        char serial[256];
        BYTE data[512];
        EXPECT_EQ(ScsiTestUnitReady(kAdapter, kGoodDisk), 0);
        EXPECT_EQ(ScsiWriteBuffer(kAdapter, kGoodDisk), 0);
        EXPECT_EQ(ScsiReadBuffer(kAdapter, kGoodDisk), 0);
        EXPECT_EQ(ScsiReadBufferDescriptor(kAdapter, kGoodDisk), 0u);
        EXPECT_EQ(ScsiSeek(kAdapter, kGoodDisk, 0), 0);
        EXPECT_EQ(ScsiRead10(kAdapter, kGoodDisk, 0, 512, 1, data), 0);
        EXPECT_EQ(ScsiInquirySerialNumber(kAdapter, kGoodDisk, serial), 0);
        EXPECT_EQ(ScsiReadCapacity(kAdapter, kGoodDisk, capacity), 0);
        EXPECT_EQ(ScsiModeSenseCaching(kAdapter, kGoodDisk), 0xFF);
        EXPECT_EQ(ScsiModeSenseRigidDisk(kAdapter, kGoodDisk), 0);
    }
    UseAspi = 1;
    EXPECT_EQ(ScsiTestUnitReady(kAdapter, kGoodDisk), 1) << "decided afresh on each call";
}

TEST_F(ScsiFacade, HostAdapterInquiryAlwaysReachesAspi) {
    UseAspi = 0;
    SRB_HAInquiry block;
    std::memset(&block, 0, sizeof block);
    EXPECT_EQ(ScsiHostAdapterInquiry(&block, 1), DWORD{SS_COMP});
    EXPECT_EQ(std::memcmp(block.HA_Identifier, "AHA1542", 7), 0);
}

} // namespace
} // namespace qvx::test
