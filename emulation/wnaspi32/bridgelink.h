// The library's side of the iSCSI bridge: starts the bridge (a native Linux
// program, run by Wine like any other executable) on first use, keeps its
// loopback connection and carries one request at a time over it.
//
// The bridge is found through QVX_ISCSI_BRIDGE (a Unix or Windows path),
// else as qvx-iscsi-bridge beside this library or beside the program. It
// connects back to a port the library listens on and proves itself with the
// cookie it was given. When it is gone, the request under way fails and the
// next one starts a new bridge.
#pragma once

#include <windows.h>

#include "../iscsi-bridge/protocol.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace qvx::emu {

struct BridgeRequest {
    std::string portal; // HOST:PORT, any ${NAME} already replaced
    std::string target;
    uint32_t lun = 0;
    bool checkLun = false;
    uint8_t cdb[16] = {};
    uint8_t cdbLength = 0;
    uint8_t direction = bridge::kNone;
    uint32_t transferLength = 0;
    std::vector<uint8_t> dataOut;
    uint32_t timeoutMs = 0;
};

struct BridgeReply {
    uint8_t result = bridge::kUnreachable;
    uint8_t status = 0;
    std::vector<uint8_t> sense;
    std::vector<uint8_t> dataIn;
    uint32_t residual = 0;
};

class BridgeLink {
  public:
    BridgeLink() = default;
    ~BridgeLink();
    BridgeLink(const BridgeLink&) = delete;
    BridgeLink& operator=(const BridgeLink&) = delete;

    // Carries one request; waits at most its time and a little more for the
    // bridge. One caller at a time.
    BridgeReply Run(const BridgeRequest& request);
    // Ends a Run under way at once (from another thread): it fails as lost.
    void Interrupt();
    // Lets the bridge go (it ends when its connection closes); the next
    // request starts a new one, which logs in to every target afresh.
    void Reset() {
        std::lock_guard<std::mutex> lock(run_);
        Drop();
    }
    // Test hook: kills the bridge process (SIGKILL) and waits, at most
    // `waitMs`, until its end has closed the connection. The connection is
    // left as it is, so that the next request meets the loss. False when no
    // bridge runs or its end was not seen in time.
    bool Kill(DWORD waitMs);

  private:
    bool Start();
    bool Exchange(const BridgeRequest& request, BridgeReply& reply);
    void Drop();

    std::mutex run_;               // held by Run and Kill
    std::mutex sock_;              // guards socket_ against Interrupt
    uintptr_t socket_ = kNoSocket; // a SOCKET
    static constexpr uintptr_t kNoSocket = ~uintptr_t{0};
    uint32_t pid_ = 0;
    DWORD receiveTimeoutMs_ = 0; // as set on socket_
    bool winsock_ = false;
};

// A portal with each ${NAME} replaced by the environment variable's value
// (empty when it is not set).
std::string ExpandPortal(const std::string& portal);

} // namespace qvx::emu
