#include "serial/open_reason.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>

namespace norva {

namespace {

std::string HolderList(const std::vector<DeviceHolder>& holders) {
    std::string text;
    for (std::size_t i = 0; i < holders.size(); ++i) {
        if (i > 0) text += ", ";
        text += (holders[i].program.empty() ? std::string("a program") : holders[i].program) +
                " (pid " + std::to_string(holders[i].pid) + ")";
    }
    return text;
}

// The first folder on the way to path, or to where its symbolic link leads, that this user may
// not enter.
std::string ClosedFolderOnTheWay(const std::string& path) {
    std::string way = path;
    for (int link = 0; link < 2; ++link) {
        for (auto slash = way.find('/', 1); slash != std::string::npos;
             slash = way.find('/', slash + 1)) {
            const std::string folder = way.substr(0, slash);
            if (::access(folder.c_str(), X_OK) != 0) return folder;
        }
        char target[PATH_MAX];
        const ssize_t n = ::readlink(way.c_str(), target, sizeof target - 1);
        if (n <= 0) break;
        const std::string next(target, static_cast<std::size_t>(n));
        way = next.front() == '/' ? next : way.substr(0, way.rfind('/') + 1) + next;
    }
    return {};
}

}  // namespace

std::string NoSuchDeviceText(const std::string& path) {
    return path + ": no such device";
}

std::string NotSerialDeviceText(const std::string& path) {
    return path + ": not a serial device";
}

std::string BusyText(const std::string& path, const std::vector<DeviceHolder>& holders) {
    if (holders.empty()) return path + ": busy, in use by another program";
    return path + ": busy, in use by " + HolderList(holders);
}

std::string AlsoOpenedText(const std::string& path, const std::vector<DeviceHolder>& holders) {
    return path + ": also opened by " +
           (holders.empty() ? std::string("another program") : HolderList(holders)) +
           "; bytes may go to it";
}

std::string OtherOpenFailureText(const std::string& path, int osError) {
    return path + ": " + std::strerror(osError);
}

AccessStanding StandingFor(const std::string& path) {
    AccessStanding standing;
    standing.closedFolder = ClosedFolderOnTheWay(path);
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return standing;
    const gid_t deviceGroup = st.st_gid;
    standing.mode = st.st_mode & 07777;
    const passwd* owner = ::getpwuid(st.st_uid);
    standing.ownerName = owner != nullptr ? owner->pw_name : std::to_string(st.st_uid);
    const group* g = ::getgrgid(deviceGroup);
    standing.groupName = g != nullptr ? g->gr_name : std::to_string(deviceGroup);
    standing.groupCanOpen =
        deviceGroup != 0 && (st.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
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

std::string PermissionDeniedText(const std::string& path, const AccessStanding& standing) {
    if (!standing.closedFolder.empty())
        return path + ": permission denied; this user may not enter the folder " +
               standing.closedFolder;
    if (!standing.groupCanOpen) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", standing.mode);
        return path + ": permission denied (owner " + standing.ownerName + ", group " +
               standing.groupName + ", mode " + mode +
               "); ask for read and write access to the device";
    }
    const std::string text = path + ": permission denied (group " + standing.groupName + "); ";
    if (standing.accountIsMember && !standing.sessionHasGroup)
        return text + "you are a member, but this session is older: log out and in again";
    if (standing.accountIsMember) return text + "ask for read and write access to the device";
    return text + "join the group (sudo usermod -aG " + standing.groupName +
           " $USER), then log out and in";
}

}  // namespace norva
