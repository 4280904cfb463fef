// SPDX-License-Identifier: GPL-3.0-or-later
#include "lines/PortPermissions.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

namespace tarvel {

std::string PermissionDeniedText(std::string_view device, std::string_view group,
                                 GroupMembership membership) {
    const std::string path(device);
    const std::string quoted = "\"" + std::string(group) + "\"";
    const std::string command = "sudo adduser $USER " + std::string(group);
    std::string text = path + ": Permission denied. The device belongs to the group " + quoted;
    if (group == "root") {
        // Nobody should join root's group to reach a port: the device wants another group.
        return text + ", so root alone may open it: a udev rule must give it a group such as " +
               "\"dialout\", your user must be a member of that and log in again (sudo " +
               "adduser $USER dialout).";
    }
    switch (membership) {
        case GroupMembership::NotMember:
            return text + ": your user must be a member of it and log in again. To make it one: " +
                   command;
        case GroupMembership::MemberFromNextLogin:
            return text + ": your user is a member of it, but became one after this session " +
                   "began; log out and log in again for it to count (a user is made a member " +
                   "with " + command + ").";
        case GroupMembership::InSession: break;
    }
    return text + ", which this session is a member of already, yet the device does not let " +
           "its group read and write it (ls -l " + path + " shows who may).";
}

std::optional<std::uint32_t> OwningGroup(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        return std::nullopt;
    }
    return status.st_gid;
}

std::optional<std::string> OwningGroupName(const std::string& path) {
    const std::optional<std::uint32_t> gid = OwningGroup(path);
    if (!gid) {
        return std::nullopt;
    }
    // Reentrant: the port's thread asks while the program's thread may ask too.
    std::vector<char> buffer(4096);
    group entry{};
    group* found = nullptr;
    while (::getgrgid_r(*gid, &entry, buffer.data(), buffer.size(), &found) == ERANGE) {
        buffer.resize(buffer.size() * 2);
    }
    return found ? std::string(found->gr_name) : std::to_string(*gid);
}

GroupMembership MembershipOf(std::uint32_t gid) {
    std::vector<gid_t> session(static_cast<std::size_t>(std::max(0, ::getgroups(0, nullptr))));
    session.resize(static_cast<std::size_t>(
        std::max(0, ::getgroups(static_cast<int>(session.size()), session.data()))));
    if (::getegid() == gid || std::find(session.begin(), session.end(), gid) != session.end()) {
        return GroupMembership::InSession;
    }
    // The group database says what the next login will have.
    std::vector<char> buffer(4096);
    passwd user{};
    passwd* found = nullptr;
    while (::getpwuid_r(::getuid(), &user, buffer.data(), buffer.size(), &found) == ERANGE) {
        buffer.resize(buffer.size() * 2);
    }
    if (!found) {
        return GroupMembership::NotMember;
    }
    int count = 32;
    std::vector<gid_t> atLogin(static_cast<std::size_t>(count));
    while (::getgrouplist(user.pw_name, user.pw_gid, atLogin.data(), &count) < 0) {
        atLogin.resize(static_cast<std::size_t>(count));
    }
    atLogin.resize(static_cast<std::size_t>(count));
    return std::find(atLogin.begin(), atLogin.end(), gid) != atLogin.end()
               ? GroupMembership::MemberFromNextLogin
               : GroupMembership::NotMember;
}

std::string OpenFailureText(const std::string& device, bool permissionError,
                            const std::string& reason) {
    // Qt says "permission" also for a port another program holds; only a device the user may
    // not read and write gets the word about its group.
    if (permissionError && ::access(device.c_str(), R_OK | W_OK) != 0 && errno == EACCES) {
        const std::optional<std::uint32_t> gid = OwningGroup(device);
        const std::optional<std::string> name = OwningGroupName(device);
        if (gid && name) {
            return PermissionDeniedText(device, *name, MembershipOf(*gid));
        }
    }
    return device + ": " + reason;
}

}  // namespace tarvel
