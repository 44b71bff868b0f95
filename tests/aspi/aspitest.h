// Shared by the ASPI library tests: loading the library as the program does,
// choosing machines, and building request blocks.
#pragma once

#include "wnaspi32.h"

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <string>

namespace aspitest {

using LoadMachineFn = BOOL(__cdecl*)(const char*);

// A machine file of the project (emulation/machines) or of these tests
// (tests/aspi/machines), as a Unix path, which the library and the
// installer both accept.
inline std::string Machine(const char* name) {
    std::string local = std::string(QVX_SOURCE_DIR) + "/tests/aspi/machines/" + name;
    std::string shared = std::string(QVX_SOURCE_DIR) + "/emulation/machines/" + name;
    return strchr(name, '/') ? name : (std::string(name).rfind("test-", 0) == 0 ? local : shared);
}

// wnaspi32.dll loaded by name, as the program loads it.
class Library {
  public:
    Library() {
        module_ = LoadLibraryA("wnaspi32.dll");
        if (module_) {
            info = reinterpret_cast<GetASPI32SupportInfoFn>(
                reinterpret_cast<void (*)()>(GetProcAddress(module_, "GetASPI32SupportInfo")));
            send = reinterpret_cast<SendASPI32CommandFn>(
                reinterpret_cast<void (*)()>(GetProcAddress(module_, "SendASPI32Command")));
            load = reinterpret_cast<LoadMachineFn>(
                reinterpret_cast<void (*)()>(GetProcAddress(module_, "QvxEmuLoadMachine")));
        }
    }
    ~Library() {
        Free();
    }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
    bool ok() const {
        return module_ && info && send && load;
    }
    void Free() {
        if (module_)
            FreeLibrary(module_);
        module_ = nullptr;
    }
    bool Use(const char* machine) {
        return load(Machine(machine).c_str()) != FALSE;
    }

    GetASPI32SupportInfoFn info = nullptr;
    SendASPI32CommandFn send = nullptr;
    LoadMachineFn load = nullptr;

  private:
    HMODULE module_ = nullptr;
};

// An execute block filled as the program fills it.
inline SRB_ExecSCSICmd Exec(BYTE ha, BYTE target, std::initializer_list<BYTE> cdb, BYTE flags = 0,
                            void* buffer = nullptr, DWORD length = 0) {
    SRB_ExecSCSICmd srb;
    memset(&srb, 0, sizeof srb);
    srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
    srb.SRB_HaId = ha;
    srb.SRB_Flags = flags;
    srb.SRB_Target = target;
    srb.SRB_BufLen = length;
    srb.SRB_BufPointer = static_cast<BYTE*>(buffer);
    srb.SRB_SenseLen = SENSE_LEN;
    srb.SRB_CDBLen = static_cast<BYTE>(cdb.size());
    memcpy(srb.CDBByte, cdb.begin(), cdb.size());
    return srb;
}

inline BYTE Status(const SRB_ExecSCSICmd& srb) {
    return *static_cast<volatile const BYTE*>(&srb.SRB_Status);
}

// Sends a block and waits (polling, as the program does) for its end; 0
// when it has not ended within the limit.
inline BYTE SendAndWait(SendASPI32CommandFn send, SRB_ExecSCSICmd& srb, DWORD limitMs = 5000) {
    send(&srb);
    DWORD start = GetTickCount();
    while (Status(srb) == SS_PENDING && GetTickCount() - start < limitMs)
        Sleep(1);
    return Status(srb);
}

} // namespace aspitest
