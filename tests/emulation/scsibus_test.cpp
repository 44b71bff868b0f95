// The device models through ScsiBus::Execute: data bytes, statuses and sense
// data of every command, and every configured misbehaviour.
#include <gtest/gtest.h>

#include "machine/machine.h"
#include "scsibus/medium.h"
#include "scsibus/scsibus.h"

#include <memory>
#include <thread>
#include <vector>

using namespace qvx::emu;

namespace {

struct Reply {
    ScsiOutcome o;
    std::vector<uint8_t> data;
    uint8_t key() const {
        return o.sense[2];
    }
    uint8_t asc() const {
        return o.sense[12];
    }
    uint8_t ascq() const {
        return o.sense[13];
    }
    bool good() const {
        return o.srbStatus == 0x01 && o.haStatus == 0 && o.targetStatus == 0;
    }
    uint32_t be(size_t at, int bytes) const {
        uint32_t v = 0;
        for (int i = 0; i < bytes; ++i)
            v = v << 8 | data.at(at + i);
        return v;
    }
    std::string text(size_t at, size_t n) const {
        return std::string(data.begin() + at, data.begin() + at + n);
    }
};

class Bus : public testing::Test {
  protected:
    void Load(const std::string& ini) {
        bus_ = std::make_unique<ScsiBus>(ParseMachine(ini, "bus.ini"));
    }
    Reply Send(uint8_t target, std::vector<uint8_t> cdb, DataDirection dir,
               std::vector<uint8_t> data, uint8_t lun = 0, uint8_t adapter = 0) {
        ScsiRequest r;
        r.adapter = adapter;
        r.target = target;
        r.lun = lun;
        std::copy(cdb.begin(), cdb.end(), r.cdb);
        r.cdbLength = static_cast<uint8_t>(cdb.size());
        r.direction = dir;
        Reply reply;
        reply.data = std::move(data);
        r.data = reply.data.empty() ? nullptr : reply.data.data();
        r.dataLength = static_cast<uint32_t>(reply.data.size());
        reply.o = bus_->Execute(r);
        return reply;
    }
    // A data-in command with a host buffer of `length` bytes, filled with CCh.
    Reply In(uint8_t target, std::vector<uint8_t> cdb, uint32_t length, uint8_t lun = 0,
             uint8_t adapter = 0) {
        return Send(target, std::move(cdb), DataDirection::In, std::vector<uint8_t>(length, 0xCC),
                    lun, adapter);
    }
    Reply NoData(uint8_t target, std::vector<uint8_t> cdb, uint8_t adapter = 0) {
        return Send(target, std::move(cdb), DataDirection::None, {}, 0, adapter);
    }
    Reply Out(uint8_t target, std::vector<uint8_t> cdb, std::vector<uint8_t> data) {
        return Send(target, std::move(cdb), DataDirection::Out, std::move(data));
    }

    static std::vector<uint8_t> Read10(uint32_t lba, uint16_t count) {
        return {0x28,         0, uint8_t(lba >> 24),  uint8_t(lba >> 16), uint8_t(lba >> 8),
                uint8_t(lba), 0, uint8_t(count >> 8), uint8_t(count),     0};
    }
    static std::vector<uint8_t> Buffer(uint8_t op, uint8_t mode, uint32_t offset, uint32_t length) {
        return {op,
                mode,
                0,
                uint8_t(offset >> 16),
                uint8_t(offset >> 8),
                uint8_t(offset),
                uint8_t(length >> 16),
                uint8_t(length >> 8),
                uint8_t(length),
                0};
    }

