#include "port_identity.h"

#include <cctype>
#include <cstring>

namespace {

// The four hex digits after `tag` (VID_, PID_), or -1.
int HexAfter(const char* text, const char* tag)
{
    const char* at = std::strstr(text, tag);
    if (!at) return -1;
    at += std::strlen(tag);
    int value = 0;
    for (int i = 0; i < 4; ++i) {
        const char c = at[i];
        const int digit = c >= '0' && c <= '9' ? c - '0'
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                                 : -1;
        if (digit < 0) return -1;
        value = value * 16 + digit;
    }
    return value;
}

// Windows makes up an instance id with '&' in it for a device that has no
// serial number; FTDI's driver puts the serial number third in its middle part.
std::string SerialNumber(const std::string& instanceId)
{
    const size_t first = instanceId.find('\\'), last = instanceId.rfind('\\');
    if (first == std::string::npos || last == first) return "";
    const std::string middle = instanceId.substr(first + 1, last - first - 1), tail = instanceId.substr(last + 1);
    const size_t plus = middle.find('+');
    if (plus != std::string::npos) {
        const size_t second = middle.find('+', plus + 1);
        return second == std::string::npos ? "" : middle.substr(second + 1);
    }
    return tail.find('&') == std::string::npos ? tail : "";
}

bool SameName(const std::string& a, const std::string& b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

bool Listed(const std::vector<std::string>& names, const std::string& name)
{
    for (const std::string& other : names)
        if (SameName(other, name)) return true;
    return false;
}

}  // namespace

PortIdentity ParsePortIdentity(const char* hardwareId, const char* instanceId)
{
    PortIdentity identity;
    const int vendor = HexAfter(hardwareId, "VID_"), product = HexAfter(hardwareId, "PID_");
    if (vendor < 0 || product < 0) return identity;
    identity.known = true;
    identity.vendor = static_cast<uint16_t>(vendor);
    identity.product = static_cast<uint16_t>(product);
    identity.serial = SerialNumber(instanceId);
    return identity;
}

bool SameIdentity(const PortIdentity& a, const PortIdentity& b)
{
    return a.known && b.known && a.vendor == b.vendor && a.product == b.product && a.serial == b.serial;
}

std::string FollowedPort(const PortIdentity& lost, const std::vector<std::string>& presentAtLoss,
                         const std::vector<PresentPort>& presentNow)
{
    std::string found;
    int candidates = 0;
    for (const PresentPort& port : presentNow) {
        if (!SameIdentity(port.identity, lost) || Listed(presentAtLoss, port.name)) continue;
        found = port.name;
        ++candidates;
    }
    return candidates == 1 ? found : "";
}
