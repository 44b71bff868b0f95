// What the emulated wnaspi32.dll and the iSCSI bridge say to each other over
// their loopback TCP connection. Compiled into both: the Windows library
// (mingw-w64) and the native Linux bridge (g++), both little-endian x86, so
// the packed structures are the wire format.
//
// The library listens on 127.0.0.1 at a port of its own choosing and starts
// the bridge with that port and a random cookie on its command line; the
// bridge connects back and sends a Hello with the cookie. Then the library
// sends one Request at a time and the bridge answers each with one Reply.
#pragma once

#include <cstdint>

namespace qvx::bridge {

constexpr uint32_t kHelloMagic = 0x48425651;   // "QVBH"
constexpr uint32_t kRequestMagic = 0x52425651; // "QVBR"
constexpr uint32_t kReplyMagic = 0x41425651;   // "QVBA"

// Longest portal ("HOST:PORT") and target name (IQN) a request may carry.
constexpr uint16_t kMaxPortal = 255;
constexpr uint16_t kMaxTargetName = 223;
// Largest data transfer in either direction.
constexpr uint32_t kMaxTransfer = 16u * 1024 * 1024;
// Sense bytes a reply carries at most.
constexpr uint8_t kMaxSense = 32;

enum Direction : uint8_t { kNone = 0, kIn = 1, kOut = 2 };

// How a request ended on the bridge's side.
enum Result : uint8_t {
    kDone = 0,        // the target answered: status, sense and data are valid
    kUnreachable = 1, // no session could be had (target down, login refused)
    kNoSuchLun = 2,   // the target does not report this logical unit
    kLost = 3,        // the session broke while the command was under way
    kTimedOut = 4,    // no answer within the request's time; the session is dropped
    kRefused = 5,     // the request itself was malformed
};

#pragma pack(push, 1)
struct Hello {
    uint32_t magic;  // kHelloMagic
    uint32_t pid;    // the bridge's process id
    uint64_t cookie; // as given on the bridge's command line
};

struct RequestHeader {
    uint32_t magic; // kRequestMagic
    uint8_t cdbLength;
    uint8_t direction; // Direction
    uint8_t checkLun;  // 1: answer kNoSuchLun for a unit the target does not report
    uint8_t reserved;
    uint32_t lun;
    uint32_t transferLength; // data-in: bytes the host takes; data-out: bytes that follow
    uint32_t timeoutMs;      // for the whole request, login included
    uint16_t portalLength;
    uint16_t targetLength;
    uint8_t cdb[16];
    // Followed by the portal, the target name (neither ended by 0) and the
    // data-out bytes.
};

struct ReplyHeader {
    uint32_t magic; // kReplyMagic
    uint8_t result; // Result
    uint8_t status; // SCSI status byte when kDone
    uint8_t senseLength;
    uint8_t reserved;
    uint32_t dataLength; // data-in bytes that follow the sense
    uint32_t residual;   // bytes of the transfer length that were not moved
    // Followed by the sense bytes (fixed format) and the data-in bytes.
};
#pragma pack(pop)

static_assert(sizeof(Hello) == 16, "wire format");
static_assert(sizeof(RequestHeader) == 40, "wire format");
static_assert(sizeof(ReplyHeader) == 16, "wire format");

} // namespace qvx::bridge