    std::unique_ptr<ScsiBus> bus_;
};

// Expects CHECK CONDITION with this sense key, ASC and ASCQ in fixed-format sense data.
void ExpectCheck(const Reply& r, uint8_t key, uint8_t asc, uint8_t ascq = 0, uint8_t code = 0x70) {
    EXPECT_EQ(r.o.srbStatus, 0x04);
    EXPECT_EQ(r.o.haStatus, 0x00);
    EXPECT_EQ(r.o.targetStatus, 0x02);
    EXPECT_EQ(r.o.sense[0], code);
    EXPECT_EQ(r.key(), key);
    EXPECT_EQ(r.o.sense[7], 10);
    EXPECT_EQ(r.asc(), asc);
    EXPECT_EQ(r.ascq(), ascq);
}

const char kDisk[] = R"(
[adapter.0]
[device.0.3]
type=disk
sync=1
wide16=1
vendor=QUANTUM
product=ATLAS II 4.5WLS
revision=0A0A
serial=PCB89701234
blocks=8888888
rcd=1
wce=0
rpm=7200
buffer=1024
)";

TEST_F(Bus, StandardInquiryReportsIdentityAndHonoursTheAllocationLength) {
    Load(std::string(kDisk) + "[device.0.4]\ntype=tape\nqualifier=1\nremovable=1\nansi=1\n"
                              "wide32=1\nvendor=HP\nproduct=C1533A\nrevision=9\n");
    Reply r = In(3, {0x12, 0, 0, 0, 96, 0}, 96);
    ASSERT_TRUE(r.good());
    EXPECT_EQ(r.o.transferred, 96u);
    EXPECT_EQ(r.data[0], 0x00);
    EXPECT_EQ(r.data[1], 0x00);
    EXPECT_EQ(r.data[2], 2);
    EXPECT_EQ(r.data[3], 2);    // response data format
    EXPECT_EQ(r.data[4], 91);   // additional length: 96 bytes in all
    EXPECT_EQ(r.data[7], 0x30); // sync and wide16
    EXPECT_EQ(r.text(8, 28), "QUANTUM ATLAS II 4.5WLS 0A0A");
    EXPECT_EQ(r.data[36], 0x00);

    Reply tape = In(4, {0x12, 0, 0, 0, 36, 0}, 36);
    ASSERT_TRUE(tape.good());
    EXPECT_EQ(tape.data[0], 0x21); // qualifier 1, type 1
    EXPECT_EQ(tape.data[1], 0x80);
    EXPECT_EQ(tape.data[2], 1);
    EXPECT_EQ(tape.data[7], 0x40);
    EXPECT_EQ(tape.text(8, 28), "HP      C1533A          9   ");

    // A short allocation length cuts the data; the rest of the host buffer is untouched.
    Reply cut = In(3, {0x12, 0, 0, 0, 5, 0}, 96);
    EXPECT_EQ(cut.o.transferred, 5u);
    EXPECT_EQ(cut.o.haStatus, 0x00); // no underrun status unless configured
    EXPECT_EQ(cut.data[4], 91);
    EXPECT_EQ(cut.data[5], 0xCC);
    // Allocation length 0 moves nothing.
    EXPECT_EQ(In(3, {0x12, 0, 0, 0, 0, 0}, 96).o.transferred, 0u);
}

TEST_F(Bus, VitalProductPagesListAndReportTheSerialNumber) {
    Load(std::string(kDisk) + "[device.0.5]\nserial=AB12\nserial_leading_blank=1\n"
                              "[device.0.6]\nserial=ZZ\nserial_unsupported=1\n");
    Reply list = In(3, {0x12, 1, 0x00, 0, 255, 0}, 255);
    ASSERT_TRUE(list.good());
    EXPECT_EQ(list.o.transferred, 6u);
    EXPECT_EQ(list.data[1], 0x00);
    EXPECT_EQ(list.data[3], 2);
    EXPECT_EQ(list.data[4], 0x00);
    EXPECT_EQ(list.data[5], 0x80);

    Reply serial = In(3, {0x12, 1, 0x80, 0, 255, 0}, 255);
    ASSERT_TRUE(serial.good());
    EXPECT_EQ(serial.data[1], 0x80);
    EXPECT_EQ(serial.data[3], 11);
    EXPECT_EQ(serial.text(4, 11), "PCB89701234");
    EXPECT_EQ(serial.o.transferred, 15u);

    Reply blank = In(5, {0x12, 1, 0x80, 0, 255, 0}, 255);
    EXPECT_EQ(blank.data[3], 5);
    EXPECT_EQ(blank.text(4, 5), " AB12");

    ExpectCheck(In(6, {0x12, 1, 0x80, 0, 255, 0}, 255), 0x05, 0x24);
    Reply noSerial = In(6, {0x12, 1, 0x00, 0, 255, 0}, 255);
    EXPECT_EQ(noSerial.data[3], 1);
    EXPECT_EQ(noSerial.o.transferred, 5u);

    ExpectCheck(In(3, {0x12, 1, 0x83, 0, 255, 0}, 255), 0x05, 0x24); // page not supported
    ExpectCheck(In(3, {0x12, 0, 0x80, 0, 255, 0}, 255), 0x05, 0x24); // page without EVPD
}

