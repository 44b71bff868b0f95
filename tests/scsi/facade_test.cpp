// The facade carries each command over ASPI when UseAspi is 1 and over the
// NT pass-through otherwise, deciding afresh on every call.
#include "aspi_fixture.h"
#include <cstring>
#include <vector>
#include "scsi/facade/scsifacade.h"

namespace qvx::test {
namespace {

using ScsiFacade = AspiTest;

// Every command's result for the good disk of adapter 0.
std::vector<long> Results() {
    BYTE capacity[8], data[512];
    char serial[256];
    return {ScsiTestUnitReady(kAdapter, kGoodDisk),
            ScsiWriteBuffer(kAdapter, kGoodDisk),
            ScsiReadBuffer(kAdapter, kGoodDisk),
            long(ScsiReadBufferDescriptor(kAdapter, kGoodDisk)),
            ScsiSeek(kAdapter, kGoodDisk, 0),
            ScsiRead10(kAdapter, kGoodDisk, 0, 512, 1, data),
            ScsiInquirySerialNumber(kAdapter, kGoodDisk, serial),
            ScsiReadCapacity(kAdapter, kGoodDisk, capacity),
            ScsiModeSenseCaching(kAdapter, kGoodDisk),
            ScsiModeSenseRigidDisk(kAdapter, kGoodDisk)};
}

TEST_F(ScsiFacade, UseAspiOneReachesAspiAnyOtherValueTheNtSide) {
    EXPECT_EQ(Results(), (std::vector<long>{1, 1, 1, 1048576, 1, 1, 1, 1, 0x04, 7200}));
    // Nothing is known to the NT side here, so each gives its failure value.
    for (LONG value : {0L, 2L, -1L}) {
        UseAspi = value;
        EXPECT_EQ(Results(), (std::vector<long>{0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0})) << value;
    }
    UseAspi = 1;
    EXPECT_EQ(ScsiTestUnitReady(kAdapter, kGoodDisk), 1) << "decided afresh on each call";
}

TEST_F(ScsiFacade, HostAdapterInquiryAlwaysReachesAspi) {
    UseAspi = 0;
    SRB_HAInquiry block = {};
    EXPECT_EQ(ScsiHostAdapterInquiry(&block, 1), DWORD{SS_COMP});
    EXPECT_EQ(std::memcmp(block.HA_Identifier, "AHA1542", 7), 0);
    EXPECT_EQ(block.HA_SCSI_ID, 7);
    EXPECT_EQ(block.HA_Unique[3], 8) << "maximum targets";
    ScsiHostAdapterInquiry(&block, 2);
    EXPECT_EQ(block.SRB_Status, SS_INVALID_HA);
}

} // namespace
} // namespace qvx::test
