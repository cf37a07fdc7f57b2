#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "serial/port_exclusion.h"

namespace norva {

// The operator's texts for a port that would not open; each names the device path.
std::string NoSuchDeviceText(const std::string& path);
std::string NotSerialDeviceText(const std::string& path);
std::string BusyText(const std::string& path, const std::vector<DeviceHolder>& holders);
std::string OtherOpenFailureText(const std::string& path, int osError);

// Permission denied: names the group that owns the device and what to do about it. The account's
// membership is read from the group database; the session's from getgroups().
struct GroupStanding {
    std::string groupName;  // the device's group, or its number when it has no name
    bool accountIsMember = false;
    bool sessionHasGroup = false;
};
GroupStanding StandingFor(gid_t deviceGroup);
std::string PermissionDeniedText(const std::string& path, const GroupStanding& standing);

}  // namespace norva