TEST_F(Bus, UnderrunStatusOnlyWhereConfigured) {
    Load(std::string(kDisk) + "[device.0.5]\nserial=AB12\nunderrun=1\nbuffer=64\n");
    // The usual 255-byte serial number request: short data is normal.
    Reply plain = In(3, {0x12, 1, 0x80, 0, 255, 0}, 255);
    EXPECT_TRUE(plain.good());
    Reply shortOne = In(5, {0x12, 1, 0x80, 0, 255, 0}, 255);
    EXPECT_EQ(shortOne.o.srbStatus, 0x01);
    EXPECT_EQ(shortOne.o.haStatus, 0x12);
    EXPECT_EQ(shortOne.o.targetStatus, 0x00);
    EXPECT_EQ(shortOne.o.transferred, 8u);
    EXPECT_EQ(shortOne.text(4, 4), "AB12");
    // A full transfer is not an underrun.
    EXPECT_TRUE(In(5, {0x12, 0, 0, 0, 96, 0}, 96).good());
    // The descriptor READ BUFFER asks for 8 and gets 4.
    Reply descriptor = In(5, Buffer(0x3C, 3, 0, 8), 8);
    EXPECT_EQ(descriptor.o.haStatus, 0x12);
    EXPECT_EQ(descriptor.be(1, 3), 64u);
}

TEST_F(Bus, OverrunWhenTheHostBufferIsSmallerThanTheData) {
    Load(kDisk);
    Reply r = In(3, {0x12, 0, 0, 0, 96, 0}, 36);
    EXPECT_EQ(r.o.srbStatus, 0x04);
    EXPECT_EQ(r.o.haStatus, 0x12);
    EXPECT_EQ(r.o.transferred, 36u);
    EXPECT_EQ(r.text(8, 7), "QUANTUM");
    Reply read = In(3, Read10(0, 2), 512);
    EXPECT_EQ(read.o.haStatus, 0x12);
    EXPECT_EQ(read.o.transferred, 512u);
}

