#include "serial/device_discovery.h"

#include <dirent.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <fstream>

namespace norva {

namespace {

std::vector<std::string> Entries(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* e = ::readdir(dir)) {
            if (e->d_name[0] != '.') names.emplace_back(e->d_name);
        }
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string FirstLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

std::string Resolved(const std::string& path) {
    char buffer[PATH_MAX];
    return ::realpath(path.c_str(), buffer) != nullptr ? std::string(buffer) : std::string();
}

std::string BaseName(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string NearestFolder(std::string path) {
    for (;;) {
        const auto slash = path.rfind('/');
        if (slash == std::string::npos) return ".";
        path.resize(slash == 0 ? 1 : slash);
        struct stat st {};
        if (path == "/" || (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))) return path;
    }
}

}  // namespace

std::vector<std::string> PresentSerialDevices(const DeviceRoots& roots) {
    std::vector<std::string> devices;
    const std::string byId = roots.dev + "/serial/by-id";
    for (const std::string& name : Entries(byId))
        devices.push_back(byId + "/" + name);
    const std::vector<std::string> nodes = Entries(roots.dev);
    for (const char* prefix : {"ttyUSB", "ttyACM", "ttyS"}) {
        const std::string p = prefix;
        for (const std::string& name : nodes) {
            if (name.rfind(p, 0) != 0 || name.size() == p.size()) continue;
            if (p == "ttyS" && name.find_first_not_of("0123456789", p.size()) != std::string::npos)
                continue;
            // The kernel makes ttyS nodes for UARTs that are not there: those say type 0.
            if (p == "ttyS") {
                const std::string type = FirstLine(roots.sys + "/class/tty/" + name + "/type");
                if (type.empty() || std::atoi(type.c_str()) == 0) continue;
            }
            devices.push_back(roots.dev + "/" + name);
        }
    }
    return devices;
}

UsbAdapter UsbAdapterOf(const std::string& devicePath, const DeviceRoots& roots) {
    UsbAdapter adapter;
    const std::string node = Resolved(devicePath);
    if (node.empty()) return adapter;
    // Up from the tty's device to the USB device, the first folder that has a vendor id.
    std::string folder = Resolved(roots.sys + "/class/tty/" + BaseName(node) + "/device");
    const std::string top = Resolved(roots.sys);
    for (int depth = 0; !folder.empty() && folder.size() > top.size() && depth < 8; ++depth) {
        if (Exists(folder + "/idVendor")) {
            adapter.maker = FirstLine(folder + "/manufacturer");
            adapter.product = FirstLine(folder + "/product");
            adapter.serial = FirstLine(folder + "/serial");
            break;
        }
        folder = folder.substr(0, folder.rfind('/'));
    }
    return adapter;
}

std::string PortDescription(const std::string& label, const std::string& devicePath,
                            const DeviceRoots& roots) {
    std::string text = label + " \u2192 " + devicePath;
    const UsbAdapter usb = UsbAdapterOf(devicePath, roots);
    std::string name = usb.maker;
    if (!usb.product.empty()) name += (name.empty() ? "" : " ") + usb.product;
    if (!name.empty()) text += ", " + name;
    if (!usb.serial.empty()) text += ", serial " + usb.serial;
    return text + (Exists(devicePath) ? ", present" : ", not present");
}

FolderWatch::FolderWatch(const std::string& path) : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    Rearm(path);
}

void FolderWatch::Rearm(const std::string& path) {
    if (!fd_.valid()) return;
    alignas(inotify_event) char events[4096];
    for (ssize_t n; (n = ::read(fd_.get(), events, sizeof events)) > 0;) {
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(events + at);
            if (event->wd == watch_ && (event->mask & IN_IGNORED)) watch_ = -1;
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    const std::string folder = NearestFolder(path);
    if (watch_ >= 0 && folder == folder_) return;
    if (watch_ >= 0) (void)::inotify_rm_watch(fd_.get(), watch_);
    folder_ = folder;
    watch_ =
        ::inotify_add_watch(fd_.get(), folder_.c_str(),
                            IN_CREATE | IN_ATTRIB | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF);
}

}  // namespace norva
