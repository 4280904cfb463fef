// SPDX-License-Identifier: GPL-3.0-or-later
// The search across settings on virtual time, through the same search, port service and answer
// waits as the programs, against the simulated bus in this process: how long a search of an
// empty line takes, and one of a line whose controllers answer at three different settings,
// each against the nominal sum of its pauses, answer windows and settles.

#include <cstdio>

#include "line/SettingsSearch.h"
#include "platform/VirtualTime.h"
#include "protocol/ascon/AsconFrame.h"
#include "serial/PortService.h"
#include "sim/SimulatedSerialLine.h"

using namespace tarvel;
using namespace std::chrono_literals;

namespace {

double Seconds(Duration span) { return std::chrono::duration<double>(span).count(); }

QCoro::Task<> SearchOnce(SettingsSearch& search, LineUse& lineUse, SearchEnd& end, bool& done) {
    end = co_await search.Search(co_await lineUse.Acquire());
    done = true;
}

void Measure(const char* what, std::vector<SimulatedController> controllers) {
    VirtualTime time;
    SimulatedSerialLine line(time);
    Primo primo;
    primo.PortNumber = 1;
    primo.BaudText = " 4800";
    primo.ParityText = "N";
    primo.DataBitsText = "8";
    primo.StopBitsText = " 1";
    PortService port(line, primo, time);
    if (port.OpenPort()) {
        std::printf("%s: the simulated line would not open\n", what);
        return;
    }
    BusPeer bus(line, SimulatedBus(std::move(controllers), 0.0, 1));
    LineUse lineUse(time);
    const SearchTimings timings;
    SettingsSearch search(primo, port, timings);
    SearchEnd end;
    bool done = false;
    const Instant start = time.Now();
    auto task = SearchOnce(search, lineUse, end, done);
    time.RunUntil([&] { return done; }, std::chrono::hours(2));
    const Duration took = time.Now() - start;

    // Each request: the pause and its answer window; each setting: its settle; the first settle.
    Duration nominal = SettleTime;
    for (const SearchSetting& setting : SearchOrder()) {
        nominal += timings.settle + 64 * (timings.pause + SearchAnswerWindow(setting, timings));
    }
    int confirmed = 0;
    for (const SearchFind& find : end.finds) {
        confirmed += find.confirmed ? 1 : 0;
    }
    std::printf("%s: %.1f s (%.1f min) on virtual time, nominal %.1f s; %d settings, %zu finds, "
                "%d confirmed, %zu settings among them\n",
                what, Seconds(took), Seconds(took) / 60, Seconds(nominal), end.settingsTried,
                end.finds.size(), confirmed, ConfirmedGroups(end.finds).size());
}

}  // namespace

int main() {
    std::printf("answer windows: 9600 baud %.1f ms, 150 baud %.1f ms (request, answer, 50 ms)\n",
                Seconds(SearchAnswerWindow({9600, Parity::None}, {})) * 1e3,
                Seconds(SearchAnswerWindow({150, Parity::None}, {})) * 1e3);
    Measure("empty line", {});
    Measure("A B at 9600 8N1, C at 2400 7E1, @ at 300 7O1",
            {ControllerAt("A", 9600, Parity::None), ControllerAt("B", 9600, Parity::None),
             ControllerAt("C", 2400, Parity::Even), ControllerAt("@", 300, Parity::Odd)});
    return 0;
}
