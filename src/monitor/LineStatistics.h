// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/Exchange.h"
#include "core/Time.h"

namespace tarvel {

using namespace std::chrono_literals;

// Response times of one kind, at 0.1 ms resolution: exact count, minimum, mean and maximum, and
// percentiles from a histogram, so that a day of exchanges takes no more memory than a minute.
class ResponseTimes {
public:
    static constexpr Duration Resolution = 100us;
    // One second; longer times are counted in the last bin (and the maximum stays exact).
    static constexpr int Bins = 10000;

    void Add(Duration time);
    std::int64_t Count() const { return count_; }
    Duration Minimum() const { return minimum_; }
    Duration Maximum() const { return maximum_; }
    Duration Mean() const;
    // The smallest time that at least `share` (0 to 1) of the samples do not exceed: the
    // nearest-rank percentile, at the resolution. 0 without samples.
    Duration Percentile(double share) const;
    // Samples per bin of Resolution, from 0 on; empty without samples.
    const std::vector<std::uint32_t>& Histogram() const { return bins_; }

private:
    std::vector<std::uint32_t> bins_;
    std::int64_t count_ = 0;
    Duration sum_{0};
    Duration minimum_{0};
    Duration maximum_{0};
    int lowestBin_ = 0;
    int highestBin_ = 0;
};

// What one controller did in a run.
struct ControllerStatistics {
    Station station = 0;
    std::string address = "A";  // the station as its protocol writes it
    int requests = 0;           // exchanges judged
    int good = 0;
    int noAnswer = 0;
    int wrongCount = 0;
    int noCr = 0;
    int notDetected = 0;    // the line detector's missing answer
    int unknownFormat = 0;  // the line detector's missing carriage return
    // Of the protocols whose frames carry a check and a length (Modbus).
    int badCrc = 0;
    int wrongLength = 0;
    int wrongSource = 0;
    int cut = 0;
    // Of the framings that write their bytes as text (Modbus ASCII).
    int badLrc = 0;
    int notHex = 0;
    int noLf = 0;
    int oddLength = 0;
    int exceptions = 0;                 // good answers that refused the request...
    std::map<int, int> exceptionCodes;  // ...by their code
    std::optional<LocalDateTime> lastGood;
    // The request's own time on the wire: the answer window runs from its write, the response
    // times from its end.
    Duration requestTime{0};
    // Of the good answers, from the end of the request on the wire to the arrival of their
    // first and of their last character.
    ResponseTimes toFirst;
    ResponseTimes toLast;
    // Failed exchanges in each minute of the run, from its start.
    std::vector<int> failuresByMinute;

    int Failures() const { return requests - good; }
    int Missing() const { return noAnswer + notDetected; }  // no complete answer in time
    int Garbled() const {                                   // answers that were wrong
        return wrongCount + noCr + unknownFormat + badCrc + wrongLength + wrongSource + cut +
               badLrc + notHex + noLf + oddLength;
    }
    double SuccessRate() const;  // percent; 0 without requests
};

// The statistics of a run, per controller and for the whole line, made from the engine's
// exchange values as they are judged.
class LineStatistics {
public:
    // A new run starts at `start`: what was counted before is dropped. The response times are
    // measured from the end of the request, `characterTime` a character after its write.
    void Begin(Instant start, Duration characterTime, Duration answerWindow);
    void Add(const Exchange& exchange);
    void Clear();

    // In the order of their first exchange.
    const std::vector<ControllerStatistics>& Controllers() const { return controllers_; }
    const ControllerStatistics* Find(Station station) const;

