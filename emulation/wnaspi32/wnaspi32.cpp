// ASPI for Win32 over the virtual SCSI bus.
#include "wnaspi32.h"

extern "C" DWORD __cdecl GetASPI32SupportInfo(void) {
    return (SS_COMP << 8) | 0;
}

extern "C" DWORD __cdecl SendASPI32Command(LPSRB srb) {
    PSRB_Header header = (PSRB_Header)srb;
    header->SRB_Status = SS_INVALID_HA;
    return SS_INVALID_HA;
}
