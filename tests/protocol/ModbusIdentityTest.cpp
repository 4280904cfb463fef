// SPDX-License-Identifier: GPL-3.0-or-later
// Who a controller says it is: report server ID and read device identification, asked, answered
// by a simulated controller, read back and told to the operator, and how long their frames are.

#include "protocol/modbus/ModbusIdentity.h"

#include <gtest/gtest.h>

#include "protocol/modbus/ModbusFrame.h"

namespace tarvel::modbus {
namespace {

std::string Bytes(std::initializer_list<int> bytes) {
    std::string text;
    for (const int byte : bytes) {
        text += static_cast<char>(byte);
    }
    return text;
}

// An answer as a reader takes it: checked, and without its CRC.
std::string Unchecked(const std::string& frame) {
    EXPECT_TRUE(CrcHolds(frame));
    return frame.substr(0, frame.size() - 2);
}

const DeviceIdentity kAcme{"Acme Controls", "TC-100", "2.1"};

TEST(ModbusServerId, TheAnswerGivesTheIdAndTheRunIndicatorWhereTheLastByteIsOne) {
    // Report server ID to controller 17, its CRC computed apart from this program.
    EXPECT_EQ(WithCrc(ServerIdRequest(17)), Bytes({0x11, 0x11, 0xCD, 0xEC}));
    const std::string request = ServerIdRequest(17);
    for (const bool running : {true, false}) {
        const auto read =
            ReadServerIdAnswer(request, Unchecked(ServerIdAnswer(17, "TC100", running)));
        ASSERT_TRUE(read && read->serverId);
        EXPECT_EQ(read->serverId->id, "TC100");
        EXPECT_EQ(read->serverId->running, running);
        EXPECT_FALSE(read->exceptionCode);
    }
    // A lone byte is an id, even 0xFF; a last byte that is neither 0x00 nor 0xFF is the id's.
    const auto lone = ReadServerIdAnswer(request, Bytes({0x11, 0x11, 1, 0xFF}));
    ASSERT_TRUE(lone && lone->serverId);
    EXPECT_EQ(lone->serverId->id, Bytes({0xFF}));
    EXPECT_FALSE(lone->serverId->running);
    const auto plain = ReadServerIdAnswer(request, Bytes({0x11, 0x11, 2, 0x2A, 0x07}));
    ASSERT_TRUE(plain && plain->serverId);
    EXPECT_EQ(plain->serverId->id, Bytes({0x2A, 0x07}));
    EXPECT_FALSE(plain->serverId->running);
    // An id longer than a frame holds is cut so that the answer still is one.
    const std::string longest = ServerIdAnswer(17, std::string(300, 'x'), true);
    EXPECT_EQ(longest.size(), static_cast<std::size_t>(LongestFrame));
    EXPECT_EQ(ReadServerIdAnswer(request, Unchecked(longest))->serverId->id.size(), 250u);
}

TEST(ModbusServerId, ARefusalGivesItsCodeAndAnythingElseNothing) {
    const std::string request = ServerIdRequest(17);
    const auto refused = ReadServerIdAnswer(request, Bytes({0x11, 0x91, 0x01}));
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->exceptionCode, 1);
    EXPECT_FALSE(refused->serverId);
    const std::string answer = Unchecked(ServerIdAnswer(17, "TC100", true));
    // Another controller's, another function's, one shorter or longer than its count.
    EXPECT_FALSE(ReadServerIdAnswer(request, Unchecked(ServerIdAnswer(18, "TC100", true))));
    EXPECT_FALSE(ReadServerIdAnswer(Bytes({0x11, 0x08, 0, 0x0B, 0, 0}), answer));
    EXPECT_FALSE(ReadServerIdAnswer(request, answer.substr(0, answer.size() - 1)));
    EXPECT_FALSE(ReadServerIdAnswer(request, answer + 'x'));
    EXPECT_FALSE(ReadServerIdAnswer(request, Bytes({0x11, 0x11})));
}

TEST(ModbusDeviceId, AStreamReadsBackAsTheControllerHasIt) {
    // The basic objects of controller 1 from the start, CRC computed apart from this program.
    EXPECT_EQ(WithCrc(DeviceIdRequest(1)), Bytes({0x01, 0x2B, 0x0E, 0x01, 0x00, 0x70, 0x77}));
    const std::string request = DeviceIdRequest(1);
    const std::string answer = DeviceIdAnswer(1, request, kAcme);
    EXPECT_EQ(answer.substr(0, 8), Bytes({0x01, 0x2B, 0x0E, 0x01, 0x81, 0x00, 0x00, 0x03}));
    const auto read = ReadDeviceIdAnswer(request, Unchecked(answer));
    ASSERT_TRUE(read);
    EXPECT_FALSE(read->moreFollows);
    EXPECT_FALSE(read->exceptionCode);
    ASSERT_EQ(read->objects.size(), 3u);
    EXPECT_EQ(read->objects[2].id, 2);
    DeviceIdentity identity;
    AddObjects(identity, read->objects);
    EXPECT_EQ(identity.vendor, "Acme Controls");
    EXPECT_EQ(identity.productCode, "TC-100");
    EXPECT_EQ(identity.revision, "2.1");

    // From a later object; from one the controller does not have, again from the first.
    const auto later =
        ReadDeviceIdAnswer(request, Unchecked(DeviceIdAnswer(1, DeviceIdRequest(1, 2), kAcme)));
    ASSERT_TRUE(later);
    ASSERT_EQ(later->objects.size(), 1u);
    EXPECT_EQ(later->objects[0].value, "2.1");
    const auto restarted =
        ReadDeviceIdAnswer(request, Unchecked(DeviceIdAnswer(1, DeviceIdRequest(1, 0x80), kAcme)));
    ASSERT_TRUE(restarted);
    EXPECT_EQ(restarted->objects.size(), 3u);
}

TEST(ModbusDeviceId, ObjectsThatDoNotFitOneAnswerFollowInTheNext) {
    const DeviceIdentity wordy{std::string(100, 'V'), std::string(100, 'P'), std::string(100, 'R')};
    const auto first = ReadDeviceIdAnswer(DeviceIdRequest(1),
                                          Unchecked(DeviceIdAnswer(1, DeviceIdRequest(1), wordy)));
    ASSERT_TRUE(first);
    EXPECT_TRUE(first->moreFollows);
    EXPECT_EQ(first->nextObjectId, 2);
    EXPECT_EQ(first->objects.size(), 2u);
    const std::string again = DeviceIdRequest(1, first->nextObjectId);
    const std::string answer = DeviceIdAnswer(1, again, wordy);
    const auto second = ReadDeviceIdAnswer(again, Unchecked(answer));
    ASSERT_TRUE(second);
    EXPECT_FALSE(second->moreFollows);
    DeviceIdentity identity;
    AddObjects(identity, first->objects);
    AddObjects(identity, second->objects);
    EXPECT_EQ(identity.vendor, wordy.vendor);
    EXPECT_EQ(identity.revision, wordy.revision);
    // An object longer than any answer holds is cut, never left to follow for ever.
    const DeviceIdentity huge{std::string(255, 'V'), "P", "R"};
    const std::string cut = DeviceIdAnswer(1, DeviceIdRequest(1), huge);
    EXPECT_LE(cut.size(), static_cast<std::size_t>(LongestFrame));
    const auto read = ReadDeviceIdAnswer(DeviceIdRequest(1), Unchecked(cut));
    ASSERT_TRUE(read);
    EXPECT_TRUE(read->moreFollows);
    EXPECT_EQ(read->nextObjectId, 1);
}

TEST(ModbusDeviceId, IndividualAccessAndRefusals) {
    const auto ask = [](int code, int object) {
        std::string request = DeviceIdRequest(1, object);
        request[3] = static_cast<char>(code);
        return ReadDeviceIdAnswer(request, Unchecked(DeviceIdAnswer(1, request, kAcme)));
    };
    const auto one = ask(4, 1);
    ASSERT_TRUE(one);
    ASSERT_EQ(one->objects.size(), 1u);
    EXPECT_EQ(one->objects[0].value, "TC-100");
    EXPECT_FALSE(one->moreFollows);
    EXPECT_EQ(ask(4, 3)->exceptionCode, 2);
    EXPECT_EQ(ask(5, 0)->exceptionCode, 3);
    EXPECT_EQ(ask(0, 0)->exceptionCode, 3);
    // Regular and extended are more than this controller has: it answers its basic objects.
    EXPECT_EQ(ask(2, 0)->objects.size(), 3u);
    EXPECT_EQ(ask(3, 0)->objects.size(), 3u);
    // An MEI type it does not know.
    std::string canopen = DeviceIdRequest(1);
    canopen[2] = 0x0D;
    EXPECT_EQ(DeviceIdAnswer(1, canopen, kAcme), WithCrc(Bytes({0x01, 0xAB, 0x01})));
}

TEST(ModbusDeviceId, MalformedOrForeignAnswersGiveNothing) {
    const std::string request = DeviceIdRequest(1);
    const std::string answer = Unchecked(DeviceIdAnswer(1, request, kAcme));
    ASSERT_TRUE(ReadDeviceIdAnswer(request, answer));
    const auto refused = ReadDeviceIdAnswer(request, Bytes({0x01, 0xAB, 0x02}));
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->exceptionCode, 2);
    EXPECT_TRUE(refused->objects.empty());
    EXPECT_FALSE(ReadDeviceIdAnswer(request, Bytes({0x01, 0xAB, 0x02, 0x00})));
    // Cut anywhere, inside an object's header or its value.
    for (std::size_t size = 0; size < answer.size(); ++size) {
        EXPECT_FALSE(ReadDeviceIdAnswer(request, answer.substr(0, size))) << size;
    }
    // A byte past the last object; the last object's length running past the end.
    EXPECT_FALSE(ReadDeviceIdAnswer(request, answer + 'x'));
    std::string overrun = answer;
    overrun[answer.size() - 4] = 4;  // the revision "2.1" claims four bytes
    EXPECT_FALSE(ReadDeviceIdAnswer(request, overrun));
    // One object more than listed, fewer than listed.
    std::string miscounted = answer;
    miscounted[7] = 2;
    EXPECT_FALSE(ReadDeviceIdAnswer(request, miscounted));
    miscounted[7] = 4;
    EXPECT_FALSE(ReadDeviceIdAnswer(request, miscounted));
    // Another MEI type, another controller, an answer to report server ID.
    std::string otherMei = answer;
    otherMei[2] = 0x0D;
    EXPECT_FALSE(ReadDeviceIdAnswer(request, otherMei));
    EXPECT_FALSE(
        ReadDeviceIdAnswer(request, Unchecked(DeviceIdAnswer(2, DeviceIdRequest(2), kAcme))));
    EXPECT_FALSE(ReadDeviceIdAnswer(request, Unchecked(ServerIdAnswer(1, "TC100", true))));
    EXPECT_FALSE(ReadDeviceIdAnswer(ServerIdRequest(1), answer));
}

