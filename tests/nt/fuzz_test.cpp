// The NT scan's three steps fed 100 000 generated and mutated inquiry-data
// answers. Each answer ends just before a page nothing may touch, so a read
// past its 2048 bytes crashes the test; the slots outside the adapter's
// block carry a canary that must survive, and every slot of the block must
// hold its own target id. A chain that loops must not hang the walk.
#include <gtest/gtest.h>
#include <windows.h>

#include <random>

#include "answers.h"
#include "inventory/inventory.h"
#include "inventory/ntscan.h"
#include "nt_fixture.h"

namespace qvx::test {
namespace {

std::mt19937 g_random(20261206);

DWORD Pick(DWORD low, DWORD high) {
    return std::uniform_int_distribution<DWORD>(low, high)(g_random);
}

// A well-formed answer: up to three buses of up to 20 units of any target,
// unit, type and claim.
std::vector<BYTE> Generate() {
    std::vector<Bus> buses(Pick(0, 3));
    for (Bus& bus : buses) {
        bus.initiator = static_cast<BYTE>(Pick(0, 3) ? Pick(0, 15) : Pick(0, 255));
        bus.units.resize(Pick(0, 20));
        for (Unit& u : bus.units) {
            u.target = static_cast<BYTE>(Pick(0, 4) ? Pick(0, 15) : Pick(0, 255));
            u.lun = static_cast<BYTE>(Pick(0, 3) ? 0 : Pick(0, 7));
            u.claimed = Pick(0, 1);
            u.type = static_cast<BYTE>(Pick(0, 3) ? Pick(0, 8) : Pick(0, 255));
            u.removable = Pick(0, 1);
        }
    }
    return BuildAnswer(buses);
}

// Offsets that lie near the end of the answer, far past it, at its start,
// or on another unit's header (which makes a chain loop).
DWORD BadOffset(const std::vector<BYTE>& a) {
    switch (Pick(0, 5)) {
    case 0:
        return Pick(kAnswerSize - 48, kAnswerSize + 16);
    case 1:
        return Pick(kAnswerSize, 0xFFFFFFFF);
    case 2:
        return Pick(1, 16);
    case 3:
        return Get32(a, 8); // the first unit of bus 0
    default:
        return Pick(0, kAnswerSize);
    }
}

// Changes a few bytes, counts, offsets or lengths of an answer.
void Mutate(std::vector<BYTE>& a) {
    for (DWORD n = Pick(1, 6); n > 0; n--) {
        switch (Pick(0, 5)) {
        case 0:
            a[Pick(0, kAnswerSize - 1)] = static_cast<BYTE>(Pick(0, 255));
            break;
        case 1: // the bus count or a bus's unit count
            a[Pick(0, 1) ? 0 : 4 + 8 * Pick(0, 3)] = static_cast<BYTE>(Pick(0, 255));
            break;
        case 2: // a bus's first offset
            Put32(a, 8 + 8 * Pick(0, 3), BadOffset(a));
            break;
        default: { // a unit's length or next offset, found by walking bus 0
            DWORD at = Get32(a, 8);
            for (DWORD hops = Pick(0, 6); hops > 0 && at && at < kAnswerSize - 12; hops--)
                at = Get32(a, at + 8);
            if (at && at < kAnswerSize - 12)
                Put32(a, at + (Pick(0, 1) ? 4 : 8), Pick(0, 1) ? BadOffset(a) : Pick(0, 4096));
        }
        }
    }
}

// The whole table marked, the adapter's block left empty for the scan.
void MarkTable(int firstSlot, int per) {
    std::memset(DeviceTable, 0, sizeof DeviceTable);
    for (int s = 0; s < MAX_DEVICE_SLOTS; s++) {
        if (s >= firstSlot && s < firstSlot + per)
            continue;
        CopyText(DeviceTable[s].TypeText, sizeof DeviceTable[s].TypeText, "canary");
        DeviceTable[s].TargetId = static_cast<BYTE>(s);
    }
}

using ScanFuzz = NtTest;

TEST_F(ScanFuzz, MutatedAnswersStayInsideTheAnswerAndTheTable) {
    // The answer sits at the end of its page, before a page that faults.
    BYTE* pages = static_cast<BYTE*>(VirtualAlloc(nullptr, 3 * 4096, MEM_RESERVE, PAGE_NOACCESS));
    ASSERT_NE(pages, nullptr);
    ASSERT_NE(VirtualAlloc(pages, 2 * 4096, MEM_COMMIT, PAGE_READWRITE), nullptr);
    BYTE* answer = pages + 2 * 4096 - kAnswerSize;
    int placed = 0, withRows = 0;
    for (int round = 0; round < 100000; round++) {
        std::vector<BYTE> a = Generate();
        if (round % 5)
            Mutate(a);
        std::memcpy(answer, a.data(), kAnswerSize);
        const int index = static_cast<int>(Pick(0, 6));
        HighestTargetId = Pick(0, 3) ? 15 : 7;
        const int per = HighestTargetId == 15 ? 16 : 8;
        const bool fits = (index + 1) * per <= MAX_DEVICE_SLOTS;
        std::memset(HostAdapterTable, 0, sizeof HostAdapterTable);
        HostAdapterRecord& record = HostAdapterTable[index];
        CopyText(record.Identifier, sizeof record.Identifier, "FUZZ");
        record.AdapterNumber = static_cast<BYTE>(index);
        MarkTable(index * per, per);
        TotalDeviceCount = 0;

        RecordBusInfo(answer, index);
        ParsePortInquiryData(answer, index);
        PlaceAdapterDevices(index);

        ASSERT_LE(PortDeviceCount, PORT_DEVICE_LIST_SIZE);
        ASSERT_EQ(TotalDeviceCount, fits ? per : 0) << "round " << round;
        for (int s = 0; s < MAX_DEVICE_SLOTS; s++) {
            const DeviceRecord& slot = DeviceTable[s];
            const bool mine = fits && s >= index * per && s < (index + 1) * per;
            if (!mine) {
                ASSERT_STREQ(slot.TypeText, "canary") << "round " << round << " slot " << s;
                ASSERT_EQ(slot.TargetId, s) << "round " << round << " slot " << s;
                continue;
            }
            ASSERT_NE(slot.TypeText[0], '\0') << "round " << round << " slot " << s;
            ASSERT_EQ(slot.TargetId, s - index * per) << "round " << round << " slot " << s;
            ASSERT_EQ(slot.AdapterNumber, index) << "round " << round;
        }
        ASSERT_LE(record.DeviceCount, per);
        // The adapter's own row sits at bus 0's initiator id.
        ASSERT_EQ(record.HostScsiId, answer[5]);
        if (fits && answer[5] < per) {
            ASSERT_STREQ(DeviceTable[index * per + answer[5]].TypeText, "Host Adapter");
        }
        placed += record.DeviceCount;
        withRows += fits;
    }
    VirtualFree(pages, 0, MEM_RELEASE);
    // The answers reached the placing step, not only the checks.
    EXPECT_GT(placed, 100000);
    EXPECT_GT(withRows, 50000);
}

} // namespace
} // namespace qvx::test
