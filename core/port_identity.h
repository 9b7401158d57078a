// Which board a port belongs to, read from the ids the system gives its
// device, and which port a lost board has moved to.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct PortIdentity {
    bool known = false;  // a USB device's VID and PID were found
    uint16_t vendor = 0, product = 0;
    std::string serial;  // empty when the device has no serial number of its own
};

struct PresentPort {
    std::string name;
    PortIdentity identity;
};

// From a hardware id (USB\VID_1A86&PID_7523&REV_0264) and the instance id of
// the USB device (USB\VID_1A86&PID_7523\5&2F1E3A0&0&2; FTDIBUS\VID_0403+PID_6001+A50285BIA\0000).
PortIdentity ParsePortIdentity(const char* hardwareId, const char* instanceId);
bool SameIdentity(const PortIdentity& a, const PortIdentity& b);

// The one port a lost board can be followed to: present now, absent when it
// was lost, and the only such port with its identity. Empty when none or several.
std::string FollowedPort(const PortIdentity& lost, const std::vector<std::string>& presentAtLoss,
                         const std::vector<PresentPort>& presentNow);
