#include "serial/open_reason.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace norva {

std::string NoSuchDeviceText(const std::string& path) {
    return path + ": no such device";
}

std::string NotSerialDeviceText(const std::string& path) {
    return path + ": not a serial device";
}

std::string BusyText(const std::string& path, const std::vector<DeviceHolder>& holders) {
    std::string text = path + ": busy";
    if (holders.empty()) return text + ", in use by another program";
    text += ", in use by ";
    for (std::size_t i = 0; i < holders.size(); ++i) {
        if (i > 0) text += ", ";
        text += (holders[i].program.empty() ? std::string("a program") : holders[i].program) +
                " (pid " + std::to_string(holders[i].pid) + ")";
    }
    return text;
}

std::string OtherOpenFailureText(const std::string& path, int osError) {
    return path + ": " + std::strerror(osError);
}

GroupStanding StandingFor(gid_t deviceGroup) {
    GroupStanding standing;
    const group* g = ::getgrgid(deviceGroup);
    standing.groupName = g != nullptr ? g->gr_name : std::to_string(deviceGroup);
    if (const passwd* me = ::getpwuid(::getuid())) {
        standing.accountIsMember = me->pw_gid == deviceGroup;
        if (g != nullptr) {
            for (char** member = g->gr_mem; *member != nullptr; ++member) {
                if (std::strcmp(*member, me->pw_name) == 0) standing.accountIsMember = true;
            }
        }
    }
    std::vector<gid_t> groups(static_cast<std::size_t>(std::max(::getgroups(0, nullptr), 0)));
    const int n = ::getgroups(static_cast<int>(groups.size()), groups.data());
    groups.resize(static_cast<std::size_t>(std::max(n, 0)));
    standing.sessionHasGroup = ::getegid() == deviceGroup ||
                               std::find(groups.begin(), groups.end(), deviceGroup) != groups.end();
    return standing;
}

std::string PermissionDeniedText(const std::string& path, const GroupStanding& standing) {
    const std::string text = path + ": permission denied (group " + standing.groupName + "); ";
    if (standing.accountIsMember && !standing.sessionHasGroup)
        return text + "you are a member, but this session is older: log out and in again";
    if (standing.accountIsMember) return text + "ask for read and write access to the device";
    return text + "join the group (sudo usermod -aG " + standing.groupName +
           " $USER), then log out and in";
}

}  // namespace norva
