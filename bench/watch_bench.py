#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""32 watches at once on this host, each on a simulated line of its own (line-tarvel-sim in a
process of its own, so that the watches' figures are theirs alone): half listen to a Modbus RTU
line whose master polls at 115200 baud without pause, half run the test cycle at 9600 baud. Each
is scraped every second. Prints each watch's CPU share and resident memory, the scrape times, and
then runs watch_day_bench: one watch through 24 hours of virtual time.

Usage: bench/watch_bench.py [BUILD-FOLDER] [SECONDS] (build, 60)."""

import os
import re
import shutil
import subprocess
import sys
import threading
import time
import urllib.request

BUILD = sys.argv[1] if len(sys.argv) > 1 else "build"
SECONDS = float(sys.argv[2]) if len(sys.argv) > 2 else 60.0
CLI = os.path.join(BUILD, "src/cli/line-tarvel-cli")
SIM = os.path.join(BUILD, "src/sim/line-tarvel-sim")
DAY = os.path.join(BUILD, "bench/watch_day_bench")
WATCHES = 32
TICKS = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS


def memory_kib(pid):
    """Resident, proportional (shared pages divided among the processes that map them) and
    private (the watch's own) memory."""
    fields = {}
    with open("/proc/%d/smaps_rollup" % pid) as rollup:
        for line in rollup:
            parts = line.split()
            if len(parts) == 3 and parts[2] == "kB":
                fields[parts[0].rstrip(":")] = int(parts[1])
    return (fields.get("Rss", 0), fields.get("Pss", 0),
            fields.get("Private_Clean", 0) + fields.get("Private_Dirty", 0))


def start_line(listening):
    arguments = [SIM, "--protocol", "modbus-rtu"]
    if listening:
        arguments += ["--master", "--baud", "115200"]
    simulator = subprocess.Popen(arguments, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                 text=True)
    device = re.search(r"(/dev/pts/\d+)", simulator.stdout.readline()).group(1)
    return simulator, device


def start_watch(number, device, listening, log):
    # With its files, as a site runs it.
    folder = "/tmp/watch-bench-%02d" % number
    os.makedirs(folder, exist_ok=True)
    arguments = [CLI, "watch", "--port", device, "--protocol", "modbus-rtu",
                 "--metrics", "127.0.0.1:0", "--name", "line%02d" % number,
                 "--traffic", folder + "/traffic.csv", "--stats", folder + "/stats.csv",
                 "--json-status", folder + "/status.json"]
    arguments += ["--baud", "115200", "--listen"] if listening else [
        "--baud", "9600", "--addresses", "1-5"]
    return subprocess.Popen(arguments, stdout=subprocess.DEVNULL, stderr=log)


def main():
    logs = []
    simulators = []
    watches = []
    for number in range(WATCHES):
        listening = number % 2 == 0
        simulator, device = start_line(listening)
        simulators.append(simulator)
        log = open("/tmp/watch-bench-%02d.log" % number, "w+")
        logs.append(log)
        watches.append((start_watch(number, device, listening, log), listening))
    ports = []
    for log in logs:
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline:
            log.seek(0)
            found = re.search(r"metrics at http://127\.0\.0\.1:(\d+)/", log.read())
            if found:
                ports.append(int(found.group(1)))
                break
            time.sleep(0.1)
    if len(ports) != WATCHES:
        print("not every watch started; see /tmp/watch-bench-*.log")
        return 1

    scrapes = []
    failures = [0]
    stop = threading.Event()

    def scrape(port):
        while not stop.is_set():
            began = time.monotonic()
            try:
                with urllib.request.urlopen("http://127.0.0.1:%d/metrics" % port,
                                            timeout=5) as answer:
                    answer.read()
                scrapes.append(time.monotonic() - began)
            except OSError:
                failures[0] += 1
            stop.wait(max(0.0, 1.0 - (time.monotonic() - began)))

    time.sleep(5)  # past the opening
    threads = [threading.Thread(target=scrape, args=(port,)) for port in ports]
    for thread in threads:
        thread.start()
    before = [cpu_seconds(watch.pid) for watch, _ in watches]
    began = time.monotonic()
    time.sleep(SECONDS)
    elapsed = time.monotonic() - began
    after = [cpu_seconds(watch.pid) for watch, _ in watches]
    memory = [memory_kib(watch.pid) for watch, _ in watches]
    stop.set()
    for thread in threads:
        thread.join()

    print("%d watches for %.0f s, each scraped every second, with traffic, statistics and status"
          " files (host: %d cores)" % (WATCHES, elapsed, os.cpu_count()))
    for kind, listening in (("listening, 115200 baud, full load", True),
                            ("testing, 9600 baud, 5 controllers", False)):
        shares = [100 * (a - b) / elapsed for (a, b, (_, l)) in zip(after, before, watches)
                  if l == listening]
        mine = [m for (m, (_, l)) in zip(memory, watches) if l == listening]
        mean = [sum(m[i] for m in mine) / len(mine) / 1024 for i in range(3)]
        print("  %-36s CPU %% of a core: mean %.2f, max %.2f" % (kind, sum(shares) / len(shares),
                                                               max(shares)))
        print("  %-36s memory MiB, mean: resident %.1f, proportional %.1f, private %.1f"
              % ("", mean[0], mean[1], mean[2]))
    scrapes.sort()
    if scrapes:
        print("  scrapes: %d, failed %d; time ms: p50 %.2f, p99 %.2f, max %.2f"
              % (len(scrapes), failures[0], 1000 * scrapes[len(scrapes) // 2],
                 1000 * scrapes[min(len(scrapes) - 1, int(len(scrapes) * 0.99))],
                 1000 * scrapes[-1]))
    for watch, _ in watches:
        watch.terminate()
    for watch, _ in watches:
        watch.wait(20)
    for simulator in simulators:
        simulator.terminate()
        simulator.wait(5)
    for log in logs:
        log.close()
    for number in range(WATCHES):
        shutil.rmtree("/tmp/watch-bench-%02d" % number, ignore_errors=True)
    print()
    sys.stdout.flush()
    return subprocess.call([DAY, "24"])


if __name__ == "__main__":
    sys.exit(main())
