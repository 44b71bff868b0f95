// Answers of IOCTL_SCSI_GET_INQUIRY_DATA built byte by byte, in the
// published SCSI_ADAPTER_BUS_INFO layout: the bus count, 8 bytes of bus data
// per bus from offset 4, then the chained units (a 12-byte header and the
// INQUIRY data) with offsets from the start of the answer.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace qvx::test {

constexpr size_t kAnswerSize = 2048;

struct Unit {
    BYTE target = 0;
    BYTE lun = 0;
    bool claimed = false;
    BYTE type = 0;                                         // peripheral device type
    const char* identity = "VENDOR  PRODUCT         REV1"; // bytes 8-35
    bool removable = false;
    size_t length = 36; // bytes of INQUIRY data the port kept (at least 16)
};

struct Bus {
    BYTE initiator = 7;
    std::vector<Unit> units;
};

inline void Put32(std::vector<BYTE>& a, size_t at, DWORD v) {
    std::memcpy(a.data() + at, &v, 4);
}

inline DWORD Get32(const std::vector<BYTE>& a, size_t at) {
    DWORD v;
    std::memcpy(&v, a.data() + at, 4);
    return v;
}

// 36 bytes of standard INQUIRY data.
inline std::vector<BYTE> InquiryOf(const Unit& u) {
    std::vector<BYTE> q(std::max<size_t>(u.length, 36), 0);
    q[0] = u.type;
    q[1] = u.removable ? 0x80 : 0;
    q[2] = 2;
    q[7] = 0x10;
    std::memcpy(q.data() + 8, u.identity, std::min<size_t>(28, std::strlen(u.identity)));
    q.resize(u.length);
    return q;
}

// The answer of a port with these buses; each bus's count of units is its
// chain's length.
inline std::vector<BYTE> BuildAnswer(const std::vector<Bus>& buses) {
    std::vector<BYTE> a(kAnswerSize, 0);
    a[0] = static_cast<BYTE>(buses.size());
    size_t next = 4 + 8 * buses.size();
    for (size_t b = 0; b < buses.size(); b++) {
        const size_t data = 4 + 8 * b;
        a[data] = static_cast<BYTE>(buses[b].units.size());
        a[data + 1] = buses[b].initiator;
        size_t previous = 0;
        for (const Unit& u : buses[b].units) {
            const std::vector<BYTE> q = InquiryOf(u);
            if (next + 12 + q.size() > kAnswerSize)
                break; // the rest does not fit

            if (previous)
                Put32(a, previous + 8, static_cast<DWORD>(next));
            else
                Put32(a, data + 4, static_cast<DWORD>(next));
            a[next] = static_cast<BYTE>(b);
            a[next + 1] = u.target;
            a[next + 2] = u.lun;
            a[next + 3] = u.claimed;
            Put32(a, next + 4, static_cast<DWORD>(q.size()));
            std::memcpy(a.data() + next + 12, q.data(), q.size());
            previous = next;
            next = (next + 12 + q.size() + 3) & ~size_t{3};
        }
    }
    return a;
}

} // namespace qvx::test
