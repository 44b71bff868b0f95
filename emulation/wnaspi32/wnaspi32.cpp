// ASPI for Win32 over the virtual SCSI bus of an emulated machine.
//
// The machine comes from the file named by the environment variable
// QVX_MACHINE, else from qvxmachine.ini in the Windows directory (laid there
// by qvxmachine.exe). Requests whose modelled time is zero complete inside
// SendASPI32Command; the others are handed back pending and completed by a
// worker thread once their time has passed; requests to a hung command stay
// pending until they are aborted.
//
// The bus journals every request; when QVX_JOURNAL names a file, the journal
// lines are appended to it as well. Test-only exports (qvxemu.h) replace the
// machine, read and clear the journal and hold the worker thread.
#include "bridgelink.h"
#include "wnaspi32.h"

#include "qvxemu.h"
#include "scsibus/busfiles.h"
#include "scsibus/scsibus.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <memory>
#include <vector>

namespace {

using qvx::emu::AspiState;
using qvx::emu::BridgeLink;
using qvx::emu::BridgeReply;
using qvx::emu::BridgeRequest;
using qvx::emu::DataDirection;
using qvx::emu::HostTag;
using qvx::emu::JournalEntry;
using qvx::emu::Machine;
using qvx::emu::ScsiBus;
using qvx::emu::ScsiOutcome;
using qvx::emu::ScsiRequest;

// Status of GetASPI32SupportInfo when the manager sees no host adapter.
constexpr BYTE kNoAdapters = 0xE8;
// The largest transfer the emulated adapters report in their unique bytes.
constexpr DWORD kMaxTransfer = 0x00100000;
constexpr size_t kSenseBytes = sizeof(ScsiOutcome{}.sense);
// How long before a request is due the worker stops waiting on its wake-up
// event, whose time-outs run a millisecond or two late, and sleeps the rest
// precisely.
constexpr LONGLONG kWakeMarginMs = 2;
// The longest an iSCSI target may take over one command (login included);
// longer than any of the program's own limits, so that the program gives up
// first on a target that does not answer, as it would on a slow device.
constexpr uint32_t kRemoteTimeoutMs = 10000;
// How long the test hook waits for a killed bridge to be gone.
constexpr DWORD kKillWaitMs = 10000;

// The last microseconds before a request is due, which a sleep may
// overshoot, are spun.
constexpr LONGLONG kSpinUs = 200;

// Sleeps `ticks` of the performance counter without waking for new work.
// Wine carries a non-alertable NtDelayExecution out with select() and its
// microseconds, not with the wineserver's millisecond time-outs; unlike a
// spin it leaves the processor to the program, which needs it to take the
// completion.
void SleepPrecisely(LONGLONG ticks, LONGLONG ticksPerSecond) {
    using DelayFn = LONG(WINAPI*)(BOOLEAN, PLARGE_INTEGER);
    static const auto delay = reinterpret_cast<DelayFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtDelayExecution")));
    LARGE_INTEGER interval;
    interval.QuadPart = -(ticks * 10000000 / ticksPerSecond); // relative, 100 ns units
    if (delay && interval.QuadPart < 0)
        delay(FALSE, &interval);
}

// Writes a block's status last, with release order, so that a thread polling
// SRB_Status sees every other field of the completed block.
void PublishStatus(BYTE* status, BYTE value) {
    __atomic_store_n(status, value, __ATOMIC_RELEASE);
}

class Lock {
  public:
    explicit Lock(CRITICAL_SECTION& cs) : cs_(cs) {
        EnterCriticalSection(&cs_);
    }
    ~Lock() {
        LeaveCriticalSection(&cs_);
    }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

  private:
    CRITICAL_SECTION& cs_;
};

// A completed request's notification, given after the state lock is let go
// so that a posting routine may send the next request.
struct Notice {
    void* srb;
    BYTE flags;
    void* postProc;
};

void Notify(const Notice& n) {
    if (!n.srb)
        return;
    if ((n.flags & SRB_EVENT_NOTIFY) && n.postProc)
        SetEvent(static_cast<HANDLE>(n.postProc));
    else if ((n.flags & SRB_POSTING) && n.postProc)
        reinterpret_cast<void(__cdecl*)(void*)>(n.postProc)(n.srb);
}

// A request handed back pending.
struct PendingRequest {
    PendingRequest(SRB_ExecSCSICmd* block, const ScsiOutcome& o, std::vector<uint8_t> in,
                   DWORD sent)
        : srb(block), haId(block->SRB_HaId), target(block->SRB_Target), lun(block->SRB_Lun),
          outcome(o), dataIn(std::move(in)), hung(o.neverCompletes), due(0), sentTick(sent) {}

