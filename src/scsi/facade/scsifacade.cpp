// The facade: reads UseAspi afresh on every call and hands the command to
// the ASPI or the NT implementation, returning its result unchanged.
#include "scsifacade.h"
#include "inventory/inventory.h"
#include "scsi/aspi/aspicommands.h"
#include "scsi/aspi/aspitransport.h"
#include "scsi/nt/ntcommands.h"

DWORD ScsiHostAdapterInquiry(SRB_HAInquiry* block, BYTE index) {
    return AspiHostAdapterInquiry(block, index);
}

int ScsiTestUnitReady(BYTE adapter, BYTE target) {
    if (UseAspi == 1)
        return AspiTestUnitReady(adapter, target);
    return PassThroughTestUnitReady(adapter, target);
}

int ScsiWriteBuffer(BYTE adapter, BYTE target) {
    if (UseAspi == 1)
        return AspiWriteBuffer(adapter, target);
    return PassThroughWriteBuffer(adapter, target);
}

int ScsiReadBuffer(BYTE adapter, BYTE target) {
    if (UseAspi == 1)
        return AspiReadBuffer(adapter, target);
    return PassThroughReadBuffer(adapter, target);
}

DWORD ScsiReadBufferDescriptor(BYTE adapter, BYTE target) {
    if (UseAspi == 1)
        return AspiReadBufferDescriptor(adapter, target);
    return PassThroughReadBufferDescriptor(adapter, target);
}

int ScsiSeek(BYTE adapter, BYTE target, DWORD address) {
    if (UseAspi == 1)
        return AspiSeek(adapter, target, address);
    return PassThroughSeek(adapter, target, address);
}

int ScsiRead10(BYTE adapter, BYTE target, DWORD address, DWORD blockLength, DWORD blockCount,
               BYTE* buffer) {
    if (UseAspi == 1)
        return AspiRead10(adapter, target, address, blockLength, blockCount, buffer);
    return PassThroughRead10(adapter, target, address, blockLength, blockCount, buffer);
}

int ScsiInquirySerialNumber(BYTE adapter, BYTE target, char* text) {
    if (UseAspi == 1)
        return AspiInquirySerialNumber(adapter, target, text);
    return PassThroughInquirySerialNumber(adapter, target, text);
}

int ScsiReadCapacity(BYTE adapter, BYTE target, BYTE* data) {
    if (UseAspi == 1)
        return AspiReadCapacity(adapter, target, data);
    return PassThroughReadCapacity(adapter, target, data);
}

BYTE ScsiModeSenseCaching(BYTE adapter, BYTE target) {
    if (UseAspi == 1)
        return AspiModeSenseCaching(adapter, target);
    return PassThroughModeSenseCaching(adapter, target);
}

WORD ScsiModeSenseRigidDisk(BYTE adapter, BYTE target) {
    if (UseAspi == 1)
        return AspiModeSenseRigidDisk(adapter, target);
    return PassThroughModeSenseRigidDisk(adapter, target);
}