TEST(ModbusDeviceId, TheAnswersLengthIsKnownOnceTheLastObjectHeaderIsIn) {
    const std::string answer = DeviceIdAnswer(1, DeviceIdRequest(1), kAcme);
    const std::size_t lastHeaderEnds = answer.size() - 2 - 3;  // before "2.1" and the CRC
    for (std::size_t size = 1; size <= answer.size(); ++size) {
        const auto hint = FrameLength(answer.substr(0, size), Direction::Answer);
        ASSERT_TRUE(hint) << size;
        if (size < lastHeaderEnds) {
            // Never whole yet, and always asking for more than there is.
            EXPECT_FALSE(hint->whole) << size;
            EXPECT_GT(hint->length, static_cast<int>(size)) << size;
        } else {
            EXPECT_TRUE(hint->whole) << size;
            EXPECT_EQ(hint->length, static_cast<int>(answer.size())) << size;
        }
    }
    // No objects at all; objects whose lengths run past any frame.
    EXPECT_EQ(FrameLength(Bytes({1, 0x2B, 0x0E, 1, 0x81, 0, 0, 0}), Direction::Answer)->length, 10);
    const auto past =
        FrameLength(Bytes({1, 0x2B, 0x0E, 1, 0x81, 0, 0, 2, 0, 250, 'x'}), Direction::Answer);
    EXPECT_GT(past->length, LongestFrame);
    // The request is fixed; another MEI type has no known length either way.
    const std::string request = WithCrc(DeviceIdRequest(1));
    EXPECT_FALSE(FrameLength(request.substr(0, 2), Direction::Request)->whole);
    EXPECT_EQ(FrameLength(request.substr(0, 3), Direction::Request)->length, 7);
    EXPECT_FALSE(FrameLength(Bytes({1, 0x2B, 0x0D}), Direction::Request));
    EXPECT_FALSE(FrameLength(Bytes({1, 0x2B, 0x0D}), Direction::Answer));
}