    SRB_ExecSCSICmd* srb;
    BYTE haId;
    BYTE target;
    BYTE lun;
    ScsiOutcome outcome;
    std::vector<uint8_t> dataIn; // data held until completion
    bool hung;
    LONGLONG due;   // performance-counter ticks
    DWORD sentTick; // GetTickCount() at arrival, the program's own clock
    // A request for a unit of an iSCSI target: what goes to the bridge, and
    // how this adapter reports what comes back.
    uint64_t id = 0;
    bool remote = false;
    bool inFlight = false; // the worker is carrying it
    BridgeRequest bridge;
    bool underrunAdapter = false;
    bool missingTimesOut = false;
};

// The ASPI outcome of a request the bridge carried: a target's answer as a
// real adapter reports it (a short transfer as the adapter's
// `short_transfer` says), a unit the target does not have as the adapter's
// `missing` says, an unreachable target as a selection time-out, a session
// that broke as an unexpected bus free, and a target out of time as a
// command time-out.
ScsiOutcome RemoteOutcome(const PendingRequest& p, const BridgeReply& r) {
    ScsiOutcome o;
    o.srbStatus = SS_ERR;
    switch (r.result) {
    case qvx::bridge::kDone: {
        o.targetStatus = r.status;
        o.transferred = static_cast<uint32_t>(r.dataIn.size());
        if (p.bridge.direction == qvx::bridge::kOut)
            o.transferred = p.bridge.transferLength - std::min(r.residual, p.bridge.transferLength);
        if (r.status == STATUS_CHKCOND)
            memcpy(o.sense, r.sense.data(), std::min(r.sense.size(), sizeof o.sense));
        bool good =
            r.status == STATUS_GOOD || r.status == STATUS_CONDMET || r.status == STATUS_INTCDMET;
        if (good) {
            o.srbStatus = SS_COMP;
            if (p.underrunAdapter && o.transferred < p.bridge.transferLength)
                o.haStatus = HASTAT_DO_DU;
        }
        break;
    }
    case qvx::bridge::kNoSuchLun:
        if (p.missingTimesOut)
            o.haStatus = HASTAT_SEL_TO;
        else
            o.srbStatus = SS_NO_DEVICE;
        break;
    case qvx::bridge::kLost:
        o.haStatus = HASTAT_BUS_FREE;
        break;
    case qvx::bridge::kTimedOut:
        o.haStatus = HASTAT_COMMAND_TIMEOUT;
        break;
    case qvx::bridge::kRefused:
        o.srbStatus = SS_INVALID_SRB;
        break;
    default: // kUnreachable
        o.haStatus = HASTAT_SEL_TO;
        break;
    }
    return o;
}

class AspiManager {
  public:
    explicit AspiManager(CRITICAL_SECTION* lock) : lock_(lock) {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        ticksPerSecond_ = f.QuadPart;
    }
    ~AspiManager() {
        CloseWorkerHandles();
    }
    AspiManager(const AspiManager&) = delete;
    AspiManager& operator=(const AspiManager&) = delete;

    // Loads the machine the library was installed with, once.
    void EnsureMachine();
    bool Replace(std::unique_ptr<ScsiBus> bus);

    // The journal of the current machine (none without one).
    std::vector<JournalEntry> Journal();
    void ClearJournal();
    void HoldWorker(bool hold);
    bool KillBridge() {
        return link_.Kill(kKillWaitMs);
    }

    DWORD SupportInfo();
    DWORD Send(void* block);

    // Ends the worker thread. Under the loader lock (DLL unload) a thread
    // cannot exit normally (its exit waits for that lock), so the worker is
    // parked in a wait that holds nothing and then terminated there.
    void StopWorker(bool underLoaderLock);

