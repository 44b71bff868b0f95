// Shared by the ASPI library tests: loading the library as the program does,
// choosing machines, and building request blocks.
#pragma once

#include "qvxemu.h"
#include "wnaspi32.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <type_traits>

namespace aspitest {

// A machine file of the project (emulation/machines) or of these tests
// (tests/aspi/machines, names starting "test-"), as a Unix path, which the
// library and the installer both accept.
inline std::string Machine(const char* name) {
    bool local = std::string(name).rfind("test-", 0) == 0;
    return std::string(QVX_SOURCE_DIR) +
           (local ? "/tests/aspi/machines/" : "/emulation/machines/") + name;
}

// wnaspi32.dll loaded by name, as the program loads it; unloaded with the object.
class Library {
    std::unique_ptr<std::remove_pointer_t<HMODULE>, decltype(&FreeLibrary)> module_{
        LoadLibraryA("wnaspi32.dll"), FreeLibrary};
    template <typename F> F Proc(const char* name) const {
        FARPROC p = module_ ? GetProcAddress(module_.get(), name) : nullptr;
        return reinterpret_cast<F>(reinterpret_cast<void (*)()>(p));
    }

  public:
    GetASPI32SupportInfoFn info = Proc<GetASPI32SupportInfoFn>("GetASPI32SupportInfo");
    SendASPI32CommandFn send = Proc<SendASPI32CommandFn>("SendASPI32Command");
    QvxEmuLoadMachineFn load = Proc<QvxEmuLoadMachineFn>("QvxEmuLoadMachine");
    QvxEmuHoldWorkerFn hold = Proc<QvxEmuHoldWorkerFn>("QvxEmuHoldWorker");

    bool ok() const {
        return module_ && info && send && load && hold;
    }
    bool Use(const char* machine) {
        return load(Machine(machine).c_str()) != FALSE;
    }
};

// An execute block filled as the program fills it; the CDB in hex.
inline SRB_ExecSCSICmd Exec(BYTE ha, BYTE target, const char* cdb, BYTE flags = 0,
                            void* buffer = nullptr, DWORD length = 0) {
    SRB_ExecSCSICmd srb = {};
    srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
    srb.SRB_HaId = ha;
    srb.SRB_Flags = flags;
    srb.SRB_Target = target;
    srb.SRB_BufLen = length;
    srb.SRB_BufPointer = static_cast<BYTE*>(buffer);
    srb.SRB_SenseLen = SENSE_LEN;
    std::istringstream in(cdb);
    for (unsigned byte; srb.SRB_CDBLen < sizeof srb.CDBByte && in >> std::hex >> byte;)
        srb.CDBByte[srb.SRB_CDBLen++] = static_cast<BYTE>(byte);
    return srb;
}

inline BYTE Status(const SRB_ExecSCSICmd& srb) {
    return *static_cast<volatile const BYTE*>(&srb.SRB_Status);
}

// Waits (polling, as the program does) for a sent block's end; 0 when it
// has not ended within the limit.
inline BYTE WaitFor(const SRB_ExecSCSICmd& srb, DWORD limitMs = 5000) {
    DWORD start = GetTickCount();
    while (Status(srb) == SS_PENDING && GetTickCount() - start < limitMs)
        Sleep(1);
    return Status(srb);
}

inline BYTE SendAndWait(SendASPI32CommandFn send, SRB_ExecSCSICmd& srb) {
    send(&srb);
    return WaitFor(srb);
}

} // namespace aspitest
