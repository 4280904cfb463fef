// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvel::modbus {

// Who a controller says it is, asked two ways: report server ID (function 17), whose answer is
// the maker's own, and read device identification (function 43, MEI type 14), whose basic
// objects name vendor, product and revision alike on every controller that has them. Older
// controllers often know only the first.

// What an answer to report server ID holds: the maker's bytes, and the run indicator where the
// last of them reads as one (0x00 stopped, 0xFF running) and some bytes come before it.
struct ServerId {
    std::string id;
    std::optional<bool> running;
};

// Address and function 17: the bytes, no check.
std::string ServerIdRequest(int address);

struct ServerIdAnswerRead {
    std::optional<ServerId> serverId;
    std::optional<int> exceptionCode;
};
// The answer's bytes, no check. Nothing for bytes that answer another request, or whose length
// is not the one their byte count gives.
std::optional<ServerIdAnswerRead> ReadServerIdAnswer(std::string_view request,
                                                     std::string_view answer);

// The basic objects of read device identification: 0x00, 0x01 and 0x02.
struct DeviceIdentity {
    std::string vendor, productCode, revision;
};
inline constexpr int ReadDeviceIdMei = 0x0E;
inline constexpr int LastBasicObject = 0x02;

// Read device ID code 01 (the basic objects, as many as one answer holds) from `objectId` on:
// the bytes, no check. The first request starts at 0; one that continues an answer, at that
// answer's next object.
std::string DeviceIdRequest(int address, int objectId = 0);

struct DeviceIdObject {
    int id = 0;
    std::string value;
};
struct DeviceIdAnswerRead {
    std::vector<DeviceIdObject> objects;  // as the answer lists them
    bool moreFollows = false;             // ask again, from nextObjectId
    int nextObjectId = 0;
    std::optional<int> exceptionCode;
};
// The answer's bytes, no check. Nothing for bytes that answer another request, for another MEI
// type, or whose objects do not end exactly where the answer does. A controller that keeps
// saying more follows from the same object would be asked for ever: a caller bounds its asking.
std::optional<DeviceIdAnswerRead> ReadDeviceIdAnswer(std::string_view request,
                                                     std::string_view answer);
// The basic objects among `objects` replace those of `identity`; the rest stay as they were.
void AddObjects(DeviceIdentity& identity, const std::vector<DeviceIdObject>& objects);

// A simulated controller's answers, CRC included. An id longer than one answer holds is cut.
std::string ServerIdAnswer(int address, std::string_view id, bool running);
// The answer to `request` (function 43, with or without its check) of a controller that has
// the basic objects and reads them one at a time too. Stream access (codes 1 to 3) answers the
// basic objects from the start object, from 0 where there is no such object, as many as fit;
// individual access (code 4) answers the one object, exception 2 for one it does not have.
// Another code is exception 3, another MEI type exception 1.
std::string DeviceIdAnswer(int address, std::string_view request, const DeviceIdentity& identity);

// For the operator: "Acme Controls TC-100 v2.1, server ID 'TC100' running". Bytes outside
// printable ASCII show as \xNN, padding at the end of a value not at all. Empty when nothing is
// known.
std::string IdentityText(const std::optional<ServerId>& serverId,
                         const std::optional<DeviceIdentity>& identity);

}  // namespace tarvel::modbus
