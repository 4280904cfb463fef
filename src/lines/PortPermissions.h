// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Why a user may not open a serial device, in words that say what to do about it.

namespace tarvel {

// How the user of this process stands with the group that owns a device.
enum class GroupMembership {
    NotMember,            // not in the group at all
    MemberFromNextLogin,  // added to the group since this session began
    InSession,            // this process has the group already
};

// What a user who may not open `device` is told: the group of the device, that the user must be
// a member of it and log in again, and the command that makes the user one.
std::string PermissionDeniedText(std::string_view device, std::string_view group,
                                 GroupMembership membership);
// The name of the group that owns `path` as the file system has it (its number when the group
// database has no name for it); nothing when `path` cannot be looked at.
std::optional<std::string> OwningGroupName(const std::string& path);
// The group that owns `path`; nothing when it cannot be looked at.
std::optional<std::uint32_t> OwningGroup(const std::string& path);
// Whether this process has `group` and, if not, whether the group database makes its user a
// member of it from the next login.
GroupMembership MembershipOf(std::uint32_t group);

// Why `device` did not open, given the port's reason; `permissionError` when the port said the
// host refused it.
std::string OpenFailureText(const std::string& device, bool permissionError,
                            const std::string& reason);

}  // namespace tarvel
