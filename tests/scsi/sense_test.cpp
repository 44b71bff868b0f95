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

TEST(CommandStatus, SucceedsOnlyWithGoodAdapterRequestAndTargetStatus) {
    for (BYTE status : {SS_COMP, SS_ABORTED, SS_ERR})
        for (BYTE target : {STATUS_GOOD, STATUS_CONDMET, STATUS_INTCDMET}) {
            SRB_ExecSCSICmd srb = Request(status, HASTAT_OK, target);
            EXPECT_EQ(IsCommandSuccessful(&srb), 1) << int(status) << "/" << int(target);
        }
    const SRB_ExecSCSICmd failed[] = {
        Request(SS_PENDING, HASTAT_OK, STATUS_GOOD),   Request(SS_ABORT_FAIL, HASTAT_OK, 0),
        Request(SS_NO_DEVICE, HASTAT_OK, STATUS_GOOD), Request(SS_INVALID_HA, HASTAT_OK, 0),
        Request(SS_COMP, HASTAT_OK, STATUS_CHKCOND),   Request(SS_COMP, HASTAT_OK, STATUS_BUSY),
        Request(SS_COMP, HASTAT_OK, STATUS_RESCONF),   Request(SS_COMP, HASTAT_OK, STATUS_QFULL),
        Request(SS_COMP, HASTAT_SEL_TO, STATUS_GOOD),  Request(SS_COMP, HASTAT_DO_DU, 0),
        Request(SS_COMP, HASTAT_TIMEOUT, STATUS_GOOD), Request(SS_COMP, HASTAT_PHASE_ERR, 0)};
    for (const auto& srb : failed)
        EXPECT_EQ(IsCommandSuccessful(&srb), 0)
            << int(srb.SRB_Status) << "/" << int(srb.SRB_HaStat) << "/" << int(srb.SRB_TargStat);
}

// In order: sense that is not decoded leaves what is known in the record.
TEST(SenseDecoding, RecordsKnownConditionsWithTheirMessages) {
    const struct {
        BYTE code, key, asc, ascq;
        int decoded;
        DWORD recordedKey, recordedAsc, recordedAscq, message;
    } cases[] = {{0x70, 2, 0x04, 0x00, 1, 2, 0x04, 0x00, 5400},
                 {0x70, 2, 0x04, 0x01, 1, 2, 0x04, 1, 5800},
                 {0x70, 2, 0x04, 0x02, 1, 2, 0x04, 0x02, 5401},
                 {0x70, 2, 0x04, 0x03, 1, 2, 0x04, 3, 5402},
                 {0x70, 2, 0x04, 0x04, 1, 2, 0x04, 0x04, 5403},
                 {0x70, 2, 0x3A, 0x01, 1, 2, 0x3A, 1, 5406},
                 {0x70, 4, 0x40, 0x80, 1, 4, 0x40, 0x80, 5404},
                 {0x70, 4, 0x44, 0x00, 1, 4, 0x44, 0, 5405},
                 {0x71, 6, 0x28, 0x00, 1, 6, 0x28, 0x00, 5800},
                 {0x70, 6, 0x29, 0x00, 1, 6, 0x29, 0, 5801},
                 {0x70, 7, 0x27, 0x00, 1, 7, 0x27, 0x00, 5900},
                 // VALID set, other keys, and keys with filemark/EOM/ILI bits.
                 {0xF0, 2, 0x04, 0x00, 0, 7, 0x27, 0x00, 5900},
                 {0x70, 0x22, 0x04, 0, 0, 7, 0x27, 0x00, 5900},
                 {0x70, 5, 0x24, 0x00, 0, 7, 0x27, 0x00, 5900},
                 {0x70, 3, 0x11, 0x00, 0, 7, 0x27, 0x00, 5900},
                 {0x70, 0, 0x00, 0x00, 0, 7, 0x27, 0x00, 5900},
                 {0x70, 0x0B, 0x47, 0, 0, 7, 0x27, 0x00, 5900},
                 // Not ready or a unit attention for another reason: the key, and the ASC of 04h.
                 {0x70, 6, 0x2A, 0x01, 0, 6, 0x27, 0x00, 5900},
                 {0x70, 2, 0x30, 0x01, 0, 2, 0x27, 0x00, 5900},
                 {0x70, 2, 0x04, 0x07, 0, 2, 0x04, 0x00, 5900}};
    ClearErrorRecords();
    for (const auto& c : cases) {
        SRB_ExecSCSICmd srb = Sense(c.code, c.key, c.asc, c.ascq);
        SCOPED_TRACE(testing::Message() << int(c.key) << "/" << int(c.asc) << "/" << int(c.ascq));
        EXPECT_EQ(DecodeSenseData(&srb), c.decoded);
        EXPECT_EQ(LastSenseError.SenseKey, c.recordedKey);
        EXPECT_EQ(LastSenseError.AdditionalSenseCode, c.recordedAsc);
        EXPECT_EQ(LastSenseError.AdditionalSenseCodeQualifier, c.recordedAscq);
        EXPECT_EQ(LastSenseError.MessageId, c.message);
    }
}

} // namespace