  private:
    BYTE ReadyStatus() const;
    size_t AdapterCount() const;
    BYTE AdapterStatus(BYTE haId) const;
    DWORD HostAdapterInquiry(SRB_HAInquiry* srb);
    DWORD Execute(SRB_ExecSCSICmd* srb);
    DWORD Abort(SRB_Abort* srb);
    DWORD DeviceType(SRB_GDEVBlock* srb);
    DWORD ResetDevice(SRB_BusDeviceReset* srb);
    const qvx::emu::DeviceConfig* FindDevice(BYTE ha, BYTE target, BYTE lun) const;

    BYTE Complete(SRB_ExecSCSICmd* srb, const ScsiOutcome& outcome,
                  const std::vector<uint8_t>& dataIn, std::vector<Notice>& notices);
    BYTE EndAborted(SRB_ExecSCSICmd* srb, std::vector<Notice>& notices);
    void EnsureWorker();
    void WorkerLoop();
    void CarryRemote(std::vector<Notice>& notices);
    static DWORD WINAPI WorkerMain(LPVOID self);
    void CloseWorkerHandles();
    LONGLONG Now() const;

    CRITICAL_SECTION* lock_;
    bool loaded_ = false;
    std::unique_ptr<ScsiBus> bus_;
    std::vector<PendingRequest> pending_;
    LONGLONG ticksPerSecond_ = 1;

    HANDLE worker_ = nullptr;
    HANDLE wake_ = nullptr;    // auto-reset: new work or stop
    HANDLE running_ = nullptr; // the worker has started
    HANDLE parked_ = nullptr;  // the worker has left its loop
    HANDLE release_ = nullptr; // lets a parked worker return and exit
    bool stopping_ = false;
    bool held_ = false; // a test holds the worker: nothing completes

