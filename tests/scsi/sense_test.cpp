// Judging request status and decoding sense data into the error records.
#include <gtest/gtest.h>
#include <cstring>
#include "scsi/sense.h"

namespace {

SRB_ExecSCSICmd Request(BYTE status, BYTE haStat, BYTE targStat) {
    SRB_ExecSCSICmd srb;
    std::memset(&srb, 0, sizeof srb);
    srb.SRB_Status = status;
    srb.SRB_HaStat = haStat;
    srb.SRB_TargStat = targStat;
    return srb;
}

SRB_ExecSCSICmd Sense(BYTE responseCode, BYTE key, BYTE asc, BYTE ascq) {
    SRB_ExecSCSICmd srb = Request(SS_ERR, 0, STATUS_CHKCOND);
    srb.SenseArea[0] = responseCode;
    srb.SenseArea[2] = key;
    srb.SenseArea[12] = asc;
    srb.SenseArea[13] = ascq;
    return srb;
}

class SenseTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ClearErrorRecords();
    }
    void ExpectRecorded(DWORD key, DWORD asc, DWORD ascq, DWORD message) {
        EXPECT_EQ(LastSenseError.SenseKey, key);
        EXPECT_EQ(LastSenseError.AdditionalSenseCode, asc);
        EXPECT_EQ(LastSenseError.AdditionalSenseCodeQualifier, ascq);
        EXPECT_EQ(LastSenseError.MessageId, message);
    }
};

TEST(CommandStatus, SucceedsOnlyWithGoodAdapterRequestAndTargetStatus) {
    for (BYTE status : {SS_COMP, SS_ABORTED, SS_ERR})
        for (BYTE target : {STATUS_GOOD, STATUS_CONDMET, STATUS_INTCDMET}) {
            SRB_ExecSCSICmd srb = Request(status, HASTAT_OK, target);
            EXPECT_EQ(IsCommandSuccessful(&srb), 1) << int(status) << "/" << int(target);
        }
    for (BYTE status : {SS_PENDING, SS_ABORT_FAIL, SS_INVALID_CMD, SS_INVALID_HA, SS_NO_DEVICE,
                        SS_INVALID_SRB, SS_FAILED_INIT, SS_ASPI_IS_BUSY, SS_BUFFER_TOO_BIG}) {
        SRB_ExecSCSICmd srb = Request(status, HASTAT_OK, STATUS_GOOD);
        EXPECT_EQ(IsCommandSuccessful(&srb), 0) << int(status);
    }
    for (BYTE target : {STATUS_CHKCOND, STATUS_BUSY, STATUS_INTERM, STATUS_RESCONF, STATUS_COMTERM,
                        STATUS_QFULL}) {
        SRB_ExecSCSICmd srb = Request(SS_COMP, HASTAT_OK, target);
        EXPECT_EQ(IsCommandSuccessful(&srb), 0) << int(target);
    }
    for (BYTE ha : {HASTAT_TIMEOUT, HASTAT_SEL_TO, HASTAT_DO_DU, HASTAT_PHASE_ERR}) {
        SRB_ExecSCSICmd srb = Request(SS_COMP, ha, STATUS_GOOD);
        EXPECT_EQ(IsCommandSuccessful(&srb), 0) << int(ha);
    }
}

TEST_F(SenseTest, NotReadyConditionsCarryTheirMessages) {
    const struct {
        BYTE asc, ascq;
        DWORD message;
    } cases[] = {{0x04, 0x00, 5400}, {0x04, 0x01, 5800}, {0x04, 0x02, 5401},
                 {0x04, 0x03, 5402}, {0x04, 0x04, 5403}, {0x3A, 0x01, 5406}};
    for (const auto& c : cases) {
        ClearErrorRecords();
        SRB_ExecSCSICmd srb = Sense(0x70, 0x02, c.asc, c.ascq);
        EXPECT_EQ(DecodeSenseData(&srb), 1);
        ExpectRecorded(2, c.asc, c.ascq, c.message);
    }
}

TEST_F(SenseTest, UnexplainedNotReadyRecordsWhatItKnowsWithoutMessage) {
    SRB_ExecSCSICmd srb = Sense(0x70, 0x02, 0x04, 0x07);
    EXPECT_EQ(DecodeSenseData(&srb), 0);
    ExpectRecorded(2, 0x04, 0, 0);

    ClearErrorRecords();
    srb = Sense(0x70, 0x02, 0x30, 0x01);
    EXPECT_EQ(DecodeSenseData(&srb), 0);
    ExpectRecorded(2, 0, 0, 0);
}

TEST_F(SenseTest, HardwareUnitAttentionAndDataProtect) {
    SRB_ExecSCSICmd srb = Sense(0x70, 0x04, 0x40, 0x80);
    EXPECT_EQ(DecodeSenseData(&srb), 1);
    ExpectRecorded(4, 0x40, 0x80, 5404);
    srb = Sense(0x70, 0x04, 0x44, 0x00);
    EXPECT_EQ(DecodeSenseData(&srb), 1);
    ExpectRecorded(4, 0x44, 0, 5405);
    srb = Sense(0x71, 0x06, 0x28, 0x00);
    EXPECT_EQ(DecodeSenseData(&srb), 1);
    ExpectRecorded(6, 0x28, 0, 5800);
    srb = Sense(0x70, 0x06, 0x29, 0x00);
    EXPECT_EQ(DecodeSenseData(&srb), 1);
    ExpectRecorded(6, 0x29, 0, 5801);
    srb = Sense(0x70, 0x07, 0x27, 0x00);
    EXPECT_EQ(DecodeSenseData(&srb), 1);
    ExpectRecorded(7, 0x27, 0, 5900);
}

TEST_F(SenseTest, IgnoredSenseLeavesEarlierRecordAlone) {
    SRB_ExecSCSICmd first = Sense(0x70, 0x07, 0x27, 0x00);
    DecodeSenseData(&first);
    // VALID set, other keys, and keys with filemark/EOM/ILI bits are not decoded.
    const SRB_ExecSCSICmd ignored[] = {Sense(0xF0, 0x02, 0x04, 0x00), Sense(0x70, 0x22, 0x04, 0),
                                       Sense(0x70, 0x05, 0x24, 0x00), Sense(0x70, 0x03, 0x11, 0),
                                       Sense(0x70, 0x00, 0x00, 0x00), Sense(0x70, 0x0B, 0x47, 0)};
    for (const auto& srb : ignored)
        EXPECT_EQ(DecodeSenseData(&srb), 0);
    ExpectRecorded(7, 0x27, 0, 5900);
}

} // namespace
