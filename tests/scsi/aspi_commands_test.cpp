// Each ASPI command through the real request blocks and the emulated
// library: its result, its data and the error records it leaves.
#include "aspi_fixture.h"
#include <cstring>
#include "scsi/aspi/aspicommands.h"
#include "scsi/aspi/aspitransport.h"

namespace qvx::test {
namespace {

using AspiCommands = AspiTest;

TEST_F(AspiCommands, TestUnitReadyAndItsSenseRecords) {
    const struct {
        BYTE adapter, target;
        int result;
        DWORD key, message;
    } cases[] = {{kAdapter, kGoodDisk, 1, 0, 0},
                 {kAdapter, kNotReadyCdrom, 0, 2, 5800},
                 {kAdapter, kHardwareErrorDisk, 0, 4, 5404},
                 {kAdapter, kWriteProtected, 0, 7, 5900},
                 {kAdapter, kValidSenseCdrom, 0, 0, 0}, // VALID set: not decoded
                 {kAdapter, kUnitAttentionDisk, 0, 6, 5801},
                 {kAdapter, kUnitAttentionDisk, 1, 0, 0}, // ready after the attention
                 {kAdapter, kEmptyTarget, 0, 0, 0},
                 {kSelectionTimeoutAdapter, 3, 0, 0, 0}};
    for (const auto& c : cases) {
        ClearErrorRecords();
        EXPECT_EQ(AspiTestUnitReady(c.adapter, c.target), c.result) << int(c.target);
        EXPECT_EQ(LastSenseError.SenseKey, c.key) << int(c.target);
        EXPECT_EQ(LastSenseError.MessageId, c.message) << int(c.target);
    }
    EXPECT_EQ(AspiTestUnitReady(kAdapter, kNotReadyCdrom), 0);
    EXPECT_EQ(LastSenseError.AdditionalSenseCode, 0x04u);
    EXPECT_EQ(LastSenseError.AdditionalSenseCodeQualifier, 0x01u);
}

TEST_F(AspiCommands, BufferPatternIsComparedFromByteFour) {
    EXPECT_EQ(AspiWriteBuffer(kAdapter, kGoodDisk), 1);
    EXPECT_EQ(AspiReadBuffer(kAdapter, kGoodDisk), 1);
    EXPECT_EQ(BufferTestPattern[0], 0xAA);
    EXPECT_EQ(BufferTestPattern[511], 0x55);
    // A mismatch at offset 2 is not compared.
    ASSERT_EQ(AspiWriteBuffer(kAdapter, kDescriptorFFDisk), 1);
    EXPECT_EQ(AspiReadBuffer(kAdapter, kDescriptorFFDisk), 1);
    EXPECT_EQ(LastErrorReport.ReportMessageId, 0u);
    // A failed command is not a mismatch.
    EXPECT_EQ(AspiWriteBuffer(kAdapter, kNotReadyCdrom), 0);
    EXPECT_EQ(AspiReadBuffer(kAdapter, kNotReadyCdrom), 0);
    EXPECT_EQ(LastErrorReport.ReportMessageId, 0u);
    ASSERT_EQ(AspiWriteBuffer(kAdapter, kNoSerialDisk), 1);
    EXPECT_EQ(AspiReadBuffer(kAdapter, kNoSerialDisk), 0);
    EXPECT_EQ(LastErrorReport.ReportMessageId, 6200u);
}

TEST_F(AspiCommands, QueriesGiveTheirValueOrTheirFailureValue) {
    EXPECT_EQ(AspiReadBufferDescriptor(kAdapter, kGoodDisk), 1048576u);
    EXPECT_EQ(AspiReadBufferDescriptor(kAdapter, kSlowDisk), 524288u);
    EXPECT_EQ(AspiReadBufferDescriptor(kAdapter, kDescriptorFFDisk), 0u) << "capacity byte FFh";
    EXPECT_EQ(AspiReadBufferDescriptor(kAdapter, kNotReadyCdrom), 0u);
    EXPECT_EQ(AspiReadBufferDescriptor(kSelectionTimeoutAdapter, 3), 0u);

    EXPECT_EQ(AspiModeSenseCaching(kAdapter, kGoodDisk), 0x04);
    EXPECT_EQ(AspiModeSenseCaching(kAdapter, kSlowDisk), 0x01);
    EXPECT_EQ(AspiModeSenseCaching(kAdapter, kNoSerialDisk), 0x05);
    EXPECT_EQ(AspiModeSenseCaching(kAdapter, kDescriptorFFDisk), 0x00);
    EXPECT_EQ(AspiModeSenseCaching(kAdapter, kNotReadyCdrom), 0xFF) << "no caching page";
    EXPECT_EQ(AspiModeSenseCaching(kAdapter, kEmptyTarget), 0xFF);

    EXPECT_EQ(AspiModeSenseRigidDisk(kAdapter, kGoodDisk), 7200);
    EXPECT_EQ(AspiModeSenseRigidDisk(kAdapter, kNoSerialDisk), 0) << "no geometry page";
    EXPECT_EQ(AspiModeSenseRigidDisk(kAdapter, kEmptyTarget), 0);

    char text[SERIAL_NUMBER_SIZE];
    EXPECT_EQ(AspiInquirySerialNumber(kAdapter, kGoodDisk, text), 1);
    EXPECT_STREQ(text, "PCB89701234");
    EXPECT_EQ(AspiInquirySerialNumber(kAdapter, kSlowDisk, text), 0) << "leading blank";
    EXPECT_EQ(AspiInquirySerialNumber(kAdapter, kNoSerialDisk, text), 0) << "no page 80h";

    BYTE data[READ_CAPACITY_SIZE] = {};
    EXPECT_EQ(AspiReadCapacity(kAdapter, kGoodDisk, data), 1);
    const BYTE expected[] = {0x00, 0x87, 0xA2, 0x37, 0x00, 0x00, 0x02, 0x00}; // 8888887, 512
    EXPECT_EQ(std::memcmp(data, expected, sizeof expected), 0);
    EXPECT_EQ(AspiReadCapacity(kAdapter, kNotReadyCdrom, data), 0);
}

TEST_F(AspiCommands, ShortTransfersWithUnderrunStatusAreAcceptedByTheQueries) {
    char text[SERIAL_NUMBER_SIZE];
    EXPECT_EQ(AspiInquirySerialNumber(kAdapter, kUnderrunDisk, text), 1);
    EXPECT_EQ(AspiSrb.SRB_HaStat, HASTAT_DO_DU);
    EXPECT_STREQ(text, "UR4455");
    EXPECT_EQ(AspiModeSenseCaching(kAdapter, kUnderrunDisk), 0x05);
    EXPECT_EQ(AspiModeSenseRigidDisk(kAdapter, kUnderrunDisk), 4500);
}

TEST_F(AspiCommands, ReadAndSeekThroughTheCompletionEvent) {
    EXPECT_EQ(AspiSeek(kAdapter, kReadErrorDisk, 0), 1);
    BYTE data[2 * 512];
    std::memset(data, 0xEE, sizeof data);
    EXPECT_EQ(AspiRead10(kAdapter, kReadErrorDisk, 10, 512, 2, data), 1);
    EXPECT_NE(data[0], 0xEE) << "the blocks were read";
    EXPECT_EQ(CompletionEvent, nullptr) << "the event is closed after the wait";
    EXPECT_EQ(AspiRead10(kAdapter, kReadErrorDisk, 1500, 512, 2, data), 0) << "medium error";
    EXPECT_EQ(AspiRead10(kAdapter, kSlowDisk, 0, 512, 2, data), 1) << "completed by the worker";
    std::memset(data, 0xEE, sizeof data);
    EXPECT_EQ(AspiRead10(kAdapter, kGoodDisk, 0, 512, 0, data), 1);
    EXPECT_EQ(data[0], 0xEE) << "no blocks asked, none moved";
    EXPECT_EQ(AspiRead10(kAdapter, kGoodDisk, 0, 512, 0x10000, data), 0)
        << "more blocks than the command can carry";
}

} // namespace
} // namespace qvx::test
