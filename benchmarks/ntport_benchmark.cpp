// What one request to the NT port stand-in costs in-process, for planning
// tests that send many (a fuzz test of the bus scan feeds each generated
// inquiry answer through open, IOCTL_SCSI_GET_INQUIRY_DATA and close). A
// benchmark: it prints, it does not judge.
//
//     ntport_benchmark.exe [COUNT]      (default 100000 of each)
#include <windows.h>

#include <winioctl.h>
#include <ntddscsi.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

#include "ntdevice.h"
#include "ntport/ntport.h"

namespace {

const char kMachine[] = R"(
[machine]
aspi=absent
[adapter.0]
nt_port=2
[device.0.0]
blocks=1000
drive_letter=C
[device.0.5]
type=scanner
class_device=Scanner0
)";

void Measure(const char* what, int count, const std::function<void(int)>& step) {
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i)
        step(i);
    double us =
        std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
    printf("%-58s %8.2f us per call (%d calls)\n", what, us / count, count);
}

} // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? atoi(argv[1]) : 100000;
    if (!qvx::ntport::LoadMachineText(kMachine))
        return 1;
    std::vector<uint8_t> answer(2048, 0);
    std::vector<uint8_t> out(2048);
    Measure("replaced inquiry answer: open, GET_INQUIRY_DATA, close", count, [&](int i) {
        answer[0] = static_cast<uint8_t>(i);
        qvx::ntport::SetInquiryAnswer(2, answer.data(), answer.size());
        HANDLE h = NtDeviceOpen("\\\\.\\SCSI2:", GENERIC_READ | GENERIC_WRITE, 3);
        DWORD got = 0;
        NtDeviceControl(h, IOCTL_SCSI_GET_INQUIRY_DATA, nullptr, 0, out.data(),
                        static_cast<DWORD>(out.size()), &got);
        NtDeviceClose(h);
    });
    Measure("open of a class device that is not there", count,
            [&](int) { NtDeviceOpen("\\\\.\\Scanner7", GENERIC_READ | GENERIC_WRITE, 3); });
    Measure("open C:, GET_ADDRESS, close", count, [&](int) {
        HANDLE h = NtDeviceOpen("\\\\.\\C:", GENERIC_READ | GENERIC_WRITE, 3);
        DWORD got = 0;
        NtDeviceControl(h, IOCTL_SCSI_GET_ADDRESS, nullptr, 0, out.data(), 260, &got);
        NtDeviceClose(h);
    });
    Measure("open C:, TEST UNIT READY pass-through, close", count, [&](int) {
        struct {
            SCSI_PASS_THROUGH spt;
            ULONG filler;
            UCHAR sense[32];
        } b = {};
        b.spt.Length = sizeof b.spt;
        b.spt.CdbLength = 6;
        b.spt.SenseInfoLength = 24;
        b.spt.DataIn = SCSI_IOCTL_DATA_IN;
        b.spt.TimeOutValue = 2;
        b.spt.SenseInfoOffset = offsetof(decltype(b), sense);
        HANDLE h = NtDeviceOpen("\\\\.\\C:", GENERIC_READ | GENERIC_WRITE, 3);
        DWORD got = 0;
        NtDeviceControl(h, IOCTL_SCSI_PASS_THROUGH, &b, sizeof b.spt, &b, sizeof b, &got);
        NtDeviceClose(h);
    });
    return 0;
}
