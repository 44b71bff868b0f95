// The two NT pass-through request blocks: the published SCSI_PASS_THROUGH and
// SCSI_PASS_THROUGH_DIRECT structures, each followed by a filler and a sense
// area (and, for the buffered one, a data area).
#ifndef NTBLOCKS_H
#define NTBLOCKS_H

#include <windows.h>
#include <winioctl.h>
#include <ntddscsi.h>
#include <stddef.h>

#define PASS_THROUGH_SENSE_SIZE 32
#define PASS_THROUGH_DATA_SIZE 512

typedef struct {
    SCSI_PASS_THROUGH Spt;
    ULONG Filler;
    UCHAR SenseArea[PASS_THROUGH_SENSE_SIZE];
    UCHAR DataArea[PASS_THROUGH_DATA_SIZE];
} PassThroughBlock;

typedef struct {
    SCSI_PASS_THROUGH_DIRECT Sptd;
    ULONG Filler;
    UCHAR SenseArea[PASS_THROUGH_SENSE_SIZE];
} PassThroughDirectBlock;

#if !defined(_WIN64)
static_assert(sizeof(SCSI_PASS_THROUGH) == 44, "SCSI_PASS_THROUGH is 44 bytes");
static_assert(sizeof(SCSI_PASS_THROUGH_DIRECT) == 44, "SCSI_PASS_THROUGH_DIRECT is 44 bytes");
static_assert(offsetof(PassThroughBlock, SenseArea) == 48, "sense area at 48");
static_assert(offsetof(PassThroughBlock, DataArea) == 80, "data area at 80");
static_assert(sizeof(PassThroughBlock) == 592, "buffered block is 592 bytes");
static_assert(sizeof(PassThroughDirectBlock) == 80, "direct block is 80 bytes");
#endif

#endif