    int Exchanges() const { return exchanges_; }
    int Good() const { return good_; }
    double SuccessRate() const;  // percent; 0 without exchanges
    // Over the run so far: from its start to the last verdict.
    double ExchangesPerSecond() const;
    // From the start to the last verdict.
    Duration Elapsed() const { return lastVerdict_ - start_; }
    int LongestFailureRun() const { return longestFailureRun_; }
    const std::vector<int>& FailuresByMinute() const { return failuresByMinute_; }
    Duration AnswerWindow() const { return answerWindow_; }
    Instant Start() const { return start_; }
    bool Begun() const { return begun_; }
    // Which findings the protocol counted can have: which columns the reports of these
    // statistics have. Kept through Clear().
    void CountVerdicts(VerdictFamily family) { verdicts_ = family; }
    VerdictFamily Verdicts() const { return verdicts_; }
    bool ChecksFrames() const { return verdicts_ != VerdictFamily::Ascon; }

private:
    ControllerStatistics& Slot(const Request& request);

    std::vector<ControllerStatistics> controllers_;
    VerdictFamily verdicts_ = VerdictFamily::Ascon;
    std::map<Station, std::size_t> slotOf_;
    bool begun_ = false;
    Instant start_{};
    Instant lastVerdict_{};
    Duration characterTime_{0};
    Duration answerWindow_{0};
    int exchanges_ = 0;
    int good_ = 0;
    int failureRun_ = 0;
    int longestFailureRun_ = 0;
    std::vector<int> failuresByMinute_;
};

// What a scan found, apart from the health of the line: a probe of an address where nothing
// answers is how a scan looks, not a failure.
struct ScanFindings {
    int addressesTried = 0;
    // The addresses with a good answer, in the order they were tried.
    std::vector<std::string> found;
    // The fastest and the slowest good answer, to its last character; nothing without one.
    std::optional<Duration> fastest;
    std::optional<Duration> slowest;
};
ScanFindings FindingsOf(const LineStatistics& scan);
// "64 addresses tried, 4 controllers found (A B D E), response 7.3–14.3 ms" (an en dash).
std::string ScanFindingsText(const ScanFindings& findings);

// The failures of a minute as a rate a minute. A minute still running (or the run's last, cut
// short) has had only `covered` of its time: its failures are scaled up to a whole minute, from
// no less than MinimumCovered, over which one failure more or less says more about chance than
// about the line.
inline constexpr Duration MinimumCovered = 10s;
double FailuresPerMinute(int failures, Duration covered);
// The minutes a run `elapsed` long has begun (at least one, and at least those with failures
// counted), and how much of the last of them it has seen: a whole minute when it is over.
struct RunMinutes {
    std::size_t begun = 1;
    Duration coveredOfLast{0};
    bool LastIsPartial() const { return coveredOfLast < std::chrono::minutes(1); }
};
RunMinutes MinutesOf(Duration elapsed, std::size_t minutesCounted);

// How a controller behaves, beyond the two verdicts of the analysis.
enum class Judgement {
    NotAsked,      // no exchange yet
    Healthy,       // every exchange good
    Silent,        // never answered
    Intermittent,  // good answers, and only missing answers as failures
    Garbled,       // answers with the wrong number of characters or no carriage return: noise
    Slow,          // answers good, but late in the answer window
};

// The thresholds of the judgements, in one place.
struct JudgementThresholds {
    // A controller is slow when this share of its answers...
    static constexpr double SlowPercentile = 0.95;
    // ...take longer than this share of the answer window to complete, counted like the
    // response times from the end of the request: of the time the window leaves the controller.
    static constexpr double SlowShareOfWindow = 0.75;
};

struct Assessment {
    Judgement judgement = Judgement::NotAsked;
    std::string reason;  // a sentence for the operator: why this judgement
};

Assessment Assess(const ControllerStatistics& controller, Duration answerWindow);
// "healthy", "silent", "intermittent", "garbled", "slow"; "-" before the first exchange.
std::string JudgementName(Judgement judgement);

// Milliseconds with one decimal, rounded half away from zero: "13.0". Never in the host's
// locale: files and columns read the same everywhere.
std::string Milliseconds(Duration time);
// A number with one decimal, rounded like Milliseconds: "94.4".
std::string OneDecimal(double value);

}  // namespace tarvel
