#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""line-tarvel-cli watch as a site runs it, in real time: scraped by promtool and by a real
Prometheus, ended by SIGTERM and told to reopen its files by SIGHUP, and its port pulled and
given back through a pseudo-terminal peer.

Usage: watch_program_test.py SCENARIO, with the programs in TARVEL_CLI_PROGRAM and
TARVEL_SIM_PROGRAM. Exits 77 (skipped) when a tool the scenario needs is not installed."""

import json
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import urllib.error
import urllib.parse
import urllib.request

CLI = os.environ.get("TARVEL_CLI_PROGRAM", "line-tarvel-cli")
SIM = os.environ.get("TARVEL_SIM_PROGRAM", "line-tarvel-sim")
SKIPPED = 77


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def wait_for(what, condition, seconds=20.0):
    """The first true value of condition() within the time, else a failure naming `what`."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(0.1)
    raise Failure("timed out waiting for " + what)


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def fetch(url):
    try:
        with urllib.request.urlopen(url, timeout=5) as answer:
            return answer.status, dict(answer.headers), answer.read().decode()
    except urllib.error.HTTPError as refused:
        return refused.code, dict(refused.headers), ""
    except OSError:
        return None, {}, ""


class Watch:
    """A watch started on its own, with its log gathered from standard error."""

    def __init__(self, folder, *arguments):
        self.log_path = os.path.join(folder, "watch.log")
        self.log_file = open(self.log_path, "w")
        self.process = subprocess.Popen(
            [CLI, "watch", "--metrics", "127.0.0.1:0", *arguments],
            stdout=subprocess.DEVNULL, stderr=self.log_file)
        self.port = int(wait_for("the metrics endpoint", lambda: self._port()))

    def _port(self):
        check(self.process.poll() is None, "the watch ended: " + self.log())
        found = re.search(r"metrics at http://127\.0\.0\.1:(\d+)/metrics", self.log())
        return found and found.group(1)

    def log(self):
        with open(self.log_path) as log:
            return log.read()

    def metrics(self):
        return fetch("http://127.0.0.1:%d/metrics" % self.port)

    def sample(self, series):
        status, _, text = self.metrics()
        check(status == 200, "no metrics: %s" % status)
        for line in text.splitlines():
            if line.startswith(series + " "):
                return float(line.split(" ")[1])
        return None

    def end(self, sig=signal.SIGTERM, seconds=10):
        if self.process.poll() is None:
            self.process.send_signal(sig)
        try:
            status = self.process.wait(seconds)
        except subprocess.TimeoutExpired:
            self.process.kill()
            raise Failure("the watch did not end on %s: %s" % (sig, self.log()))
        self.log_file.close()
        return status


def scenario_promtool_accepts_the_exposition(folder):
    promtool = shutil.which("promtool")
    if promtool is None:
        return SKIPPED
    watch = Watch(folder, "--simulate", "--addresses", "A-E")
    try:
        wait_for("a failure of the silent controller",
                 lambda: (watch.sample('linetarvel_request_failures_total'
                                       '{address="C",reason="no_answer"}') or 0) > 0)
        status, headers, text = watch.metrics()
        check(headers.get("Content-Type") == "text/plain; version=0.0.4; charset=utf-8",
              "Content-Type: %s" % headers.get("Content-Type"))
        linted = subprocess.run([promtool, "check", "metrics"], input=text, text=True,
                                capture_output=True)
        check(linted.returncode == 0 and linted.stdout.strip() == "" and
              linted.stderr.strip() == "",
              "promtool check metrics: %s%s" % (linted.stdout, linted.stderr))
    finally:
        check(watch.end() == 0, "exit status: " + watch.log())
    return 0


