#include "scsibus/scsibus.h"

#include "scsibus/devicemodel.h"

#include <algorithm>

namespace qvx::emu {
namespace {

constexpr uint8_t kSsErr = 0x04;
constexpr uint8_t kSsInvalidHa = 0x81;
constexpr uint8_t kSsNoDevice = 0x82;
constexpr uint8_t kHaSelectionTimeout = 0x11;

// Modelled time of a command: the device's latency plus the transfer at its
// bandwidth (1 KB = 1024 bytes).
uint32_t DurationUs(const DeviceConfig& d, uint32_t bytes) {
    uint64_t us = d.latencyUs;
    if (d.bandwidthKBs > 0)
        us += uint64_t{bytes} * 1000000u / (uint64_t{d.bandwidthKBs} * 1024u);
    return static_cast<uint32_t>(std::min<uint64_t>(us, UINT32_MAX));
}

} // namespace

ScsiBus::ScsiBus(Machine machine) : machine_(std::move(machine)) {
    for (size_t i = 0; i < machine_.adapters.size(); ++i) {
        const AdapterConfig& adapter = machine_.adapters[i];
        if (adapter.aspiVisible)
            aspiAdapters_.push_back(i);
        std::vector<std::unique_ptr<DeviceModel>> models;
        for (const DeviceConfig& d : adapter.devices)
            models.push_back(
                std::make_unique<DeviceModel>(d, adapter.shortTransfer == ShortTransfer::Underrun));
        devices_.push_back(std::move(models));
    }
}

ScsiBus::~ScsiBus() = default;

JournalEntry ScsiBus::EntryFor(const ScsiRequest& request) const {
    JournalEntry entry;
    entry.host = request.host;
    entry.target = request.target;
    entry.lun = request.lun;
    entry.cdbLength = std::min<uint8_t>(request.cdbLength, sizeof entry.cdb);
    std::copy(request.cdb, request.cdb + entry.cdbLength, entry.cdb);
    entry.direction = request.direction;
    entry.dataLength = request.dataLength;
    return entry;
}

uint32_t ScsiBus::RecordOnly(const ScsiRequest& request) {
    Locked lock(mutex_);
    return journal_.Add(EntryFor(request));
}

ScsiOutcome ScsiBus::Execute(const ScsiRequest& request) {
    Locked lock(mutex_);
    ScsiOutcome o;
    o.sequence = journal_.Add(EntryFor(request));
    if (request.adapter >= machine_.adapters.size()) {
        o.srbStatus = kSsInvalidHa;
        return o;
    }
    const AdapterConfig& adapter = machine_.adapters[request.adapter];
    // An adapter that is an iSCSI target: target id n is its unit n (logical
    // unit 0 only); its own id is nobody.
    if (adapter.iscsi) {
        if (request.target == adapter.hostId || request.lun != 0)
            o.srbStatus = kSsNoDevice;
        else
            o.remote = RemoteUnit{*adapter.iscsi, request.target, true};
        return o;
    }
    DeviceModel* target = nullptr; // the target's first unit, which speaks for it
    for (auto& model : devices_[request.adapter]) {
        const DeviceConfig& d = model->config();
        if (d.bus != request.path || d.target != request.target)
            continue;
        if (!target)
            target = model.get();
        if (d.lun == request.lun && d.iscsi) {
            o.remote = RemoteUnit{*d.iscsi, d.iscsiLun, false};
            return o;
        }
        if (d.lun == request.lun) {
            uint32_t sequence = o.sequence;
            o = model->Execute(request);
            o.sequence = sequence;
            if (!o.neverCompletes)
                o.durationUs = DurationUs(d, o.transferred);
            return o;
        }
    }
    // A present target answers for its unconfigured logical units itself,
    // unless the adapter reports them as absent.
    if (target && adapter.missingLun == MissingLun::NotSupported) {
        uint32_t sequence = o.sequence;
        o = target->ExecuteForAbsentUnit(request);
        o.sequence = sequence;
        o.durationUs = DurationUs(target->config(), o.transferred);
        return o;
    }
    // Nobody at this address. The adapter's own id reports "no device"; an
    // empty id does so too unless the adapter is set to let the selection
    // time out.
    if (target || request.target == adapter.hostId || adapter.missing == MissingTarget::NoDevice) {
        o.srbStatus = kSsNoDevice;
    } else {
        o.srbStatus = kSsErr;
        o.haStatus = kHaSelectionTimeout;
    }
    return o;
}

std::vector<JournalEntry> ScsiBus::JournalEntries() const {
    Locked lock(mutex_);
    return journal_.Entries();
}

void ScsiBus::ClearJournal() {
    Locked lock(mutex_);
    journal_.Clear();
}

void ScsiBus::RecordAdapterQuery(const HostTag& host, uint32_t code) {
    Locked lock(mutex_);
    JournalEntry entry;
    entry.kind = JournalKind::AdapterQuery;
    entry.host = host;
    entry.queryCode = code;
    journal_.Add(entry);
}

void ScsiBus::NoteAbort(uint32_t sequence, uint32_t waitedMs) {
    Locked lock(mutex_);
    journal_.NoteAbort(sequence, waitedMs);
}

} // namespace qvx::emu
