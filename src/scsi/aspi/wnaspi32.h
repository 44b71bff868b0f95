// ASPI for Win32: request blocks, constants and entry points.
// Shared by the program and by any library that implements the interface.
// The blocks are packed to single bytes; on a 32-bit build their sizes and
// offsets are those every ASPI manager expects.
#ifndef WNASPI32_H
#define WNASPI32_H

#include <windows.h>
#include <stddef.h>

// Commands (SRB_Cmd)
#define SC_HA_INQUIRY 0x00
#define SC_GET_DEV_TYPE 0x01
#define SC_EXEC_SCSI_CMD 0x02
#define SC_ABORT_SRB 0x03
#define SC_RESET_DEV 0x04

// Request flags (SRB_Flags)
#define SRB_POSTING 0x01
#define SRB_ENABLE_RESIDUAL_COUNT 0x04
#define SRB_DIR_IN 0x08
#define SRB_DIR_OUT 0x10
#define SRB_EVENT_NOTIFY 0x40

// Request status (SRB_Status)
#define SS_PENDING 0x00
#define SS_COMP 0x01
#define SS_ABORTED 0x02
#define SS_ABORT_FAIL 0x03
#define SS_ERR 0x04
#define SS_INVALID_CMD 0x80
#define SS_INVALID_HA 0x81
#define SS_NO_DEVICE 0x82
#define SS_INVALID_SRB 0xE0
#define SS_OLD_MANAGER 0xE1
#define SS_ILLEGAL_MODE 0xE2
#define SS_NO_ASPI 0xE3
#define SS_FAILED_INIT 0xE4
#define SS_ASPI_IS_BUSY 0xE5
#define SS_BUFFER_TOO_BIG 0xE6

// Host adapter status (SRB_HaStat)
#define HASTAT_OK 0x00
#define HASTAT_TIMEOUT 0x09
#define HASTAT_COMMAND_TIMEOUT 0x0B
#define HASTAT_MESSAGE_REJECT 0x0D
#define HASTAT_BUS_RESET 0x0E
#define HASTAT_PARITY_ERROR 0x0F
#define HASTAT_REQUEST_SENSE_FAILED 0x10
#define HASTAT_SEL_TO 0x11
#define HASTAT_DO_DU 0x12
#define HASTAT_BUS_FREE 0x13
#define HASTAT_PHASE_ERR 0x14

// Target status (SRB_TargStat)
#define STATUS_GOOD 0x00
#define STATUS_CHKCOND 0x02
#define STATUS_CONDMET 0x04
#define STATUS_BUSY 0x08
#define STATUS_INTERM 0x10
#define STATUS_INTCDMET 0x14
#define STATUS_RESCONF 0x18
#define STATUS_COMTERM 0x22
#define STATUS_QFULL 0x28

#define SENSE_LEN 14

#pragma pack(push, 1)

typedef struct {
    BYTE SRB_Cmd;
    BYTE SRB_Status;
    BYTE SRB_HaId;
    BYTE SRB_Flags;
    DWORD SRB_Hdr_Rsvd;
    BYTE HA_Count;
    BYTE HA_SCSI_ID;
    BYTE HA_ManagerId[16];
    BYTE HA_Identifier[16];
    BYTE HA_Unique[16];
    WORD HA_Rsvd1;
} SRB_HAInquiry, *PSRB_HAInquiry;

typedef struct {
    BYTE SRB_Cmd;
    BYTE SRB_Status;
    BYTE SRB_HaId;
    BYTE SRB_Flags;
    DWORD SRB_Hdr_Rsvd;
    BYTE SRB_Target;
    BYTE SRB_Lun;
    WORD SRB_Rsvd1;
    DWORD SRB_BufLen;
    BYTE* SRB_BufPointer;
    BYTE SRB_SenseLen;
    BYTE SRB_CDBLen;
    BYTE SRB_HaStat;
    BYTE SRB_TargStat;
    void* SRB_PostProc;
    BYTE SRB_Rsvd2[20];
    BYTE CDBByte[16];
    BYTE SenseArea[SENSE_LEN + 2];
} SRB_ExecSCSICmd, *PSRB_ExecSCSICmd;

