#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Checks what examples/prometheus/ gives Prometheus and Grafana users: the scrape configuration
# (also with a targets file as "line-tarvel-cli watch --targets" writes it), the alerting rules
# and their unit tests, and the Grafana dashboard: JSON with the fields Grafana's dashboard model
# needs, every expression valid PromQL naming only metrics a watch exposes. The rules are held
# to the same metric names, so that a misspelt metric cannot hide behind tests that misspell it
# too. Exits 77 (skipped) when promtool is missing, unless TARVEL_REQUIRE_TOOLS is set.
set -euo pipefail
examples=$(cd "$(dirname "$0")/../../examples/prometheus" && pwd)

if ! command -v promtool >/dev/null; then
  if [ -n "${TARVEL_REQUIRE_TOOLS:-}" ]; then
    echo "promtool is missing (Debian package prometheus), and TARVEL_REQUIRE_TOOLS is set" >&2
    exit 1
  fi
  echo "SKIP: promtool is missing (Debian package prometheus)"
  exit 77
fi
command -v python3 >/dev/null || { echo "python3 is missing" >&2; exit 1; }

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failed=0
step() {
  echo "== $*"
  if ! "$@"; then
    echo "FAILED: $*" >&2
    failed=1
  fi
}

# The configuration as installed reads a targets file that does not exist here: promtool warns
# and checks the rest.
step promtool check config "$examples/prometheus.yml"

# The same configuration reading a targets file of two lines, as the watch's --targets prints it.
cp "$examples/line-tarvel.rules.yml" "$scratch/"
cat >"$scratch/line-tarvel-targets.json" <<'EOF'
[{"targets":["plant-a:9780"],"labels":{"line":"dryer","site":"plant-a"}},
 {"targets":["[fd00::5]:9781"],"labels":{"line":"kiln","site":"plant-a"}}]
EOF
sed "s|/etc/prometheus/line-tarvel-targets.json|$scratch/line-tarvel-targets.json|" \
  "$examples/prometheus.yml" >"$scratch/prometheus.yml"
grep -q "$scratch/line-tarvel-targets.json" "$scratch/prometheus.yml" || {
  echo "prometheus.yml does not read /etc/prometheus/line-tarvel-targets.json" >&2
  failed=1
}
check_targets() {
  local output
  output=$(promtool check config "$scratch/prometheus.yml" 2>&1) || {
    printf '%s\n' "$output" >&2
    return 1
  }
  printf '%s\n' "$output"
  # A warning here is a targets file that Prometheus would not read.
  ! grep -qi 'warning' <<<"$output"
}
step check_targets

step promtool check rules "$examples/line-tarvel.rules.yml"
step promtool test rules "$examples/line-tarvel.rules.test.yml"

