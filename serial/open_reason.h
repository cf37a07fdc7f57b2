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
// Another process opened the device while it is held: "PATH: also opened by socat (pid 4711);
// bytes may go to it", or "another program" when nobody could be named.
std::string AlsoOpenedText(const std::string& path, const std::vector<DeviceHolder>& holders);

// Permission denied: what stands between this user and the device. Joining the device's group
// is advice only where the group may read and write the node and is not root's; a folder on the
// way that the user may not enter is named instead. The account's membership is read from the
// group database; the session's from getgroups().
struct AccessStanding {
    std::string closedFolder;  // the first folder on the way this user may not enter, if any
    std::string ownerName;     // the node's owner and group, by name or else by number
    std::string groupName;
    unsigned mode = 0;  // the node's permission bits
    bool groupCanOpen = false;
    bool accountIsMember = false;
    bool sessionHasGroup = false;
};
AccessStanding StandingFor(const std::string& path);
std::string PermissionDeniedText(const std::string& path, const AccessStanding& standing);

}  // namespace norva