    BridgeLink link_; // used by the worker alone (Interrupt and the test hook aside)
    uint64_t nextId_ = 1;
};

CRITICAL_SECTION g_lock;
AspiManager* g_manager = nullptr;

LONGLONG AspiManager::Now() const {
    LARGE_INTEGER c;
    QueryPerformanceCounter(&c);
    return c.QuadPart;
}

void AspiManager::EnsureMachine() {
    {
        Lock lock(*lock_);
        if (loaded_)
            return;
    }
    std::string path = qvx::emu::MachineFilePath();
    std::unique_ptr<ScsiBus> bus = path.empty() ? nullptr : qvx::emu::OpenBus(path);
    Lock lock(*lock_);
    if (!loaded_) {
        bus_ = std::move(bus);
        loaded_ = true;
    }
}

bool AspiManager::Replace(std::unique_ptr<ScsiBus> bus) {
    StopWorker(false);
    // New sessions with the iSCSI targets: their units start afresh too (a
    // target reports a reset to every new session).
    link_.Reset();
    Lock lock(*lock_);
    // Requests of the old machine stay pending for ever: nothing writes them.
    pending_.clear();
    bus_ = std::move(bus);
    loaded_ = true;
    stopping_ = false;
    return true;
}

std::vector<JournalEntry> AspiManager::Journal() {
    Lock lock(*lock_);
    return bus_ ? bus_->JournalEntries() : std::vector<JournalEntry>();
}

void AspiManager::ClearJournal() {
    Lock lock(*lock_);
    if (bus_)
        bus_->ClearJournal();
}

void AspiManager::HoldWorker(bool hold) {
    Lock lock(*lock_);
    held_ = hold;
    if (wake_)
        SetEvent(wake_);
}

BYTE AspiManager::ReadyStatus() const {
    if (!bus_)
        return kNoAdapters;
    switch (bus_->machine().aspi) {
    case AspiState::NotAvailable:
        return SS_FAILED_INIT;
    case AspiState::Absent:
        return SS_NO_ASPI;
    case AspiState::Installed:
        break;
    }
    return SS_COMP;
}

// SS_COMP when a request may be sent to adapter haId; else the status that
// refuses it (the manager not ready, or no such adapter).
BYTE AspiManager::AdapterStatus(BYTE haId) const {
    BYTE ready = ReadyStatus();
    if (ready != SS_COMP && ready != kNoAdapters)
        return ready;
    return haId < AdapterCount() ? SS_COMP : SS_INVALID_HA;
}

// Adapters that ASPI requests may name (none when the manager reports none).
size_t AspiManager::AdapterCount() const {
    if (!bus_ || bus_->machine().reportZeroAdapters || ReadyStatus() != SS_COMP)
        return 0;
    return std::min<size_t>(bus_->aspiAdapters().size(), 255);
}

DWORD AspiManager::SupportInfo() {
    Lock lock(*lock_);
    if (!bus_)
        return kNoAdapters << 8;
    const Machine& m = bus_->machine();
    DWORD visible = static_cast<DWORD>(std::min<size_t>(bus_->aspiAdapters().size(), 255));
    switch (m.aspi) {
    case AspiState::NotAvailable:
        return (SS_FAILED_INIT << 8) | visible;
    case AspiState::Absent:
        return SS_NO_ASPI << 8;
    case AspiState::Installed:
        break;
    }
    if (m.reportZeroAdapters)
        return SS_COMP << 8;
    if (visible == 0)
        return kNoAdapters << 8;
    return (SS_COMP << 8) | visible;
}

DWORD AspiManager::Send(void* block) {
    auto* header = static_cast<SRB_Header*>(block);
    switch (header->SRB_Cmd) {
    case SC_HA_INQUIRY:
        return HostAdapterInquiry(static_cast<SRB_HAInquiry*>(block));
    case SC_GET_DEV_TYPE:
        return DeviceType(static_cast<SRB_GDEVBlock*>(block));
    case SC_EXEC_SCSI_CMD:
        return Execute(static_cast<SRB_ExecSCSICmd*>(block));
    case SC_ABORT_SRB:
        return Abort(static_cast<SRB_Abort*>(block));
    case SC_RESET_DEV:
        return ResetDevice(static_cast<SRB_BusDeviceReset*>(block));
    default:
        header->SRB_Status = SS_INVALID_CMD;
        return SS_INVALID_CMD;
    }
}

DWORD AspiManager::HostAdapterInquiry(SRB_HAInquiry* srb) {
    Lock lock(*lock_);
    if (bus_)
        bus_->RecordAdapterQuery(HostTag{srb->SRB_HaId, srb->SRB_Flags, {}, 0, 0}, SC_HA_INQUIRY);
    BYTE ready = ReadyStatus();
    if (ready != SS_COMP && ready != kNoAdapters) {
        srb->SRB_Status = ready;
        return ready;
    }
    size_t count = AdapterCount();
    srb->HA_Count = static_cast<BYTE>(count);
    if (srb->SRB_HaId >= count) {
        srb->SRB_Status = SS_INVALID_HA;
        return SS_INVALID_HA;
    }
    const auto& a = bus_->machine().adapters[bus_->aspiAdapters()[srb->SRB_HaId]];
    srb->HA_SCSI_ID = a.hostId;
    memset(srb->HA_ManagerId, 0, sizeof srb->HA_ManagerId);
    memcpy(srb->HA_ManagerId, a.managerId.data(),
           std::min(a.managerId.size(), sizeof srb->HA_ManagerId));
    memset(srb->HA_Identifier, 0, sizeof srb->HA_Identifier);
    memcpy(srb->HA_Identifier, a.identifier.data(),
           std::min(a.identifier.size(), sizeof srb->HA_Identifier));
    // Unique bytes: 0-1 buffer alignment mask (bytes), 2 bit 1 residual
    // byte count supported, 3 maximum targets, 4-7 largest transfer.
    memset(srb->HA_Unique, 0, sizeof srb->HA_Unique);
    srb->HA_Unique[2] = 0x02;
    srb->HA_Unique[3] = a.maxTargets;
    memcpy(srb->HA_Unique + 4, &kMaxTransfer, sizeof kMaxTransfer);
    srb->SRB_Status = SS_COMP;
    return SS_COMP;
}

const qvx::emu::DeviceConfig* AspiManager::FindDevice(BYTE ha, BYTE target, BYTE lun) const {
    const auto& a = bus_->machine().adapters[bus_->aspiAdapters()[ha]];
    for (const auto& d : a.devices)
        if (d.target == target && d.lun == lun)
            return &d;
    return nullptr;
}

// Answered from the devices the manager found when it started, as a real
// manager answers from its start-up scan.
DWORD AspiManager::DeviceType(SRB_GDEVBlock* srb) {
    Lock lock(*lock_);
    BYTE status = AdapterStatus(srb->SRB_HaId);
    if (status == SS_COMP) {
        if (const auto* d = FindDevice(srb->SRB_HaId, srb->SRB_Target, srb->SRB_Lun))
            srb->SRB_DeviceType = d->peripheralType;
        else
            status = SS_NO_DEVICE;
    }
    srb->SRB_Status = status;
    return status;
}

BYTE AspiManager::Complete(SRB_ExecSCSICmd* srb, const ScsiOutcome& outcome,
                           const std::vector<uint8_t>& dataIn, std::vector<Notice>& notices) {
    DWORD moved = std::min<DWORD>(outcome.transferred, srb->SRB_BufLen);
    if ((srb->SRB_Flags & SRB_DIR_IN) && srb->SRB_BufPointer && moved)
        memcpy(srb->SRB_BufPointer, dataIn.data(), std::min<size_t>(moved, dataIn.size()));
    srb->SRB_HaStat = outcome.haStatus;
    srb->SRB_TargStat = outcome.targetStatus;
    if (outcome.targetStatus == STATUS_CHKCOND)
        memcpy(srb->SenseArea, outcome.sense, std::min<size_t>(srb->SRB_SenseLen, kSenseBytes));
    if (srb->SRB_Flags & SRB_ENABLE_RESIDUAL_COUNT)
        srb->SRB_BufLen -= moved;
    PublishStatus(&srb->SRB_Status, outcome.srbStatus);
    notices.push_back({srb, srb->SRB_Flags, srb->SRB_PostProc});
    return outcome.srbStatus;
}

BYTE AspiManager::EndAborted(SRB_ExecSCSICmd* srb, std::vector<Notice>& notices) {
    srb->SRB_HaStat = HASTAT_OK;
    srb->SRB_TargStat = STATUS_GOOD;
    PublishStatus(&srb->SRB_Status, SS_ABORTED);
    notices.push_back({srb, srb->SRB_Flags, srb->SRB_PostProc});
    return SS_ABORTED;
}

DWORD AspiManager::Execute(SRB_ExecSCSICmd* srb) {
    const DWORD sentTick = GetTickCount();
    // A command's modelled time runs from its arrival: the time the bus
    // takes to make its data (tens of microseconds for 64 KB of medium) is
    // part of it, as a device transfers while it works.
    const LONGLONG arrival = Now();
    std::vector<Notice> notices;
    BYTE status = SS_PENDING;
    {
        Lock lock(*lock_);
        // A block handed in again belongs to its caller once more: whatever
        // it carried before is forgotten and is never written.
        pending_.erase(std::remove_if(pending_.begin(), pending_.end(),
                                      [srb](const PendingRequest& p) { return p.srb == srb; }),
                       pending_.end());
        BYTE adapter = AdapterStatus(srb->SRB_HaId);
        const BYTE dirs = srb->SRB_Flags & (SRB_DIR_IN | SRB_DIR_OUT);
        const bool hasData = dirs != 0 && srb->SRB_BufLen != 0;
        if (adapter != SS_COMP) {
            status = adapter;
        } else if (srb->SRB_CDBLen == 0 || srb->SRB_CDBLen > sizeof srb->CDBByte ||
                   dirs == (SRB_DIR_IN | SRB_DIR_OUT) ||
                   (srb->SRB_Flags & (SRB_POSTING | SRB_EVENT_NOTIFY)) ==
                       (SRB_POSTING | SRB_EVENT_NOTIFY) ||
                   (hasData && !srb->SRB_BufPointer)) {
            status = SS_INVALID_SRB;
        }
        if (status != SS_PENDING) {
            srb->SRB_Status = status;
            return status;
        }
        srb->SRB_Status = SS_PENDING;
        srb->SRB_HaStat = HASTAT_OK;
        srb->SRB_TargStat = STATUS_GOOD;

        ScsiRequest request;
        request.adapter = static_cast<uint8_t>(bus_->aspiAdapters()[srb->SRB_HaId]);
        request.target = srb->SRB_Target;
        request.lun = srb->SRB_Lun;
        memcpy(request.cdb, srb->CDBByte, srb->SRB_CDBLen);
        request.cdbLength = srb->SRB_CDBLen;
        request.host = HostTag{srb->SRB_HaId, srb->SRB_Flags, {}, 0, 0};
        std::vector<uint8_t> dataIn;
        if (hasData && dirs == SRB_DIR_IN) {
            dataIn.assign(srb->SRB_BufLen, 0);
            request.direction = DataDirection::In;
            request.data = dataIn.data();
            request.dataLength = srb->SRB_BufLen;
        } else if (hasData) {
            request.direction = DataDirection::Out;
            request.data = srb->SRB_BufPointer;
            request.dataLength = srb->SRB_BufLen;
        }
        ScsiOutcome outcome = bus_->Execute(request);

        if (outcome.remote) {
            const auto& a = bus_->machine().adapters[request.adapter];
            PendingRequest p(srb, outcome, {}, sentTick);
            p.id = nextId_++;
            p.remote = true;
            p.underrunAdapter = a.shortTransfer == qvx::emu::ShortTransfer::Underrun;
            p.missingTimesOut = a.missing == qvx::emu::MissingTarget::SelectionTimeout;
            BridgeRequest& b = p.bridge;
            b.portal = qvx::emu::ExpandPortal(outcome.remote->target.portal);
            b.target = outcome.remote->target.name;
            b.lun = outcome.remote->lun;
            b.checkLun = outcome.remote->checkLun;
            memcpy(b.cdb, request.cdb, sizeof b.cdb);
            b.cdbLength = request.cdbLength;
            b.direction = request.direction == DataDirection::In    ? qvx::bridge::kIn
                          : request.direction == DataDirection::Out ? qvx::bridge::kOut
                                                                    : qvx::bridge::kNone;
            b.transferLength = request.dataLength;
            if (request.direction == DataDirection::Out) // the caller may reuse its buffer
                b.dataOut.assign(request.data, request.data + request.dataLength);
            b.timeoutMs = kRemoteTimeoutMs;
            pending_.push_back(std::move(p));
            EnsureWorker();
            if (wake_)
                SetEvent(wake_);
            return status;
        }

        // Request errors (no such device, bad adapter) come back at once.
        if (outcome.srbStatus >= SS_INVALID_CMD ||
            (!outcome.neverCompletes && !outcome.durationUs)) {
            status = Complete(srb, outcome, dataIn, notices);
        } else {
            PendingRequest p(srb, outcome, std::move(dataIn), sentTick);
            if (!p.hung)
                p.due =
                    arrival + static_cast<LONGLONG>(outcome.durationUs) * ticksPerSecond_ / 1000000;
            pending_.push_back(std::move(p));
            if (!outcome.neverCompletes) {
                EnsureWorker();
                if (wake_)
                    SetEvent(wake_); // the worker may be waiting for an earlier one
            }
        }
    }
    for (const Notice& n : notices)
        Notify(n);
    return status;
}

// A pending hung request whose device takes aborts ends SS_ABORTED and the
// abort SS_COMP; a refused abort ends SS_ABORT_FAIL and the request stays
// pending. A slow request that is still running can always be aborted. An
// abort of a block that is not pending on that adapter has nothing to do and
// completes SS_COMP.
DWORD AspiManager::Abort(SRB_Abort* srb) {
    std::vector<Notice> notices;
    BYTE status;
    {
        Lock lock(*lock_);
        status = AdapterStatus(srb->SRB_HaId);
        if (status == SS_COMP) {
            auto it =
                std::find_if(pending_.begin(), pending_.end(), [srb](const PendingRequest& p) {
                    return p.srb == srb->SRB_ToAbort && p.haId == srb->SRB_HaId;
                });
            if (it != pending_.end()) {
                bus_->NoteAbort(it->outcome.sequence, GetTickCount() - it->sentTick);
                if (it->hung && !it->outcome.abortAccepted) {
                    status = SS_ABORT_FAIL;
                } else {
                    EndAborted(it->srb, notices);
                    pending_.erase(it);
                }
            }
        }
        srb->SRB_Status = status;
    }
    for (const Notice& n : notices)
        Notify(n);
    return status;
}

// A device reset ends every request still pending on that target as aborted.
DWORD AspiManager::ResetDevice(SRB_BusDeviceReset* srb) {
    std::vector<Notice> notices;
    BYTE status;
    {
        Lock lock(*lock_);
        status = AdapterStatus(srb->SRB_HaId);
        if (status == SS_COMP && !FindDevice(srb->SRB_HaId, srb->SRB_Target, 0))
            status = SS_NO_DEVICE;
        if (status == SS_COMP) {
            for (auto it = pending_.begin(); it != pending_.end();) {
                if (it->haId == srb->SRB_HaId && it->target == srb->SRB_Target) {
                    EndAborted(it->srb, notices);
                    it = pending_.erase(it);
                } else {
                    ++it;
                }
            }
            srb->SRB_HaStat = HASTAT_OK;
            srb->SRB_TargStat = STATUS_GOOD;
        }
        PublishStatus(&srb->SRB_Status, status);
        if (status == SS_COMP)
            notices.push_back({srb, srb->SRB_Flags, srb->SRB_PostProc});
    }
    for (const Notice& n : notices)
        Notify(n);
    return status;
}

// Called with the lock held.
void AspiManager::EnsureWorker() {
    if (worker_ || stopping_)
        return;
    wake_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    running_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    parked_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    release_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (wake_ && running_ && parked_ && release_)
        worker_ = CreateThread(nullptr, 0, WorkerMain, this, 0, nullptr);
    if (!worker_) {
        CloseWorkerHandles();
        return;
    }
    // Wait until the thread runs, so that an unload right after this call
    // never waits for a thread that still needs the loader to start.
    WaitForSingleObject(running_, INFINITE);
}

DWORD WINAPI AspiManager::WorkerMain(LPVOID self) {
    auto* m = static_cast<AspiManager*>(self);
    SetEvent(m->running_);
    m->WorkerLoop();
    // Parks: tells the stopper it has left the loop and, in the same step,
    // waits to be let go (or to be terminated during an unload).
    SignalObjectAndWait(m->parked_, m->release_, INFINITE, FALSE);
    return 0;
}

void AspiManager::WorkerLoop() {
    for (;;) {
        std::vector<Notice> notices;
        DWORD wait = INFINITE;
        LONGLONG nearest = 0; // ticks to the next request due within the margin
        {
            Lock lock(*lock_);
            if (stopping_)
                return;
            LONGLONG now = Now();
            for (auto it = pending_.begin(); !held_ && it != pending_.end();) {
                if (it->remote) {
                    ++it;
                    continue;
                }
                if (!it->hung && it->due <= now) {
                    Complete(it->srb, it->outcome, it->dataIn, notices);
                    it = pending_.erase(it);
                    continue;
                }
                if (!it->hung) {
                    // Timed waits wake a millisecond or two late: wait until
                    // shortly before the request is due, then sleep the rest.
                    LONGLONG ms = (it->due - now) * 1000 / ticksPerSecond_ - kWakeMarginMs;
                    wait = std::min<DWORD>(wait, static_cast<DWORD>(std::max<LONGLONG>(ms, 0)));
                    if (ms <= 0 && (nearest == 0 || it->due - now < nearest))
                        nearest = it->due - now;
                }
                ++it;
            }
        }
        for (const Notice& n : notices)
            Notify(n);
        notices.clear();
        CarryRemote(notices);
        for (const Notice& n : notices)
            Notify(n);
        if (!notices.empty())
            continue; // look again before sleeping
        if (wait != 0)
            WaitForSingleObject(wake_, wait);
        else if (notices.empty() && nearest > kSpinUs * ticksPerSecond_ / 1000000)
            SleepPrecisely(nearest - kSpinUs * ticksPerSecond_ / 1000000, ticksPerSecond_);
    }
}

// Carries the oldest waiting iSCSI request to the bridge, without the lock,
// and completes it with the answer unless it was aborted (or its block
// handed in again) meanwhile. Leaves a notice when it completed one, or
// carried one that is gone.
void AspiManager::CarryRemote(std::vector<Notice>& notices) {
    BridgeRequest request;
    uint64_t id = 0;
    {
        Lock lock(*lock_);
        if (stopping_ || held_)
            return;
        for (PendingRequest& p : pending_) {
            if (p.remote && !p.inFlight) {
                p.inFlight = true;
                id = p.id;
                request = p.bridge;
                break;
            }
        }
    }
    if (!id)
        return;
    BridgeReply reply = link_.Run(request);
    Lock lock(*lock_);
    auto it = std::find_if(pending_.begin(), pending_.end(),
                           [id](const PendingRequest& p) { return p.id == id; });
    if (it == pending_.end()) {
        notices.push_back({nullptr, 0, nullptr}); // aborted meanwhile: nothing to tell
        return;
    }
    Complete(it->srb, RemoteOutcome(*it, reply), reply.dataIn, notices);
    pending_.erase(it);
}

void AspiManager::StopWorker(bool underLoaderLock) {
    HANDLE worker;
    {
        Lock lock(*lock_);
        worker = worker_;
        if (!worker)
            return;
        stopping_ = true;
    }
    link_.Interrupt(); // a request under way with the bridge ends at once
    SetEvent(wake_);
    WaitForSingleObject(parked_, INFINITE);
    if (underLoaderLock)
        TerminateThread(worker, 0); // parked in a wait: holds no lock of any kind
    else
        SetEvent(release_);
    WaitForSingleObject(worker, INFINITE);
    Lock lock(*lock_);
    CloseWorkerHandles();
    stopping_ = false;
}

void AspiManager::CloseWorkerHandles() {
    for (HANDLE* h : {&worker_, &wake_, &running_, &parked_, &release_}) {
        if (*h)
            CloseHandle(*h);
        *h = nullptr;
    }
}

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        InitializeCriticalSection(&g_lock);
        g_manager = new AspiManager(&g_lock);
        break;
    case DLL_PROCESS_DETACH:
        // At process exit the other threads are gone already; only an
        // unload by FreeLibrary has a worker to end and state to free.
        if (reserved == nullptr && g_manager) {
            g_manager->StopWorker(true);
            delete g_manager;
            g_manager = nullptr;
            DeleteCriticalSection(&g_lock);
        }
        break;
    default:
        break;
    }
    return TRUE;
}

