// The device models through ScsiBus::Execute: data bytes, statuses and sense
// data of every command, and every configured misbehaviour.
#include <gtest/gtest.h>

#include "machine/machine.h"
#include "scsibus/scsibus.h"

#include <memory>
#include <thread>
#include <tuple>
#include <vector>

using namespace qvx::emu;
using Bytes = std::vector<uint8_t>;

namespace {

struct Reply {
    ScsiOutcome o;
    Bytes data;
    // SRB, host adapter and target status.
    std::tuple<int, int, int> status() const {
        return {o.srbStatus, o.haStatus, o.targetStatus};
    }
    bool good() const {
        return status() == std::make_tuple(0x01, 0, 0);
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

// CHECK CONDITION with this sense key, ASC and ASCQ in fixed-format sense data.
testing::AssertionResult Check(const Reply& r, int key, int asc, int ascq = 0, int code = 0x70) {
    const uint8_t* s = r.o.sense;
    std::tuple<int, int, int, int, int, int, int, int> got{
        r.o.srbStatus, r.o.haStatus, r.o.targetStatus, s[0], s[2], s[7], s[12], s[13]};
    if (got == std::make_tuple(0x04, 0, 0x02, code, key, 10, asc, ascq))
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << "statuses and sense " << testing::PrintToString(got);
}

const Bytes kTur{0, 0, 0, 0, 0, 0}, kSeek0{0x0B, 0, 0, 0, 0, 0}, kStartUnit{0x1B, 0, 0, 0, 1, 0},
    kCapacity{0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, kSense{0x03, 0, 0, 0, 18, 0};

Bytes Inquiry(uint8_t evpd, uint8_t page, uint8_t length) {
    return {0x12, evpd, page, 0, length, 0};
}
Bytes ModeSense(uint8_t dbd, uint8_t page, uint8_t length = 255) {
    return {0x1A, dbd, page, 0, length, 0};
}
// `cdb` with `value` big-endian in `bytes` bytes from `at`.
Bytes Put(Bytes cdb, size_t at, int bytes, uint32_t value) {
    for (int i = bytes - 1; i >= 0; --i, value >>= 8)
        cdb[at + i] = static_cast<uint8_t>(value);
    return cdb;
}
Bytes Read10(uint32_t lba, uint16_t count) {
    return Put(Put({0x28, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 2, 4, lba), 7, 2, count);
}
Bytes Buffer(uint8_t op, uint8_t mode, uint32_t offset, uint32_t length) {
    return Put(Put({op, mode, 0, 0, 0, 0, 0, 0, 0, 0}, 3, 3, offset), 6, 3, length);
}

const std::string kDisk = "[adapter.0]\n[device.0.3]\ntype=disk\nsync=1\nwide16=1\nvendor=QUANTUM\n"
                          "product=ATLAS II 4.5WLS\nrevision=0A0A\nserial=PCB89701234\n"
                          "blocks=8888888\nrcd=1\nwce=0\nrpm=7200\nbuffer=1024\n";

class Bus : public testing::Test {
  protected:
    void LoadOnly(const std::string& ini) {
        bus_ = std::make_unique<ScsiBus>(ParseMachine(ini, "bus.ini"));
    }
    // The disk at target 3 of adapter 0 and these further devices.
    void Load(const std::string& devices = "") {
        LoadOnly(kDisk + devices);
    }
    Reply Send(uint8_t target, const Bytes& cdb, DataDirection dir, Bytes data, uint8_t lun = 0,
               uint8_t adapter = 0) {
        Reply reply{{}, std::move(data)};
        ScsiRequest r{adapter,
                      target,
                      lun,
                      {},
                      static_cast<uint8_t>(cdb.size()),
                      dir,
                      reply.data.empty() ? nullptr : reply.data.data(),
                      static_cast<uint32_t>(reply.data.size())};
        std::copy(cdb.begin(), cdb.end(), r.cdb);
        reply.o = bus_->Execute(r);
        return reply;
    }
    // A data-in command with a host buffer of `length` bytes, filled with CCh.
    Reply In(uint8_t target, const Bytes& cdb, uint32_t length, uint8_t lun = 0,
             uint8_t adapter = 0) {
        return Send(target, cdb, DataDirection::In, Bytes(length, 0xCC), lun, adapter);
    }
    Reply NoData(uint8_t target, const Bytes& cdb, uint8_t adapter = 0) {
        return Send(target, cdb, DataDirection::None, {}, 0, adapter);
    }
    Reply Out(uint8_t target, const Bytes& cdb, Bytes data) {
        return Send(target, cdb, DataDirection::Out, std::move(data));
    }

    std::unique_ptr<ScsiBus> bus_;
};

TEST_F(Bus, StandardInquiryReportsIdentityAndHonoursTheAllocationLength) {
    Load("[device.0.4]\ntype=tape\nqualifier=1\nremovable=1\nansi=1\n"
         "wide32=1\nvendor=HP\nproduct=C1533A\nrevision=9\n");
    Reply r = In(3, Inquiry(0, 0, 96), 96);
    ASSERT_TRUE(r.good());
    EXPECT_EQ(r.o.transferred, 96u);
    // Type, removable, version, format, additional length (96 bytes in all), sync and wide16.
    EXPECT_EQ(Bytes(r.data.begin(), r.data.begin() + 8), (Bytes{0, 0, 2, 2, 91, 0, 0, 0x30}));
    EXPECT_EQ(r.text(8, 28), "QUANTUM ATLAS II 4.5WLS 0A0A");

    Reply tape = In(4, Inquiry(0, 0, 36), 36);
    EXPECT_EQ(tape.be(0, 3), 0x218001u); // qualifier 1 type 1, removable, ANSI 1
    EXPECT_EQ(tape.data[7], 0x40);
    EXPECT_EQ(tape.text(8, 28), "HP      C1533A          9   ");

    // A short allocation length cuts the data; the rest of the host buffer is untouched,
    // and there is no underrun status unless configured.
    Reply cut = In(3, Inquiry(0, 0, 5), 96);
    EXPECT_EQ(std::make_tuple(cut.o.transferred, cut.o.haStatus, cut.data[4], cut.data[5]),
              std::make_tuple(5u, 0, 91, 0xCC));
    EXPECT_EQ(In(3, Inquiry(0, 0, 0), 96).o.transferred, 0u);
}

TEST_F(Bus, VitalProductPagesListAndReportTheSerialNumber) {
    Load("[device.0.5]\nserial=AB12\nserial_leading_blank=1\n"
         "[device.0.6]\nserial=ZZ\nserial_unsupported=1\n");
    Reply list = In(3, Inquiry(1, 0, 255), 255);
    ASSERT_TRUE(list.good());
    EXPECT_EQ(list.o.transferred, 6u);
    EXPECT_EQ(Bytes(list.data.begin(), list.data.begin() + 6), (Bytes{0, 0, 0, 2, 0, 0x80}));

    Reply serial = In(3, Inquiry(1, 0x80, 255), 255);
    ASSERT_TRUE(serial.good());
    EXPECT_EQ(serial.o.transferred, 15u);
    EXPECT_EQ(serial.be(0, 4), 0x0080000Bu);
    EXPECT_EQ(serial.text(4, 11), "PCB89701234");
    Reply blank = In(5, Inquiry(1, 0x80, 255), 255);
    EXPECT_EQ(blank.data[3], 5);
    EXPECT_EQ(blank.text(4, 5), " AB12");

    // Without a serial number the page is refused and missing from the list.
    EXPECT_TRUE(Check(In(6, Inquiry(1, 0x80, 255), 255), 0x05, 0x24));
    Reply noSerial = In(6, Inquiry(1, 0, 255), 255);
    EXPECT_EQ(std::make_tuple(noSerial.data[3], noSerial.o.transferred), std::make_tuple(1, 5u));
    EXPECT_TRUE(Check(In(3, Inquiry(1, 0x83, 255), 255), 0x05, 0x24)); // page not supported
    EXPECT_TRUE(Check(In(3, Inquiry(0, 0x80, 255), 255), 0x05, 0x24)); // page without EVPD
}

TEST_F(Bus, UnderrunOnlyWhereConfiguredOverrunWhenTheHostBufferIsShort) {
    Load("[device.0.5]\nserial=AB12\nunderrun=1\n");
    EXPECT_TRUE(In(3, Inquiry(1, 0x80, 255), 255).good()); // short data is normal
    Reply shortOne = In(5, Inquiry(1, 0x80, 255), 255);
    EXPECT_EQ(shortOne.status(), std::make_tuple(0x01, 0x12, 0));
    EXPECT_EQ(shortOne.o.transferred, 8u);
    EXPECT_EQ(shortOne.text(4, 4), "AB12");
    EXPECT_TRUE(In(5, Inquiry(0, 0, 96), 96).good()); // a full transfer is no underrun

    Reply over = In(3, Inquiry(0, 0, 96), 36);
    EXPECT_EQ(over.status(), std::make_tuple(0x04, 0x12, 0));
    EXPECT_EQ(over.o.transferred, 36u);
    EXPECT_EQ(over.text(8, 7), "QUANTUM");
}

TEST_F(Bus, ReadCapacityTestUnitReadyAndMissingMedia) {
    Load("[device.0.4]\ntype=tape\nblocks=100\n"
         "[device.0.5]\ntype=cdrom\nremovable=1\nblock_size=2048\n"
         "[device.0.6]\nblocks=1\n[device.0.7]\n");
    Reply r = In(3, kCapacity, 8);
    ASSERT_TRUE(r.good());
    EXPECT_EQ(std::make_tuple(r.be(0, 4), r.be(4, 4)), std::make_tuple(8888887u, 512u));
    EXPECT_EQ(In(6, kCapacity, 8).be(0, 4), 0u);
    EXPECT_TRUE(Check(In(4, kCapacity, 8), 0x05, 0x20)); // tapes have no capacity
    EXPECT_TRUE(Check(In(5, kCapacity, 8), 0x02, 0x3A)); // no disc
    EXPECT_TRUE(Check(NoData(5, kTur), 0x02, 0x3A));
    EXPECT_TRUE(Check(NoData(7, kSeek0), 0x02, 0x3A)); // fixed disk without blocks
    EXPECT_TRUE(NoData(7, kTur).good() && NoData(4, kTur).good());
    EXPECT_TRUE(Check(In(3, Put(kCapacity, 5, 1, 1), 8), 0x05, 0x24)); // address without PMI
}

TEST_F(Bus, ModeSenseCachingAndGeometryPages) {
    Load("[device.0.4]\ncaching_page=0\ngeometry_page=0\nwce=1\n"
         "[device.0.5]\nwce=1\nrcd=0\n");
    // DBD set: a 4-byte header followed directly by the page; RCD set, WCE clear.
    Reply c = In(3, ModeSense(0x08, 0x08), 255);
    ASSERT_TRUE(c.good());
    EXPECT_EQ(c.o.transferred, 16u);
    EXPECT_EQ(std::make_tuple(c.data[0], c.data[3], c.data[4] & 0x3F, c.data[5], c.data[6]),
              std::make_tuple(15, 0, 0x08, 0x0A, 0x01));
    EXPECT_EQ(In(5, ModeSense(0x08, 0x08), 255).data[6], 0x04);

    Reply g = In(3, ModeSense(0x08, 0x04), 255);
    ASSERT_TRUE(g.good());
    EXPECT_EQ(g.o.transferred, 28u);
    EXPECT_EQ(std::make_tuple(g.data[4] & 0x3F, g.data[5], g.be(24, 2)),
              std::make_tuple(0x04, 0x16, 7200u));

    // DBD clear: an 8-byte block descriptor comes between header and page.
    Reply d = In(3, ModeSense(0x00, 0x08), 255);
    EXPECT_EQ(std::make_tuple(d.data[3], d.be(5, 3), d.be(9, 3), d.data[12] & 0x3F, d.data[14]),
              std::make_tuple(8, 8888888u, 512u, 0x08, 0x01));

    // The allocation length cuts the data; the full length is still reported.
    Reply cut = In(3, ModeSense(0x08, 0x08, 10), 255);
    EXPECT_EQ(std::make_tuple(cut.o.transferred, cut.data[0], cut.data[10]),
              std::make_tuple(10u, 15, 0xCC));

    EXPECT_TRUE(Check(In(4, ModeSense(0x08, 0x08), 255), 0x05, 0x24));
    EXPECT_TRUE(Check(In(4, ModeSense(0x08, 0x04), 255), 0x05, 0x24));
    EXPECT_TRUE(Check(In(3, ModeSense(0x08, 0x01), 255), 0x05, 0x24));
}

TEST_F(Bus, BufferMemoryIsWrittenReadBackAndDescribed) {
    Load("[device.0.4]\nbuffer=0\n"
         "[device.0.5]\nbuffer=0x123456\ndescriptor_ff=1\n"
         "[device.0.6]\nbuffer=512\nbuffer_mismatch_at=100\n");
    Reply descriptor = In(3, Buffer(0x3C, 3, 0, 8), 8);
    ASSERT_TRUE(descriptor.good());
    EXPECT_EQ(descriptor.o.transferred, 4u);
    EXPECT_EQ(std::make_tuple(descriptor.be(0, 4), descriptor.data[4]),
              std::make_tuple(1024u, 0xCC));
    EXPECT_EQ(In(5, Buffer(0x3C, 3, 0, 8), 8).be(0, 4), 0x00FF3456u);

    Bytes pattern(512);
    for (size_t i = 0; i < pattern.size(); ++i)
        pattern[i] = i % 2 ? 0x55 : 0xAA;
    Reply written = Out(3, Buffer(0x3B, 2, 0, 512), pattern);
    ASSERT_TRUE(written.good());
    EXPECT_EQ(written.o.transferred, 512u);
    EXPECT_EQ(In(3, Buffer(0x3C, 2, 0, 512), 512).data, pattern);
    // At an offset, and through the combined header-and-data mode.
    ASSERT_TRUE(Out(3, Buffer(0x3B, 2, 1000, 24), Bytes(24, 0x5A)).good());
    EXPECT_EQ(In(3, Buffer(0x3C, 2, 1016, 8), 8).data, Bytes(8, 0x5A));
    EXPECT_EQ(In(3, Buffer(0x3C, 0, 0, 6), 6).data, (Bytes{0, 0, 4, 0, 0xAA, 0x55}));

    // Beyond the buffer memory, other buffer ids and modes are refused.
    EXPECT_TRUE(Check(In(3, Buffer(0x3C, 2, 1000, 25), 25), 0x05, 0x24));
    EXPECT_TRUE(Check(Out(3, Buffer(0x3B, 5, 0, 8), Bytes(8)), 0x05, 0x24));
    EXPECT_TRUE(Check(In(3, Put(Buffer(0x3C, 2, 0, 8), 2, 1, 1), 8), 0x05, 0x24));
    // No buffer memory: the commands are not supported at all.
    EXPECT_TRUE(Check(In(4, Buffer(0x3C, 3, 0, 8), 8), 0x05, 0x20));

    // A configured mismatch changes only the returned byte.
    ASSERT_TRUE(Out(6, Buffer(0x3B, 2, 0, 512), Bytes(512, 0xAA)).good());
    Bytes expected(512, 0xAA);
    expected[100] = 0x55;
    EXPECT_EQ(In(6, Buffer(0x3C, 2, 0, 512), 512).data, expected);
    EXPECT_EQ(In(6, Buffer(0x3C, 2, 101, 16), 16).data, Bytes(16, 0xAA));
}

TEST_F(Bus, SeekAndReadDeliverTheGeneratedMedium) {
    Load("[device.0.5]\nblocks=100\nblock_size=2048\nread_errors=50-59\n");
    EXPECT_TRUE(NoData(3, kSeek0).good());
    EXPECT_TRUE(Check(NoData(5, {0x0B, 0, 0, 100, 0, 0}), 0x05, 0x21));
    EXPECT_TRUE(NoData(5, {0x0B, 0, 0, 99, 0, 0}).good());

    Reply r = In(3, Read10(8888880, 2), 1024);
    ASSERT_TRUE(r.good());
    EXPECT_EQ(std::make_tuple(r.o.transferred, r.be(0, 4), r.be(512, 4)),
              std::make_tuple(1024u, 8888880u, 8888881u));
    EXPECT_FALSE(std::equal(r.data.begin() + 4, r.data.begin() + 512, r.data.begin() + 516));
    EXPECT_TRUE(Check(In(3, Read10(8888887, 2), 1024), 0x05, 0x21)); // past the end
    EXPECT_TRUE(In(3, Read10(8888887, 1), 512).good());              // the last block
    EXPECT_TRUE(NoData(3, Read10(0, 0)).good());                     // zero blocks

    // Blocks before the first unreadable one arrive, then a medium error.
    Reply bad = In(5, Read10(48, 4), 4 * 2048);
    EXPECT_TRUE(Check(bad, 0x03, 0x11));
    EXPECT_EQ(std::make_tuple(bad.o.transferred, bad.be(2048, 4), bad.data[2 * 2048]),
              std::make_tuple(2u * 2048, 49u, 0xCC));
    EXPECT_TRUE(Check(In(5, Read10(59, 1), 2048), 0x03, 0x11));
    EXPECT_TRUE(In(5, Read10(60, 40), 40 * 2048).good());
}

TEST_F(Bus, OtherCommandsAreRefusedAndRequestSenseTellsTheState) {
    Load("[device.0.5]\nsense_valid=1\n[device.0.6]\nnot_ready=3A/00\n");
    EXPECT_TRUE(Check(NoData(3, kStartUnit), 0x05, 0x20));
    EXPECT_TRUE(Check(Out(3, {0x2A, 0, 0, 0, 0, 0, 0, 0, 1, 0}, Bytes(512)), 0x05, 0x20));
    EXPECT_TRUE(Check(NoData(5, kStartUnit), 0x05, 0x20, 0, 0xF0)); // VALID bit set
    Reply sense = In(6, kSense, 18);
    ASSERT_TRUE(sense.good());
    EXPECT_EQ(std::make_tuple(sense.data[0], sense.data[2], sense.data[12]),
              std::make_tuple(0x70, 0x02, 0x3A));
    EXPECT_EQ(In(3, kSense, 18).data[2], 0x00);
}

TEST_F(Bus, NotReadyUntilEnoughTestUnitReadyCommandsAndOneUnitAttention) {
    Load("[device.0.5]\nnot_ready=04/01\nready_after_tur=2\nbuffer=64\nblocks=9\n"
         "[device.0.6]\nnot_ready=3A/00\n[device.0.7]\nunit_attention=29\n");
    EXPECT_TRUE(NoData(3, kTur).good());
    EXPECT_TRUE(Check(NoData(5, kTur), 0x02, 0x04, 0x01));
    // Medium commands answer not ready without counting; INQUIRY and the buffer work.
    EXPECT_TRUE(Check(In(5, kCapacity, 8), 0x02, 0x04, 0x01));
    EXPECT_TRUE(Check(In(5, Read10(0, 1), 512), 0x02, 0x04, 0x01));
    EXPECT_TRUE(In(5, Inquiry(0, 0, 96), 96).good() && In(5, Buffer(0x3C, 3, 0, 4), 4).good());
    EXPECT_TRUE(Check(NoData(5, kTur), 0x02, 0x04, 0x01));
    EXPECT_TRUE(NoData(5, kTur).good()); // the third one finds it ready
    EXPECT_TRUE(In(5, Read10(0, 1), 512).good());
    for (int i = 0; i < 5; ++i) // without ready_after_tur it never comes ready
        EXPECT_TRUE(Check(NoData(6, kTur), 0x02, 0x3A));

    // The first command of any kind meets the unit attention, once.
    EXPECT_TRUE(Check(In(7, Inquiry(0, 0, 96), 96), 0x06, 0x29));
    EXPECT_TRUE(In(7, Inquiry(0, 0, 96), 96).good() && NoData(7, kTur).good());
}

TEST_F(Bus, UnitAttentionOnChosenTestUnitReadysAndAReportedBlockLength) {
    Load("[device.0.5]\nunit_attention=28\nunit_attention_turs=2-3\n"
         "[device.0.6]\nblocks=9\nreported_block_size=0\n");
    EXPECT_TRUE(In(5, Inquiry(0, 0, 96), 96).good() && NoData(5, kTur).good());
    EXPECT_TRUE(Check(NoData(5, kTur), 0x06, 0x28));
    EXPECT_TRUE(Check(NoData(5, kTur), 0x06, 0x28));
    EXPECT_TRUE(NoData(5, kTur).good());
    Reply r = In(6, kCapacity, 8);
    EXPECT_EQ(std::make_tuple(r.be(0, 4), r.be(4, 4)), std::make_tuple(8u, 0u));
    EXPECT_TRUE(In(6, Read10(8, 1), 512).good()) << "the medium keeps its block size";
}

TEST_F(Bus, HardwareErrorAndDataProtectSpareOnlyInquiry) {
    Load("[device.0.5]\nhardware_error=40/80\nbuffer=64\n"
         "[device.0.6]\ndata_protect=27/00\nbuffer=64\n");
    struct {
        uint8_t target, key, asc, ascq;
    } const cases[] = {{5, 0x04, 0x40, 0x80}, {6, 0x07, 0x27, 0x00}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.target);
        EXPECT_TRUE(In(c.target, Inquiry(0, 0, 96), 96).good());
        EXPECT_TRUE(In(c.target, Inquiry(1, 0x80, 255), 255).good());
        int command = 0;
        for (const Reply& r : {NoData(c.target, kTur), In(c.target, Buffer(0x3C, 3, 0, 8), 8),
                               Out(c.target, Buffer(0x3B, 2, 0, 8), Bytes(8)),
                               In(c.target, ModeSense(0x08, 0x08), 255),
                               In(c.target, Read10(0, 1), 512), NoData(c.target, kStartUnit)})
            EXPECT_TRUE(Check(r, c.key, c.asc, c.ascq)) << "command " << command++;
        EXPECT_EQ(In(c.target, kSense, 18).data[2], c.key);
    }
}

TEST_F(Bus, HungCommandsNeverCompleteAndCarryTheAbortVerdict) {
    Load("[device.0.5]\nhang=12,1A\nunit_attention=29\n"
         "[device.0.6]\nhang=00\nabort_accepted=0\n");
    Reply hung = In(5, Inquiry(0, 0, 96), 96);
    EXPECT_TRUE(hung.o.neverCompletes && hung.o.abortAccepted);
    EXPECT_EQ(std::make_tuple(hung.o.srbStatus, hung.o.transferred, hung.data[0]),
              std::make_tuple(0x00, 0u, 0xCC));
    EXPECT_TRUE(In(5, ModeSense(0x08, 0x08), 255).o.neverCompletes);
    // Other commands answer, and the unit attention was still waiting for them.
    EXPECT_TRUE(Check(NoData(5, kTur), 0x06, 0x29));
    EXPECT_FALSE(NoData(5, kTur).o.neverCompletes);

    Reply refused = NoData(6, kTur);
    EXPECT_TRUE(refused.o.neverCompletes);
    EXPECT_FALSE(refused.o.abortAccepted);
}

TEST_F(Bus, AbsentTargetsUnitsAndAdapters) {
    LoadOnly("[adapter.0]\nhost_id=7\n[adapter.1]\nmissing=selection-timeout\naspi_visible=0\n"
             "[adapter.4]\nmissing=selection-timeout\n[device.0.2]\nblocks=10\n[device.1.0]\n"
             "blocks=10\n[device.4.1]\n[device.4.1.3]\ntype=scanner\n");
    EXPECT_EQ(bus_->aspiAdapters(), (std::vector<size_t>{0, 2}));
    EXPECT_TRUE(NoData(2, kTur, 0).good());
    EXPECT_EQ(NoData(3, kTur, 0).status(), std::make_tuple(0x82, 0, 0));
    EXPECT_EQ(NoData(3, kTur, 2).status(), std::make_tuple(0x04, 0x11, 0));
    EXPECT_EQ(NoData(7, kTur, 2).o.srbStatus, 0x82); // the adapter's own id
    EXPECT_TRUE(NoData(0, kTur, 1).good());          // hidden from ASPI only
    EXPECT_EQ(NoData(0, kTur, 3).o.srbStatus, 0x81);

    // Logical units other than 0 exist only where configured.
    Reply lun3 = In(1, Inquiry(0, 0, 96), 96, 3, 2);
    ASSERT_TRUE(lun3.good());
    EXPECT_EQ(lun3.data[0], 0x06);
    EXPECT_EQ(In(1, Inquiry(0, 0, 96), 96, 1, 2).o.srbStatus, 0x82);
    EXPECT_EQ(In(2, Inquiry(0, 0, 96), 96, 1, 0).o.srbStatus, 0x82);
}

TEST_F(Bus, ConcurrentCommandsKeepEachDeviceConsistent) {
    LoadOnly("[adapter.0]\n[device.0.0]\nblocks=5000\nbuffer=512\n[device.0.1]\nblocks=5000\n"
             "buffer=512\n[device.0.2]\nblocks=5000\nbuffer=512\n");
    std::vector<int> failures(3, 0);
    std::vector<std::thread> threads;
    for (uint8_t t = 0; t < 3; ++t) {
        threads.emplace_back([this, t, &failures] {
            for (uint32_t i = 0; i < 200; ++i) {
                Bytes fill(512, static_cast<uint8_t>(t * 50 + i % 50));
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