TEST(ModbusIdentityText, TheOperatorReadsWhatIsKnown) {
    const ServerId server{"TC100", true};
    EXPECT_EQ(IdentityText(server, kAcme), "Acme Controls TC-100 v2.1, server ID 'TC100' running");
    EXPECT_EQ(IdentityText(std::nullopt, kAcme), "Acme Controls TC-100 v2.1");
    EXPECT_EQ(IdentityText(ServerId{"TC100", std::nullopt}, std::nullopt), "server ID 'TC100'");
    EXPECT_EQ(IdentityText(ServerId{"", false}, DeviceIdentity{"", "", "R2"}), "R2, stopped");
    EXPECT_EQ(IdentityText(std::nullopt, std::nullopt), "");
    EXPECT_EQ(IdentityText(ServerId{}, DeviceIdentity{}), "");
    // Binary ids in hex, a backslash too so that the hex stays unambiguous; padding dropped.
    EXPECT_EQ(IdentityText(ServerId{Bytes({0x01, 'A', '\\', 0xFE}), true}, std::nullopt),
              "server ID '\\x01A\\x5C\\xFE' running");
    EXPECT_EQ(IdentityText(std::nullopt, DeviceIdentity{std::string("Acme\0\0", 6), "X  ", ""}),
              "Acme X");
}

TEST(ModbusIdentityText, AnswersAreDescribedByWhatTheyHold) {
    EXPECT_EQ(DescribeAnswer(ServerIdAnswer(17, "TC100", true)),
              "function 17, server ID 'TC100' running");
    EXPECT_EQ(DescribeAnswer(DeviceIdAnswer(1, DeviceIdRequest(1), kAcme)),
              "function 43, 3 identity objects (Acme Controls TC-100 v2.1)");
    const DeviceIdentity wordy{std::string(100, 'V'), std::string(100, 'P'), std::string(100, 'R')};
    const std::string partial = DeviceIdAnswer(1, DeviceIdRequest(1), wordy);
    EXPECT_NE(DescribeAnswer(partial).find(", more from object 2"), std::string::npos);
    EXPECT_EQ(DescribeAnswer(WithCrc(Bytes({1, 0xAB, 2}))),
              "exception 2 (illegal data address) to function 43");
}

}  // namespace
}  // namespace tarvel::modbus