TEST_F(Bus, ReadCapacityReportsLastBlockAndBlockLength) {
    Load(std::string(kDisk) + "[device.0.4]\ntype=tape\nblocks=100\n"
                              "[device.0.5]\ntype=cdrom\nremovable=1\nblock_size=2048\n"
                              "[device.0.6]\nblocks=1\n[device.0.7]\n");
    Reply r = In(3, {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 8);
    ASSERT_TRUE(r.good());
    EXPECT_EQ(r.be(0, 4), 8888887u);
    EXPECT_EQ(r.be(4, 4), 512u);
    Reply one = In(6, {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 8);
    EXPECT_EQ(one.be(0, 4), 0u);
    ExpectCheck(In(4, {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 8), 0x05, 0x20); // tapes have no capacity
    ExpectCheck(In(5, {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 8), 0x02, 0x3A); // no disc
    ExpectCheck(NoData(5, {0x0B, 0, 0, 0, 0, 0}), 0x02, 0x3A);
    ExpectCheck(NoData(5, {0, 0, 0, 0, 0, 0}), 0x02, 0x3A); // removable: no disc
    EXPECT_TRUE(NoData(4, {0, 0, 0, 0, 0, 0}).good());
    ExpectCheck(NoData(7, {0x0B, 0, 0, 0, 0, 0}), 0x02, 0x3A); // fixed disk without blocks
    EXPECT_TRUE(NoData(7, {0, 0, 0, 0, 0, 0}).good());
    ExpectCheck(In(3, {0x25, 0, 0, 0, 0, 1, 0, 0, 0, 0}, 8), 0x05, 0x24); // address without PMI
}

TEST_F(Bus, ModeSenseCachingAndGeometryPages) {
    Load(std::string(kDisk) + "[device.0.4]\ncaching_page=0\ngeometry_page=0\nwce=1\n"
                              "[device.0.5]\nwce=1\nrcd=0\n");
    // DBD set: a 4-byte header followed directly by the page.
    Reply caching = In(3, {0x1A, 0x08, 0x08, 0, 255, 0}, 255);
    ASSERT_TRUE(caching.good());
    EXPECT_EQ(caching.o.transferred, 16u);
    EXPECT_EQ(caching.data[0], 15);
    EXPECT_EQ(caching.data[3], 0);
    EXPECT_EQ(caching.data[4] & 0x3F, 0x08);
    EXPECT_EQ(caching.data[5], 0x0A);
    EXPECT_EQ(caching.data[6], 0x01); // RCD set, WCE clear
    EXPECT_EQ(In(5, {0x1A, 0x08, 0x08, 0, 255, 0}, 255).data[6], 0x04);

    Reply geometry = In(3, {0x1A, 0x08, 0x04, 0, 255, 0}, 255);
    ASSERT_TRUE(geometry.good());
    EXPECT_EQ(geometry.o.transferred, 28u);
    EXPECT_EQ(geometry.data[4] & 0x3F, 0x04);
    EXPECT_EQ(geometry.data[5], 0x16);
    EXPECT_EQ(geometry.be(24, 2), 7200u);

    // DBD clear: an 8-byte block descriptor comes between header and page.
    Reply withDescriptor = In(3, {0x1A, 0x00, 0x08, 0, 255, 0}, 255);
    EXPECT_EQ(withDescriptor.data[3], 8);
    EXPECT_EQ(withDescriptor.be(5, 3), 8888888u);
    EXPECT_EQ(withDescriptor.be(9, 3), 512u);
    EXPECT_EQ(withDescriptor.data[12] & 0x3F, 0x08);
    EXPECT_EQ(withDescriptor.data[14], 0x01);

    // All pages, in ascending order; the allocation length cuts the data.
    Reply all = In(3, {0x1A, 0x08, 0x3F, 0, 255, 0}, 255);
    EXPECT_EQ(all.o.transferred, 4u + 24u + 12u);
    EXPECT_EQ(all.data[4], 0x04);
    EXPECT_EQ(all.data[28] & 0x3F, 0x08);
    Reply cut = In(3, {0x1A, 0x08, 0x3F, 0, 10, 0}, 255);
    EXPECT_EQ(cut.o.transferred, 10u);
    EXPECT_EQ(cut.data[0], 39); // the full length is still reported

    ExpectCheck(In(4, {0x1A, 0x08, 0x08, 0, 255, 0}, 255), 0x05, 0x24);
    ExpectCheck(In(4, {0x1A, 0x08, 0x04, 0, 255, 0}, 255), 0x05, 0x24);
    ExpectCheck(In(3, {0x1A, 0x08, 0x01, 0, 255, 0}, 255), 0x05, 0x24);
    ExpectCheck(In(3, {0x1A, 0x08, 0xC8, 0, 255, 0}, 255), 0x05, 0x39); // saved values
    EXPECT_EQ(In(3, {0x1A, 0x08, 0x48, 0, 255, 0}, 255).data[6], 0x05); // changeable bits
}

TEST_F(Bus, WriteBufferIsReadBackAndTheDescriptorGivesTheCapacity) {
    Load(std::string(kDisk) + "[device.0.4]\nbuffer=0\n"
                              "[device.0.5]\nbuffer=0x123456\ndescriptor_ff=1\n");
    Reply descriptor = In(3, Buffer(0x3C, 3, 0, 8), 8);
    ASSERT_TRUE(descriptor.good());
    EXPECT_EQ(descriptor.o.transferred, 4u);
    EXPECT_EQ(descriptor.data[0], 0x00);
    EXPECT_EQ(descriptor.be(1, 3), 1024u);
    EXPECT_EQ(descriptor.data[4], 0xCC);
    Reply ff = In(5, Buffer(0x3C, 3, 0, 8), 8);
    EXPECT_EQ(ff.data[1], 0xFF);
    EXPECT_EQ(ff.be(2, 2), 0x3456u);

    std::vector<uint8_t> pattern(512);
    for (size_t i = 0; i < pattern.size(); ++i)
        pattern[i] = i % 2 ? 0x55 : 0xAA;
    Reply written = Out(3, Buffer(0x3B, 2, 0, 512), pattern);
    ASSERT_TRUE(written.good());
    EXPECT_EQ(written.o.transferred, 512u);
    Reply read = In(3, Buffer(0x3C, 2, 0, 512), 512);
    ASSERT_TRUE(read.good());
    EXPECT_EQ(read.data, pattern);
    // At an offset, and through the combined header-and-data mode.
    ASSERT_TRUE(Out(3, Buffer(0x3B, 2, 1000, 24), std::vector<uint8_t>(24, 0x5A)).good());
    Reply tail = In(3, Buffer(0x3C, 2, 1016, 8), 8);
    EXPECT_EQ(tail.data, std::vector<uint8_t>(8, 0x5A));
    Reply combined = In(3, Buffer(0x3C, 0, 0, 6), 6);
    EXPECT_EQ(combined.be(1, 3), 1024u);
    EXPECT_EQ(combined.data[4], 0xAA);
    EXPECT_EQ(combined.data[5], 0x55);

    // Beyond the buffer memory, other buffer ids and modes are refused.
    ExpectCheck(In(3, Buffer(0x3C, 2, 0, 1025), 1025), 0x05, 0x24);
    ExpectCheck(In(3, Buffer(0x3C, 2, 1000, 25), 25), 0x05, 0x24);
    ExpectCheck(Out(3, Buffer(0x3B, 2, 1020, 8), std::vector<uint8_t>(8)), 0x05, 0x24);
    ExpectCheck(Out(3, Buffer(0x3B, 5, 0, 8), std::vector<uint8_t>(8)), 0x05, 0x24);
    std::vector<uint8_t> otherId = Buffer(0x3C, 2, 0, 8);
    otherId[2] = 1;
    ExpectCheck(In(3, otherId, 8), 0x05, 0x24);
    // No buffer memory: the commands are not supported at all.
    ExpectCheck(In(4, Buffer(0x3C, 3, 0, 8), 8), 0x05, 0x20);
    ExpectCheck(Out(4, Buffer(0x3B, 2, 0, 512), pattern), 0x05, 0x20);
}

TEST_F(Bus, BufferMismatchChangesOnlyTheReturnedByte) {
    Load(std::string(kDisk) + "[device.0.5]\nbuffer=512\nbuffer_mismatch_at=100\n");
    std::vector<uint8_t> pattern(512, 0xAA);
    ASSERT_TRUE(Out(5, Buffer(0x3B, 2, 0, 512), pattern).good());
    Reply read = In(5, Buffer(0x3C, 2, 0, 512), 512);
    ASSERT_TRUE(read.good());
    EXPECT_EQ(read.data[99], 0xAA);
    EXPECT_EQ(read.data[100], 0x55);
    EXPECT_EQ(read.data[101], 0xAA);
    // Read from behind the bad byte the data are intact.
    EXPECT_EQ(In(5, Buffer(0x3C, 2, 101, 16), 16).data, std::vector<uint8_t>(16, 0xAA));
}

TEST_F(Bus, SeekAndReadDeliverTheGeneratedMedium) {
    Load(std::string(kDisk) + "[device.0.5]\nblocks=100\nblock_size=2048\nread_errors=50-59\n");
    EXPECT_TRUE(NoData(3, {0x0B, 0, 0, 0, 0, 0}).good());
    ExpectCheck(NoData(5, {0x0B, 0, 0, 100, 0, 0}), 0x05, 0x21);
    EXPECT_TRUE(NoData(5, {0x0B, 0, 0, 99, 0, 0}).good());

    Reply r = In(3, Read10(8888880, 2), 1024);
    ASSERT_TRUE(r.good());
    EXPECT_EQ(r.o.transferred, 1024u);
    EXPECT_EQ(r.be(0, 4), 8888880u);
    EXPECT_EQ(r.be(512, 4), 8888881u);
    for (uint32_t i = 0; i < 1024; ++i)
        ASSERT_EQ(r.data[i], MediumByte(8888880 + i / 512, i % 512)) << i;
    // Two blocks differ beyond their address bytes.
    EXPECT_FALSE(std::equal(r.data.begin() + 4, r.data.begin() + 512, r.data.begin() + 516));

    ExpectCheck(In(3, Read10(8888887, 2), 1024), 0x05, 0x21); // past the end
    EXPECT_TRUE(In(3, Read10(8888887, 1), 512).good());       // the last block
    EXPECT_TRUE(NoData(3, Read10(0, 0)).good());              // zero blocks, zero bytes

    // Blocks before the first unreadable one arrive, then a medium error.
    Reply bad = In(5, Read10(48, 4), 4 * 2048);
    ExpectCheck(bad, 0x03, 0x11);
    EXPECT_EQ(bad.o.transferred, 2u * 2048);
    EXPECT_EQ(bad.be(2048, 4), 49u);
    EXPECT_EQ(bad.data[2 * 2048], 0xCC);
    ExpectCheck(In(5, Read10(59, 1), 2048), 0x03, 0x11);
    EXPECT_TRUE(In(5, Read10(60, 40), 40 * 2048).good());
}

TEST_F(Bus, OtherCommandsAreRefusedAndRequestSenseTellsTheState) {
    Load(std::string(kDisk) + "[device.0.5]\nsense_valid=1\n"
                              "[device.0.6]\nnot_ready=3A/00\n");
    ExpectCheck(NoData(3, {0x1B, 0, 0, 0, 1, 0}), 0x05, 0x20); // START STOP UNIT
    ExpectCheck(Out(3, {0x2A, 0, 0, 0, 0, 0, 0, 0, 1, 0}, std::vector<uint8_t>(512)), 0x05, 0x20);
    ExpectCheck(NoData(5, {0x1B, 0, 0, 0, 1, 0}), 0x05, 0x20, 0, 0xF0); // VALID bit set
    Reply sense = In(6, {0x03, 0, 0, 0, 18, 0}, 18);
    ASSERT_TRUE(sense.good());
    EXPECT_EQ(sense.data[0], 0x70);
    EXPECT_EQ(sense.data[2], 0x02);
    EXPECT_EQ(sense.data[12], 0x3A);
    EXPECT_EQ(In(3, {0x03, 0, 0, 0, 18, 0}, 18).data[2], 0x00);
}

TEST_F(Bus, NotReadyUntilEnoughTestUnitReadyCommands) {
    Load(std::string(kDisk) +
         "[device.0.5]\nnot_ready=04/01\nready_after_tur=2\nbuffer=64\nblocks=9\n"
         "[device.0.6]\nnot_ready=3A/00\n");
    EXPECT_TRUE(NoData(3, {0, 0, 0, 0, 0, 0}).good());
    ExpectCheck(NoData(5, {0, 0, 0, 0, 0, 0}), 0x02, 0x04, 0x01);
    // Medium commands answer not ready without counting; INQUIRY and the buffer work.
    ExpectCheck(In(5, {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 8), 0x02, 0x04, 0x01);
    ExpectCheck(In(5, Read10(0, 1), 512), 0x02, 0x04, 0x01);
    ExpectCheck(NoData(5, {0x0B, 0, 0, 0, 0, 0}), 0x02, 0x04, 0x01);
    EXPECT_TRUE(In(5, {0x12, 0, 0, 0, 96, 0}, 96).good());
    EXPECT_TRUE(In(5, Buffer(0x3C, 3, 0, 4), 4).good());
    ExpectCheck(NoData(5, {0, 0, 0, 0, 0, 0}), 0x02, 0x04, 0x01);
    EXPECT_TRUE(NoData(5, {0, 0, 0, 0, 0, 0}).good()); // the third one finds it ready
    EXPECT_TRUE(In(5, Read10(0, 1), 512).good());
    // Without ready_after_tur it never comes ready.
    for (int i = 0; i < 5; ++i)
        ExpectCheck(NoData(6, {0, 0, 0, 0, 0, 0}), 0x02, 0x3A);
}

TEST_F(Bus, OneUnitAttentionOnTheFirstCommand) {
    Load(std::string(kDisk) + "[device.0.5]\nunit_attention=29\n[device.0.6]\nunit_attention=28\n");
    ExpectCheck(In(5, {0x12, 0, 0, 0, 96, 0}, 96), 0x06, 0x29);
    EXPECT_TRUE(In(5, {0x12, 0, 0, 0, 96, 0}, 96).good());
    EXPECT_TRUE(NoData(5, {0, 0, 0, 0, 0, 0}).good());
    ExpectCheck(NoData(6, {0, 0, 0, 0, 0, 0}), 0x06, 0x28);
    EXPECT_TRUE(NoData(6, {0, 0, 0, 0, 0, 0}).good());
}

TEST_F(Bus, HardwareErrorAndDataProtectSpareOnlyInquiry) {
    Load(std::string(kDisk) + "[device.0.5]\nhardware_error=40/80\nbuffer=64\n"
                              "[device.0.6]\ndata_protect=27/00\nbuffer=64\n");
    for (uint8_t t : {5, 6}) {
        SCOPED_TRACE(t);
        uint8_t key = t == 5 ? 0x04 : 0x07;
        uint8_t asc = t == 5 ? 0x40 : 0x27;
        uint8_t ascq = t == 5 ? 0x80 : 0x00;
        EXPECT_TRUE(In(t, {0x12, 0, 0, 0, 96, 0}, 96).good());
        EXPECT_TRUE(In(t, {0x12, 1, 0x80, 0, 255, 0}, 255).good());
        ExpectCheck(NoData(t, {0, 0, 0, 0, 0, 0}), key, asc, ascq);
        ExpectCheck(In(t, Buffer(0x3C, 3, 0, 8), 8), key, asc, ascq);
        ExpectCheck(Out(t, Buffer(0x3B, 2, 0, 8), std::vector<uint8_t>(8)), key, asc, ascq);
        ExpectCheck(In(t, {0x1A, 0x08, 0x08, 0, 255, 0}, 255), key, asc, ascq);
        ExpectCheck(In(t, Read10(0, 1), 512), key, asc, ascq);
        ExpectCheck(NoData(t, {0x1B, 0, 0, 0, 1, 0}), key, asc, ascq);
        EXPECT_EQ(In(t, {0x03, 0, 0, 0, 18, 0}, 18).data[2], key);
    }
}

TEST_F(Bus, HungCommandsNeverCompleteAndCarryTheAbortVerdict) {
    Load(std::string(kDisk) + "[device.0.5]\nhang=12,1A\nunit_attention=29\n"
                              "[device.0.6]\nhang=00\nabort_accepted=0\n");
    Reply hung = In(5, {0x12, 0, 0, 0, 96, 0}, 96);
    EXPECT_TRUE(hung.o.neverCompletes);
    EXPECT_TRUE(hung.o.abortAccepted);
    EXPECT_EQ(hung.o.srbStatus, 0x00);
    EXPECT_EQ(hung.o.transferred, 0u);
    EXPECT_EQ(hung.data[0], 0xCC);
    EXPECT_TRUE(In(5, {0x1A, 0x08, 0x08, 0, 255, 0}, 255).o.neverCompletes);
    // Other commands answer, and the unit attention was still waiting for them.
    ExpectCheck(NoData(5, {0, 0, 0, 0, 0, 0}), 0x06, 0x29);
    EXPECT_FALSE(NoData(5, {0, 0, 0, 0, 0, 0}).o.neverCompletes);

    Reply refused = NoData(6, {0, 0, 0, 0, 0, 0});
    EXPECT_TRUE(refused.o.neverCompletes);
    EXPECT_FALSE(refused.o.abortAccepted);
}

TEST_F(Bus, AbsentTargetsUnitsAndAdapters) {
    Load(R"(
[adapter.0]
host_id=7
[adapter.1]
missing=selection-timeout
aspi_visible=0
[adapter.4]
missing=selection-timeout
[device.0.2]
blocks=10
[device.1.0]
blocks=10
[device.4.1]
[device.4.1.3]
type=scanner
)");
    EXPECT_EQ(bus_->aspiAdapters(), (std::vector<size_t>{0, 2}));
    EXPECT_TRUE(NoData(2, {0, 0, 0, 0, 0, 0}, 0).good());
    Reply empty = NoData(3, {0, 0, 0, 0, 0, 0}, 0);
    EXPECT_EQ(empty.o.srbStatus, 0x82);
    EXPECT_EQ(empty.o.haStatus, 0x00);
    Reply timeout = NoData(3, {0, 0, 0, 0, 0, 0}, 2);
    EXPECT_EQ(timeout.o.srbStatus, 0x04);
    EXPECT_EQ(timeout.o.haStatus, 0x11);
    EXPECT_EQ(timeout.o.targetStatus, 0x00);
    EXPECT_EQ(NoData(7, {0, 0, 0, 0, 0, 0}, 2).o.srbStatus, 0x82); // the adapter's own id
    EXPECT_TRUE(NoData(0, {0, 0, 0, 0, 0, 0}, 1).good());          // hidden from ASPI only

    // Logical units other than 0 exist only where configured.
    Reply lun3 = In(1, {0x12, 0, 0, 0, 96, 0}, 96, 3, 2);
    ASSERT_TRUE(lun3.good());
    EXPECT_EQ(lun3.data[0], 0x06);
    EXPECT_EQ(In(1, {0x12, 0, 0, 0, 96, 0}, 96, 1, 2).o.srbStatus, 0x82);
    EXPECT_EQ(In(2, {0x12, 0, 0, 0, 96, 0}, 96, 1, 0).o.srbStatus, 0x82);

    Reply noAdapter = NoData(0, {0, 0, 0, 0, 0, 0}, 3);
    EXPECT_EQ(noAdapter.o.srbStatus, 0x81);
}

TEST_F(Bus, DurationIsLatencyPlusTransferAtTheBandwidth) {
    Load(std::string(kDisk) + "[device.0.5]\nblocks=1000\nlatency_us=300\nbandwidth_kbs=1024\n"
                              "[device.0.6]\nblocks=1000\nlatency_us=40\n");
    EXPECT_EQ(In(3, Read10(0, 4), 2048).o.durationUs, 0u);
    EXPECT_EQ(NoData(5, {0, 0, 0, 0, 0, 0}).o.durationUs, 300u);
    EXPECT_EQ(In(5, Read10(0, 128), 65536).o.durationUs, 300u + 62500u); // 64 KB at 1 MB/s
    EXPECT_EQ(In(6, Read10(0, 128), 65536).o.durationUs, 40u);
}

TEST_F(Bus, ConcurrentCommandsKeepEachDeviceConsistent) {
    Load(R"(
[adapter.0]
[device.0.0]
blocks=5000
buffer=512
[device.0.1]
blocks=5000
buffer=512
[device.0.2]
blocks=5000
buffer=512
)");
    std::vector<int> failures(3, 0);
    std::vector<std::thread> threads;
    for (uint8_t t = 0; t < 3; ++t) {
        threads.emplace_back([this, t, &failures] {
            for (uint32_t i = 0; i < 200; ++i) {
                std::vector<uint8_t> fill(512, static_cast<uint8_t>(t * 50 + i % 50));
                Reply w = Out(t, Buffer(0x3B, 2, 0, 512), fill);
                Reply r = In(t, Buffer(0x3C, 2, 0, 512), 512);
                Reply m = In(t, Read10(i * 7, 1), 512);
                if (!w.good() || !r.good() || r.data != fill || !m.good() || m.be(0, 4) != i * 7)
                    ++failures[t];
            }
        });
    }
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(failures, (std::vector<int>{0, 0, 0}));
}

} // namespace