typedef struct {
    BYTE SRB_Cmd;
    BYTE SRB_Status;
    BYTE SRB_HaId;
    BYTE SRB_Flags;
    DWORD SRB_Hdr_Rsvd;
    void* SRB_ToAbort;
} SRB_Abort, *PSRB_Abort;

// SC_GET_DEV_TYPE: the peripheral type of a unit, as the manager found it.
typedef struct {
    BYTE SRB_Cmd;
    BYTE SRB_Status;
    BYTE SRB_HaId;
    BYTE SRB_Flags;
    DWORD SRB_Hdr_Rsvd;
    BYTE SRB_Target;
    BYTE SRB_Lun;
    BYTE SRB_DeviceType;
    BYTE SRB_Rsvd1;
} SRB_GDEVBlock, *PSRB_GDEVBlock;

// SC_RESET_DEV: resets a target, ending its pending requests.
typedef struct {
    BYTE SRB_Cmd;
    BYTE SRB_Status;
    BYTE SRB_HaId;
    BYTE SRB_Flags;
    DWORD SRB_Hdr_Rsvd;
    BYTE SRB_Target;
    BYTE SRB_Lun;
    BYTE SRB_Rsvd1[12];
    BYTE SRB_HaStat;
    BYTE SRB_TargStat;
    void* SRB_PostProc;
} SRB_BusDeviceReset, *PSRB_BusDeviceReset;

// The leading fields every request block shares.
typedef struct {
    BYTE SRB_Cmd;
    BYTE SRB_Status;
    BYTE SRB_HaId;
    BYTE SRB_Flags;
    DWORD SRB_Hdr_Rsvd;
} SRB_Header, *PSRB_Header;

#pragma pack(pop)

typedef void* LPSRB;

// GetASPI32SupportInfo: adapter count in bits 0-7, status in bits 8-15.
typedef DWORD(__cdecl* GetASPI32SupportInfoFn)(void);
typedef DWORD(__cdecl* SendASPI32CommandFn)(LPSRB);

static_assert(sizeof(SRB_HAInquiry) == 60, "SRB_HAInquiry is 60 bytes");
static_assert(offsetof(SRB_ExecSCSICmd, SRB_BufLen) == 12, "SRB_BufLen at 12");
static_assert(offsetof(SRB_ExecSCSICmd, SRB_BufPointer) == 16, "SRB_BufPointer at 16");
#if !defined(_WIN64)
static_assert(sizeof(SRB_ExecSCSICmd) == 80, "SRB_ExecSCSICmd is 80 bytes");
static_assert(offsetof(SRB_ExecSCSICmd, SRB_SenseLen) == 20, "SRB_SenseLen at 20");
static_assert(offsetof(SRB_ExecSCSICmd, SRB_PostProc) == 24, "SRB_PostProc at 24");
static_assert(offsetof(SRB_ExecSCSICmd, CDBByte) == 48, "CDBByte at 48");
static_assert(offsetof(SRB_ExecSCSICmd, SenseArea) == 64, "SenseArea at 64");
static_assert(sizeof(SRB_Abort) == 12, "SRB_Abort is 12 bytes");
#else
// 64-bit: the two pointers widen to 8 bytes; everything after them moves.
static_assert(sizeof(SRB_ExecSCSICmd) == 88, "SRB_ExecSCSICmd is 88 bytes on Win64");
static_assert(offsetof(SRB_ExecSCSICmd, CDBByte) == 56, "CDBByte at 56 on Win64");
static_assert(sizeof(SRB_Abort) == 16, "SRB_Abort is 16 bytes on Win64");
#endif

#endif