def scenario_prometheus_scrapes_a_watch(folder):
    prometheus = shutil.which("prometheus")
    if prometheus is None:
        return SKIPPED
    watch = Watch(folder, "--simulate", "--addresses", "A-E")
    port = free_port()
    config = os.path.join(folder, "prometheus.yml")
    with open(config, "w") as file:
        file.write("global:\n  scrape_interval: 1s\n  evaluation_interval: 1s\n"
                   "scrape_configs:\n  - job_name: line-tarvel\n    static_configs:\n"
                   "      - targets: ['127.0.0.1:%d']\n"
                   "        labels: {line: test-line, site: lab}\n" % watch.port)
    server = subprocess.Popen(
        [prometheus, "--config.file=" + config, "--storage.tsdb.path=" + folder + "/data",
         "--web.listen-address=127.0.0.1:%d" % port],
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        def query(expression):
            status, _, body = fetch("http://127.0.0.1:%d/api/v1/query?query=%s"
                                    % (port, urllib.parse.quote(expression)))
            if status != 200:
                return None
            return json.loads(body)["data"]["result"]

        failures = wait_for("Prometheus to have the silent controller's failures", lambda: [
            r for r in query('linetarvel_request_failures_total'
                             '{address="C",reason="no_answer",line="test-line"}') or []
            if float(r["value"][1]) > 0], seconds=60)
        check(failures[0]["metric"]["site"] == "lab", "labels: %s" % failures[0]["metric"])
        state = wait_for("the silent state", lambda: query(
            'linetarvel_controller_state{address="C",state="silent"} == 1'))
        check(len(state) == 1, "state: %s" % state)
        healthy = query('linetarvel_controller_state{address="A",state="healthy"}')
        check(healthy and healthy[0]["value"][1] == "1", "A: %s" % healthy)
        up = query('up{job="line-tarvel"}')
        check(up and up[0]["value"][1] == "1", "up: %s" % up)
    finally:
        server.terminate()
        server.wait(20)
        check(watch.end() == 0, "exit status: " + watch.log())
    return 0


def scenario_signals_leave_complete_files(folder):
    traffic = os.path.join(folder, "traffic.csv")
    stats = os.path.join(folder, "stats.csv")
    status_file = os.path.join(folder, "status.json")
    watch = Watch(folder, "--simulate", "--addresses", "A-E", "--traffic", traffic,
                  "--stats", stats, "--json-status", status_file)
    day = wait_for("the day's traffic file", lambda: [
        name for name in os.listdir(folder) if re.fullmatch(r"traffic-\d{4}-\d\d-\d\d\.csv", name)])
    daily = os.path.join(folder, day[0])
    wait_for("some traffic", lambda: os.path.getsize(daily) > 2000)
    # logrotate moves the file away and sends SIGHUP: the watch starts a new one of the name.
    rotated = daily + ".1"
    os.rename(daily, rotated)
    watch.process.send_signal(signal.SIGHUP)
    wait_for("the reopened traffic file", lambda: os.path.exists(daily) and
             os.path.getsize(daily) > 300)
    check(watch.process.poll() is None, "SIGHUP ended the watch")
    check(watch.end() == 0, "exit status: " + watch.log())
    for path in (rotated, daily):
        with open(path) as file:
            text = file.read()
        check(text.startswith("exchange,ms from run start,"), path + " lacks its header")
        check(text.endswith("\n"), path + " ends in the middle of a row")
    with open(stats) as file:
        rows = file.read().splitlines()
    check(any(row.startswith("C,") for row in rows), "stats: %s" % rows)
    with open(status_file) as file:
        status = json.load(file)
    check([c["address"] for c in status["controllers"]] == ["A", "B", "C", "D", "E"],
          "status: %s" % status)
    log = watch.log()
    check("<6>line-tarvel-cli: reopening the files" in log, log)
    check("<6>line-tarvel-cli: the watch ended by SIGTERM; its files are complete" in log, log)
    for line in log.splitlines():
        check(re.match(r"<[0-7]>", line), "a log line without its priority: " + line)
    return 0


def scenario_a_port_pulled_and_given_back(folder):
    socat = shutil.which("socat")
    if socat is None:
        return SKIPPED
    simulator = subprocess.Popen([SIM], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                 text=True)
    try:
        device = wait_for("the simulated line's device", lambda: re.search(
            r"(/dev/pts/\d+)", simulator.stdout.readline()))
        link = os.path.join(folder, "ttyWATCH")

        def plug():
            # The watch's side is a pseudo-terminal of its own, joined to the simulated line.
            return subprocess.Popen(
                [socat, "pty,link=%s,rawer" % link, "%s,rawer" % device.group(1)],
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

        adapter = plug()
        wait_for("the adapter", lambda: os.path.exists(link))
        watch = Watch(folder, "--port", link, "--addresses", "A,B", "--name", "pulled")
        try:
            wait_for("exchanges", lambda: (watch.sample('linetarvel_requests_total'
                                                        '{address="A"}') or 0) > 3)
            adapter.terminate()
            adapter.wait(5)
            wait_for("the line down", lambda: watch.sample("linetarvel_line_up") == 0)
            time.sleep(2)
            adapter = plug()
            wait_for("the line up again", lambda: watch.sample("linetarvel_line_up") == 1,
                     seconds=30)
            check(watch.sample("linetarvel_line_opens_total") == 2, watch.log())
            down = watch.sample("linetarvel_line_down_seconds_total")
            check(down is not None and 2 <= down <= 20, "down %s s" % down)
            before = watch.sample('linetarvel_requests_total{address="A"}')
            wait_for("exchanges again", lambda: watch.sample(
                'linetarvel_requests_total{address="A"}') > before)
        finally:
            check(watch.end() == 0, "exit status: " + watch.log())
            adapter.terminate()
        log = watch.log()
        check(re.search(r"<4>line-tarvel-cli: .*; reopening in 1 s", log), log)
    finally:
        simulator.terminate()
        simulator.wait(5)
    return 0


def scenario_mqtt_through_mosquitto(folder):
    mosquitto = shutil.which("mosquitto") or shutil.which("mosquitto", path="/usr/sbin")
    peer = os.environ.get("TARVEL_MQTT_PEER")
    if mosquitto is None or peer is None:
        return SKIPPED
    port = free_port()
    config = os.path.join(folder, "mosquitto.conf")
    with open(config, "w") as file:
        file.write("listener %d 127.0.0.1\nallow_anonymous true\npersistence false\n" % port)
    broker = subprocess.Popen([mosquitto, "-c", config], stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
    messages = os.path.join(folder, "messages")
    subscriber = None
    try:
        def accepts():
            try:
                socket.create_connection(("127.0.0.1", port), timeout=1).close()
                return True
            except OSError:
                return False

        wait_for("the broker", accepts)
        with open(messages, "w") as out:
            subscriber = subprocess.Popen([peer, "subscribe", str(port), "plant/#"], stdout=out,
                                          stderr=subprocess.DEVNULL)

        def heard(path=messages):
            # [topic, retained, qos, payload] of each message, as the subscriber prints them.
            with open(path) as file:
                return [line.rstrip("\n").split("\t") for line in file if "\t" in line]

        wait_for("the subscriber", lambda: open(messages).read().startswith("ready"))
        watch = Watch(folder, "--simulate", "--addresses", "A-E", "--name", "boiler",
                      "--mqtt", "mqtt://127.0.0.1:%d/plant" % port)
        late = None
        try:
            wait_for("online", lambda: [m for m in heard() if m[0] == "plant/boiler/status" and
                                        m[2:] == ["1", "online"]])
            silent = wait_for("the silent controller", lambda: [
                json.loads(m[3]) for m in heard() if m[0] == "plant/boiler/C" and
                json.loads(m[3])["silent"] == 1])
            check(silent[0]["no_answer"] >= 1 and silent[0]["healthy"] == 0, str(silent[0]))
            # One who subscribes later gets each controller's last numbers, kept by the broker.
            retained_path = os.path.join(folder, "retained")
            with open(retained_path, "w") as out:
                late = subprocess.Popen([peer, "subscribe", str(port), "plant/#"], stdout=out,
                                        stderr=subprocess.DEVNULL)
            healthy = wait_for("A's retained numbers", lambda: [
                m for m in heard(retained_path) if m[0] == "plant/boiler/A" and
                m[1:3] == ["1", "1"] and json.loads(m[3])["healthy"] == 1])
            check(all(isinstance(v, (int, float)) for v in json.loads(healthy[0][3]).values()),
                  "not numbers alone: " + healthy[0][3])
        finally:
            # Killed, not ended: the broker gives its last will.
            watch.process.kill()
            watch.process.wait(10)
            watch.log_file.close()
            if late is not None:
                late.terminate()
                late.wait(5)
        # The status is offline before the port is open too: the will is an offline after the
        # last online.
        def will():
            statuses = [m[3] for m in heard() if m[0] == "plant/boiler/status"]
            return "online" in statuses and statuses[-1] == "offline"

        wait_for("the last will", will, seconds=10)
    finally:
        if subscriber is not None:
            subscriber.terminate()
            subscriber.wait(5)
        broker.terminate()
        broker.wait(5)
    return 0


def scenario_systemd_hears_ready_and_the_watchdog(folder):
    path = os.path.join(folder, "notify")
    manager = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
    manager.bind(path)
    manager.settimeout(0.2)
    heard = []

    def listen():
        try:
            while True:
                heard.append(manager.recv(4096).decode())
        except socket.timeout:
            pass
        return heard

    environment = dict(os.environ, NOTIFY_SOCKET=path, WATCHDOG_USEC="1000000")
    watch = subprocess.Popen(
        [CLI, "watch", "--simulate", "--addresses", "A-E", "--metrics", "127.0.0.1:0"],
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=environment)
    try:
        ready = wait_for("READY=1", lambda: [m for m in listen() if m.startswith("READY=1")])
        check("STATUS=watching " in ready[0], ready[0])
        # Half the watchdog's second: at least four feeds in three seconds.
        before = listen().count("WATCHDOG=1")
        time.sleep(3)
        fed = listen().count("WATCHDOG=1") - before
        check(fed >= 4, "the watchdog was fed %d times in 3 s" % fed)
    finally:
        watch.send_signal(signal.SIGTERM)
        status = watch.wait(10)
    check(status == 0, "exit status %d" % status)
    check(any(m.startswith("STOPPING=1") for m in listen()), "no STOPPING=1: %s" % heard)
    check(sum(m.startswith("READY=1") for m in heard) == 1, "READY told more than once")
    manager.close()
    return 0


def main():
    scenarios = {name[len("scenario_"):]: function for name, function in globals().items()
                 if name.startswith("scenario_")}
    if len(sys.argv) != 2 or sys.argv[1] not in scenarios:
        print("usage: watch_program_test.py " + "|".join(sorted(scenarios)), file=sys.stderr)
        return 2
    folder = tempfile.mkdtemp(prefix="watch-program-")
    try:
        return scenarios[sys.argv[1]](folder)
    except Failure as failure:
        print("FAILED: %s" % failure, file=sys.stderr)
        return 1
    finally:
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