# The dashboard, and the metric names of every expression in it and in the rules. The dashboard's
# expressions, with Grafana's variables given values, become recording rules for promtool to
# parse.
check_dashboard() {
  python3 - "$examples" "$scratch/dashboard-expressions.yml" <<'EOF'
import json, re, sys

examples, rules_out = sys.argv[1], sys.argv[2]
problems = []

# What a watch exposes; a histogram's series carry their suffixes.
METRICS = {
    "linetarvel_requests_total", "linetarvel_request_failures_total",
    "linetarvel_response_seconds_bucket", "linetarvel_response_seconds_sum",
    "linetarvel_response_seconds_count", "linetarvel_slow_threshold_seconds",
    "linetarvel_controller_state", "linetarvel_last_good_answer_timestamp_seconds",
    "linetarvel_line_up", "linetarvel_line_down_seconds_total", "linetarvel_line_opens_total",
    "linetarvel_frames_total", "linetarvel_busy_seconds_total", "linetarvel_noise_bytes_total",
    "linetarvel_uart_errors_total", "linetarvel_echo_faults_total",
    "linetarvel_round_trip_seconds", "linetarvel_line_info", "linetarvel_build_info",
}
KEYWORDS = {"and", "or", "unless", "by", "without", "on", "ignoring", "group_left",
            "group_right", "bool", "offset", "inf", "nan", "atan2"}


def metric_names(expr):
    """The metric names an expression selects: its identifiers that are no function,
    aggregation, keyword, label or duration."""
    text = re.sub(r'"(?:[^"\\]|\\.)*"|\'(?:[^\'\\]|\\.)*\'|`[^`]*`', '""', expr)
    text = re.sub(r"\{[^}]*\}", " ", text)
    text = re.sub(r"\[[^\]]*\]", " ", text)
    text = re.sub(r"\b(by|without|on|ignoring|group_left|group_right)\s*\([^)]*\)", " ", text)
    names = set()
    for match in re.finditer(r"(?<![\w.$])[A-Za-z_:][\w:]*", text):
        rest = text[match.end():].lstrip()
        if rest.startswith("(") or match.group(0).lower() in KEYWORDS:
            continue
        names.add(match.group(0))
    return names


def check_expression(where, expr, allowed):
    names = metric_names(expr)
    if not names:
        problems.append(f"{where}: no metric in {expr!r}")
    for name in sorted(names - allowed):
        problems.append(f"{where}: {name} is no metric of the watch ({expr!r})")


def grafana_to_promql(expr):
    return (expr.replace("$__rate_interval", "1m").replace("$__interval", "1m")
            .replace("$site", "plant-a").replace("$line", "kiln"))


with open(f"{examples}/grafana-dashboard.json", encoding="utf-8") as f:
    dashboard = json.load(f)

for field, kind in [("title", str), ("uid", str), ("schemaVersion", int), ("panels", list),
                    ("templating", dict), ("time", dict), ("__inputs", list)]:
    if not isinstance(dashboard.get(field), kind):
        problems.append(f"the dashboard has no {field} ({kind.__name__})")
if problems:
    sys.exit("\n".join(problems))
if not 30 <= dashboard["schemaVersion"] <= 40:
    problems.append(f"schemaVersion {dashboard['schemaVersion']} is not that of Grafana 8 to 10")
if not re.fullmatch(r"[A-Za-z0-9_-]{1,40}", dashboard["uid"]):
    problems.append(f"uid {dashboard['uid']!r} is not 1 to 40 letters, digits, - or _")
if dashboard.get("id") is not None:
    problems.append("an exported dashboard has id null: Grafana gives it one")
if not {"from", "to"} <= dashboard["time"].keys():
    problems.append("time has no from and to")
inputs = {i.get("name"): i for i in dashboard["__inputs"]}
if inputs.get("DS_PROMETHEUS", {}).get("pluginId") != "prometheus":
    problems.append("no DS_PROMETHEUS input of type prometheus in __inputs")
DATASOURCE = {"type": "prometheus", "uid": "${DS_PROMETHEUS}"}

expressions = []
variables = {v.get("name"): v for v in dashboard["templating"].get("list", [])}
for name in ("site", "line"):
    variable = variables.get(name)
    if variable is None:
        problems.append(f"no template variable {name}")
        continue
    if variable.get("type") != "query" or variable.get("datasource") != DATASOURCE:
        problems.append(f"variable {name} is no query of the DS_PROMETHEUS datasource")
    query = variable.get("query")
    query = query.get("query") if isinstance(query, dict) else query
    if variable.get("definition") != query:
        problems.append(f"variable {name}: its definition is not its query")
    match = re.fullmatch(r"\s*label_values\((.*),\s*(\w+)\s*\)\s*", query or "")
    if not match or match.group(2) != name:
        problems.append(f"variable {name} is not label_values(..., {name}): {query!r}")
        continue
    check_expression(f"variable {name}", match.group(1), METRICS)
    expressions.append((f"variable_{name}", grafana_to_promql(match.group(1))))

ids = set()
types = set()
repeated_rows = 0
for panel in dashboard["panels"]:
    where = f"panel {panel.get('id')} ({panel.get('title')!r})"
    for field in ("id", "type", "title", "gridPos", "datasource"):
        if field not in panel:
            problems.append(f"{where} has no {field}")
    if panel.get("id") in ids:
        problems.append(f"{where}: id used twice")
    ids.add(panel.get("id"))
    types.add(panel.get("type"))
    grid = panel.get("gridPos", {})
    if not all(isinstance(grid.get(k), int) for k in ("h", "w", "x", "y")):
        problems.append(f"{where}: gridPos needs whole h, w, x and y")
    elif grid["x"] < 0 or grid["w"] < 1 or grid["x"] + grid["w"] > 24:
        problems.append(f"{where}: gridPos {grid} is outside Grafana's 24 columns")
    if panel.get("datasource") != DATASOURCE:
        problems.append(f"{where}: datasource is not {DATASOURCE}")
    if panel.get("type") == "row":
        repeated_rows += panel.get("repeat") == "line"
        continue
    targets = panel.get("targets")
    if not targets:
        problems.append(f"{where} has no targets")
        continue
    for target in targets:
        expr = target.get("expr")
        if not expr or not target.get("refId"):
            problems.append(f"{where}: a target without expr or refId")
            continue
        if '"$line"' not in expr:
            problems.append(f"{where}: {expr!r} is not limited to the row's line")
        check_expression(where, expr, METRICS)
        expressions.append((f"panel_{panel['id']}_{target['refId']}", grafana_to_promql(expr)))
if repeated_rows != 1:
    problems.append(f"{repeated_rows} rows repeat over the variable line; one should")
for needed in ("state-timeline", "timeseries"):
    if needed not in types:
        problems.append(f"no {needed} panel")
exprs = " ".join(e for _, e in expressions)
for metric in ("linetarvel_controller_state", "linetarvel_request_failures_total",
               "linetarvel_response_seconds_bucket", "linetarvel_noise_bytes_total",
               "linetarvel_line_up"):
    if metric not in exprs:
        problems.append(f"no panel shows {metric}")

# The rules file is YAML; every expression in it follows "expr:", on the line or as a block.
with open(f"{examples}/line-tarvel.rules.yml", encoding="utf-8") as f:
    lines = f.read().split("\n")
rule_exprs = []
for number, line in enumerate(lines):
    match = re.match(r"^(\s*)expr:\s*(.*)$", line)
    if not match:
        continue
    if match.group(2) not in ("|", ">", "|-", ">-"):
        rule_exprs.append(match.group(2))
        continue
    block = []
    for following in lines[number + 1:]:
        if following.strip() and len(following) - len(following.lstrip()) <= len(match.group(1)):
            break
        block.append(following)
    rule_exprs.append("\n".join(block))
if len(rule_exprs) < 6:
    problems.append(f"only {len(rule_exprs)} expressions found in the rules")
for expr in rule_exprs:
    check_expression("rules", expr, METRICS | {"up"})

# JSON is YAML: the expressions as recording rules, for promtool check rules to parse.
with open(rules_out, "w", encoding="utf-8") as f:
    json.dump({"groups": [{"name": "dashboard", "rules": [
        {"record": f"dashboard:{name}", "expr": expr} for name, expr in expressions]}]}, f)

if problems:
    sys.exit("\n".join(problems))
print(f"The dashboard has {len(dashboard['panels'])} panels and {len(expressions)} expressions; "
      f"every metric they and the rules name is one of the watch's.")
EOF
}
step check_dashboard
if [ -f "$scratch/dashboard-expressions.yml" ]; then
  step promtool check rules "$scratch/dashboard-expressions.yml"
fi

if [ "$failed" -ne 0 ]; then
  echo "The Prometheus examples have problems (see above)." >&2
  exit 1
fi
echo "The Prometheus examples are valid."
