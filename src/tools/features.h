// The device features gathered after every bus scan: serial number,
// capacity and block size, cache states, media speed and buffer size, asked
// of each device through the command facade and kept as texts in its
// DeviceRecord for the properties sheet.
#ifndef FEATURES_H
#define FEATURES_H

// Milliseconds CollectCapacities waits between a device's TEST UNIT READY
// and its READ CAPACITY.
#define CAPACITY_SETTLE_MS 1000

// Runs the five steps below in this order. Each step visits the slots in
// use (those a scan filled), from slot 0 up, and skips the device types of
// its own exclusion list without sending them any command.
void CollectDeviceFeatures(void);

void CollectSerialNumbers(void);
void CollectCapacities(void);
void CollectCacheStates(void);
void CollectRotationRates(void);
void CollectBufferSizes(void);

#endif
