// SPDX-License-Identifier: GPL-3.0-or-later
// `scan`: the line detector over the 64 addresses, its report and its line configuration.
#include <QJsonArray>
#include <QString>
#include <cstdio>
#include <ostream>

#include "cli/CliSession.h"
#include "core/ConfigFile.h"
#include "line/LineDetector.h"
#include "platform/TextFiles.h"
#include "serial/ControllerQueries.h"

namespace tarvel {
namespace {

QJsonArray IdentitiesJson(const std::vector<IdentityReading>& identities) {
    const auto text = [](const std::string& value) {
        return QString::fromLatin1(value.data(), static_cast<qsizetype>(value.size()));
    };
    QJsonArray array;
    for (const IdentityReading& identity : identities) {
        QJsonObject object{{"address", identity.station},
                           {"text", TextOrNull(identity.Text())},
                           {"failure", TextOrNull(identity.failure)}};
        object.insert("serverId",
                      identity.serverId ? QJsonValue(text(identity.serverId->id)) : QJsonValue());
        object.insert("running", identity.serverId && identity.serverId->running
                                     ? QJsonValue(*identity.serverId->running)
                                     : QJsonValue());
        const modbus::DeviceIdentity* device = identity.device ? &*identity.device : nullptr;
        object.insert("vendor", device ? QJsonValue(text(device->vendor)) : QJsonValue());
        object.insert("productCode", device ? QJsonValue(text(device->productCode)) : QJsonValue());
        object.insert("revision", device ? QJsonValue(text(device->revision)) : QJsonValue());
        array.append(object);
    }
    return array;
}

}  // namespace

// Shows where the scan stands, and prints each controller as it is found.
class CliSession::ScanProgress final : public CliSession::Progress, public ScanSink {
public:
    using Progress::Progress;

    void ScanStarted() override { Started(); }
    void AddressStarting(Station station, int position, int count) override {
        if (Showing()) {
            char text[160];
            std::snprintf(text, sizeof text, "address %s (%d of %d), %s, found %d, errors %d",
                          session_.port_.LineProtocol().StationText(station).c_str(), position + 1,
                          count, Seconds(Elapsed()).c_str(), found_, failures_);
            Show(text);
        }
    }
    void ExchangeJudged(const Exchange& exchange) override {
        Logged();
        failures_ += exchange.Failed() ? 1 : 0;
    }
    void ControllerFound(Station station, int found) override {
        found_ = found;
        if (session_.options_.json) {
            return;
        }
        EndLine();
        const Protocol& protocol = session_.port_.LineProtocol();
        session_.host_.out << "Controller " << protocol.StationText(station);
        // An Ascon address is a character, told with its index; a Modbus one is its number.
        if (protocol.StationText(station) != std::to_string(station)) {
            session_.host_.out << " found (address " << station << ")\n";
        } else {
            session_.host_.out << " found\n";
        }
        session_.host_.out << std::flush;
    }
    void ScanEnded(const ScanEnd&) override { EndLine(); }

    int Found() const { return found_; }

private:
    int found_ = 0;
    int failures_ = 0;  // the scan's failed exchanges, most of them at empty addresses
};

QCoro::Task<int> CliSession::Scan() {
    if (options_.allSettings) {
        co_return co_await SearchAllSettings();
    }
    ScanProgress& progress = KeepProgress<ScanProgress>();
    const bool prepared = AddDocument(
        options_.cfgFile, "line configuration", [this, &progress]() -> std::optional<std::string> {
            // The table holds the controllers found so far; none found, no file.
            if (progress.Found() == 0) {
                return std::nullopt;
            }
            return FormatLineConfiguration(static_cast<std::int16_t>(progress.Found()), table_);
        });
    if (!prepared || !PrepareFiles()) {
        co_return kPortOrFileFailed;
    }
    const bool opened = co_await OpenLine();
    if (!opened) {
        co_return kPortOrFileFailed;
    }
    if (!options_.json) {
        host_.out << ProvenanceStart("scan", started_, Line()) << "\n" << std::flush;
    }
    LineDetector detector(primo_, port_, table_);
    if (!options_.addresses.empty()) {
        detector.ScanOnly(options_.addresses);
    }
    detector.AddSink(monitor_.ScanEvents());
    detector.AddSink(progress);
    files_.Start();
    const ScanEnd end = co_await detector.Scan(co_await lineUse_.Acquire());
    const Duration sweepTime = progress.Elapsed();  // the questions of identity after it apart
    // What answered is worth a name: a Modbus controller is asked who it is, once the sweep is
    // done, so that the scan's own timing stays what it was.
    std::vector<IdentityReading> identities;
    if (port_.LineProtocol().ChecksFrames() && !end.stopped && end.lineFailure.empty()) {
        const LineUse::Lease lease = co_await lineUse_.Acquire();
        primo_.StopFlag = kFalse;
        StopIfAsked();
        for (const std::int16_t station : end.found) {
            if (primo_.StopFlag == kTrue || !port_.Line().PortOpen()) {
                break;
            }
            identities.push_back(co_await ReadControllerIdentity(port_, primo_, station));
        }
    }

    const bool filesWritten = co_await files_.Finish();
    if (!options_.cfgFile.empty() && end.found.empty()) {
        host_.err << "line-tarvel-cli: no controller found, so " << ShownPath(options_.cfgFile)
                  << " is not written\n";
    }
    const LineStatistics& statistics = monitor_.ScanStatistics();
    const Provenance provenance = MadeOf(true);
    if (options_.json) {
        QJsonArray found;
        const Protocol& protocol = port_.LineProtocol();
        for (const std::int16_t station : end.found) {
            // Ascon's addresses are characters; the others' are numbers.
            if (&protocol == &DefaultProtocol()) {
                found.append(QString::fromStdString(protocol.StationText(station)));
            } else {
                found.append(station);
            }
        }
        QJsonObject document{
            {"command", "scan"},
            {"found", found},
            {"stopped", end.stopped},
            {"lineFailure", TextOrNull(end.lineFailure)},
            {"seconds", Rounded(std::chrono::duration<double>(sweepTime).count(), 1)},
            // What the scan found, not the line's health: a test run tells that.
            {"scan", ScanJson(statistics)},
            {"controllers", AnsweringControllersJson(statistics, port_.LineProtocol())},
        };
        if (port_.LineProtocol().ChecksFrames()) {
            document.insert("identities", IdentitiesJson(identities));
        }
        AddProvenance(document, provenance);
        host_.out << JsonText(document);
    } else {
        std::string names;
        for (const std::int16_t station : end.found) {
            names += " " + port_.LineProtocol().StationText(station);
        }
        for (const IdentityReading& identity : identities) {
            const std::string text = identity.Text();
            host_.out << "Controller " << port_.LineProtocol().StationText(identity.station)
                      << " is "
                      << (!text.empty() ? text
                          : identity.failure.empty()
                              ? "not telling who it is"
                              : "not telling who it is (" + identity.failure + ")")
                      << "\n";
        }
        host_.out << (end.stopped ? "Scan stopped: " : "Scan finished: ")
                  << Counted(static_cast<long>(end.found.size()), "controller") << " found"
                  << (end.found.empty() ? "" : ":" + names) << " (" << Seconds(sweepTime)
                  << ", ended " << Iso8601(provenance.ended) << ")\n";
    }
    if (const std::optional<int> failed = FailureStatus(end.lineFailure, filesWritten)) {
        co_return *failed;
    }
    co_return end.found.empty() ? kLineFailures : kAllWell;
}

}  // namespace tarvel
