// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/modbus/ModbusIdentity.h"

#include <algorithm>
#include <cstdint>

#include "protocol/modbus/ModbusFrame.h"

namespace tarvel::modbus {
namespace {

int ByteAt(std::string_view bytes, std::size_t at) { return static_cast<std::uint8_t>(bytes[at]); }

constexpr int kRunIndicatorOff = 0x00;
constexpr int kRunIndicatorOn = 0xFF;
constexpr int kMoreFollows = 0xFF;
constexpr int kBasicStream = 1;
constexpr int kIndividual = 4;
// Basic objects, read in a stream or one at a time: the controller answers code 4 too.
constexpr int kConformityBasicIndividual = 0x81;
// Address, function, MEI type, code, conformity, more follows, next object, number of objects.
constexpr std::size_t kObjectsAt = 8;
// What one answer may hold before its CRC.
constexpr std::size_t kMostBytes = LongestFrame - 2;

std::string Refusal(int address, int function, int code) {
    std::string answer;
    answer += static_cast<char>(address);
    answer += static_cast<char>(function | ExceptionBit);
    answer += static_cast<char>(code);
    return WithCrc(std::move(answer));
}

// The address matches, and the answer is to `function`: its exception code, or whether to read
// on.
enum class Answered { No, Refused, Yes };
Answered AnswerTo(std::string_view request, std::string_view answer, int function) {
    if (request.size() < 2 || ByteAt(request, 1) != function || answer.size() < 3 ||
        ByteAt(answer, 0) != ByteAt(request, 0)) {
        return Answered::No;
    }
    if (ByteAt(answer, 1) == (function | ExceptionBit)) {
        return answer.size() == 3 ? Answered::Refused : Answered::No;
    }
    return ByteAt(answer, 1) == function ? Answered::Yes : Answered::No;
}

const std::string& BasicObject(const DeviceIdentity& identity, int id) {
    switch (id) {
        case 0: return identity.vendor;
        case 1: return identity.productCode;
        default: return identity.revision;
    }
}

// Makers pad fixed fields with NULs or spaces; the operator need not see them.
std::string Shown(std::string_view value) {
    while (!value.empty() && (value.back() == '\0' || value.back() == ' ')) {
        value.remove_suffix(1);
    }
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (const char c : value) {
        const int byte = static_cast<std::uint8_t>(c);
        // A backslash of its own would make \xNN ambiguous.
        if (byte >= 0x20 && byte < 0x7F && c != '\\') {
            text += c;
        } else {
            text += "\\x";
            text += kDigits[byte >> 4];
            text += kDigits[byte & 0x0F];
        }
    }
    return text;
}

}  // namespace

std::string ServerIdRequest(int address) {
    std::string request;
    request += static_cast<char>(address);
    request += static_cast<char>(ReportServerId);
    return request;
}

std::optional<ServerIdAnswerRead> ReadServerIdAnswer(std::string_view request,
                                                     std::string_view answer) {
    switch (AnswerTo(request, answer, ReportServerId)) {
        case Answered::No: return std::nullopt;
        case Answered::Refused: return ServerIdAnswerRead{std::nullopt, ByteAt(answer, 2)};
        case Answered::Yes: break;
    }
    const std::size_t count = static_cast<std::size_t>(ByteAt(answer, 2));
    if (answer.size() != 3 + count) {
        return std::nullopt;
    }
    ServerId server{std::string(answer.substr(3)), std::nullopt};
    // The data is the maker's to lay out: a single byte is more likely an id than a bare run
    // indicator.
    const int last = count >= 2 ? ByteAt(answer, answer.size() - 1) : -1;
    if (last == kRunIndicatorOff || last == kRunIndicatorOn) {
        server.running = last == kRunIndicatorOn;
        server.id.pop_back();
    }
    return ServerIdAnswerRead{std::move(server), std::nullopt};
}

std::string DeviceIdRequest(int address, int objectId) {
    std::string request;
    request += static_cast<char>(address);
    request += static_cast<char>(EncapsulatedInterface);
    request += static_cast<char>(ReadDeviceIdMei);
    request += static_cast<char>(kBasicStream);
    request += static_cast<char>(objectId);
    return request;
}

std::optional<DeviceIdAnswerRead> ReadDeviceIdAnswer(std::string_view request,
                                                     std::string_view answer) {
    if (request.size() < 3 || ByteAt(request, 2) != ReadDeviceIdMei) {
        return std::nullopt;
    }
    switch (AnswerTo(request, answer, EncapsulatedInterface)) {
        case Answered::No: return std::nullopt;
        case Answered::Refused: return DeviceIdAnswerRead{{}, false, 0, ByteAt(answer, 2)};
        case Answered::Yes: break;
    }
    if (answer.size() < kObjectsAt || ByteAt(answer, 2) != ReadDeviceIdMei) {
        return std::nullopt;
    }
    DeviceIdAnswerRead read;
    read.moreFollows = ByteAt(answer, 5) == kMoreFollows;
    read.nextObjectId = ByteAt(answer, 6);
    std::size_t at = kObjectsAt;
    for (int left = ByteAt(answer, 7); left > 0; --left) {
        if (answer.size() < at + 2) {
            return std::nullopt;
        }
        const std::size_t length = static_cast<std::size_t>(ByteAt(answer, at + 1));
        if (answer.size() < at + 2 + length) {
            return std::nullopt;
        }
        read.objects.push_back({ByteAt(answer, at), std::string(answer.substr(at + 2, length))});
        at += 2 + length;
    }
    if (at != answer.size()) {
        return std::nullopt;
    }
    return read;
}

void AddObjects(DeviceIdentity& identity, const std::vector<DeviceIdObject>& objects) {
    for (const DeviceIdObject& object : objects) {
        switch (object.id) {
            case 0: identity.vendor = object.value; break;
            case 1: identity.productCode = object.value; break;
            case 2: identity.revision = object.value; break;
            default: break;
        }
    }
}

std::string ServerIdAnswer(int address, std::string_view id, bool running) {
    // Address, function, count and the run indicator around the id.
    id = id.substr(0, std::min(id.size(), kMostBytes - 4));
    std::string answer;
    answer += static_cast<char>(address);
    answer += static_cast<char>(ReportServerId);
    answer += static_cast<char>(id.size() + 1);
    answer += id;
    answer += static_cast<char>(running ? kRunIndicatorOn : kRunIndicatorOff);
    return WithCrc(std::move(answer));
}

std::string DeviceIdAnswer(int address, std::string_view request, const DeviceIdentity& identity) {
    if (request.size() < 5 || ByteAt(request, 2) != ReadDeviceIdMei) {
        return Refusal(address, EncapsulatedInterface, 1);
    }
    const int code = ByteAt(request, 3);
    const int start = ByteAt(request, 4);
    if (code < kBasicStream || code > kIndividual) {
        return Refusal(address, EncapsulatedInterface, 3);
    }
    const bool individual = code == kIndividual;
    if (individual && start > LastBasicObject) {
        return Refusal(address, EncapsulatedInterface, 2);
    }
    // Codes 2 and 3 ask for more than this controller has: it answers what it has. A stream
    // asked from an object it does not have starts again at the first.
    const int first = start > LastBasicObject ? 0 : start;
    const int last = individual ? start : LastBasicObject;
    std::string objects;
    int count = 0;
    int next = first;
    for (; next <= last; ++next) {
        // An object is never split: one longer than any answer holds is cut.
        const std::string_view value =
            std::string_view(BasicObject(identity, next)).substr(0, kMostBytes - kObjectsAt - 2);
        if (kObjectsAt + objects.size() + 2 + value.size() > kMostBytes) {
            break;
        }
        objects += static_cast<char>(next);
        objects += static_cast<char>(value.size());
        objects += value;
        ++count;
    }
    const bool more = next <= last;
    std::string answer;
    answer += static_cast<char>(address);
    answer += static_cast<char>(EncapsulatedInterface);
    answer += static_cast<char>(ReadDeviceIdMei);
    answer += static_cast<char>(code);
    answer += static_cast<char>(kConformityBasicIndividual);
    answer += static_cast<char>(more ? kMoreFollows : 0);
    answer += static_cast<char>(more ? next : 0);
    answer += static_cast<char>(count);
    answer += objects;
    return WithCrc(std::move(answer));
}

std::string IdentityText(const std::optional<ServerId>& serverId,
                         const std::optional<DeviceIdentity>& identity) {
    std::string device;
    const auto add = [&device](const std::string& part) {
        if (!part.empty()) {
            device += (device.empty() ? "" : " ") + part;
        }
    };
    if (identity) {
        add(Shown(identity->vendor));
        add(Shown(identity->productCode));
        std::string revision = Shown(identity->revision);
        if (!revision.empty() && revision.front() >= '0' && revision.front() <= '9') {
            revision = "v" + revision;
        }
        add(revision);
    }
    std::string server;
    if (serverId) {
        const std::string id = Shown(serverId->id);
        if (!id.empty()) {
            server = "server ID '" + id + "'";
        }
        if (serverId->running) {
            server += std::string(server.empty() ? "" : " ") +
                      (*serverId->running ? "running" : "stopped");
        }
    }
    if (device.empty() || server.empty()) {
        return device + server;
    }
    return device + ", " + server;
}

}  // namespace tarvel::modbus