extern "C" DWORD __cdecl GetASPI32SupportInfo(void) {
    g_manager->EnsureMachine();
    return g_manager->SupportInfo();
}

extern "C" DWORD __cdecl SendASPI32Command(LPSRB srb) {
    if (!srb)
        return SS_INVALID_SRB;
    g_manager->EnsureMachine();
    return g_manager->Send(srb);
}

// Test hook: replaces the machine, and with it every device's state, from a
// machine file. FALSE (and the old machine kept) when the file is bad.
extern "C" BOOL __cdecl QvxEmuLoadMachine(const char* path) {
    if (!path)
        return FALSE;
    std::unique_ptr<ScsiBus> bus = qvx::emu::OpenBus(path);
    return bus && g_manager->Replace(std::move(bus)) ? TRUE : FALSE;
}

// Test hook: copies the oldest `capacity` journal entries; returns how many
// there are.
extern "C" DWORD __cdecl QvxEmuReadJournal(QvxJournalRecord* records, DWORD capacity) {
    g_manager->EnsureMachine();
    std::vector<JournalEntry> entries = g_manager->Journal();
    for (DWORD i = 0; records && i < capacity && i < entries.size(); ++i) {
        std::string line = qvx::emu::JournalLine(entries[i]);
        memset(records[i].Line, 0, sizeof records[i].Line);
        memcpy(records[i].Line, line.data(), std::min(line.size(), sizeof records[i].Line - 1));
        records[i].WaitedMs = entries[i].waitedMs.value_or(QVX_NOT_ABORTED);
    }
    return static_cast<DWORD>(entries.size());
}

extern "C" void __cdecl QvxEmuClearJournal(void) {
    g_manager->EnsureMachine();
    g_manager->ClearJournal();
}

// Test hook: kills the iSCSI bridge and waits until it is gone; the next
// request meets the loss. FALSE when no bridge was running.
extern "C" BOOL __cdecl QvxEmuKillBridge(void) {
    return g_manager->KillBridge() ? TRUE : FALSE;
}

// Test hook: while held, the worker completes nothing.
extern "C" void __cdecl QvxEmuHoldWorker(BOOL hold) {
    g_manager->HoldWorker(hold != FALSE);
}
