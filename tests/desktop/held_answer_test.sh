#!/usr/bin/env bash
# Held answers in the real window: a probe inside the main page holds a generated answer and
# reads it back through the application's scheme, rows by range, numeric columns and a text
# column, each against the engine's own rows; unknown, freed and replaced answers are not found,
# bad reads are refused, and a new page frees what the old one held.
set -uo pipefail
APP="${1:?usage: held_answer_test.sh <path to the Plinthos executable>}"
PROBE="$(dirname "${BASH_SOURCE[0]}")/held_answer_probe.js"

source "$(dirname "${BASH_SOURCE[0]}")/virtual_display.sh"
source "$(dirname "${BASH_SOURCE[0]}")/app_session.sh"
STEP_TIMEOUT=120

probe_lines() { sed -n 's/^plinthos-probe: //p' "$work/app.log"; }
probe_done() { probe_lines | grep -q '"done\\":true'; }

start_configured_display
export PLINTHOS_TIMING=1 PLINTHOS_TIMING_PROBE="$(readlink -f "$PROBE")"
if start_app; then
  if wait_for probe_done; then
    # Each line is the JSON array of the probe's one argument, itself a JSON text.
    probe_lines | node -e '
      const lines = require("fs").readFileSync(0, "utf8").split("\n").filter(Boolean);
      let checks = 0;
      for (const line of lines) {
        const entry = JSON.parse(JSON.parse(line)[0]);
        if (!("check" in entry)) continue;
        checks++;
        if (entry.ok) console.log(`ok: ${entry.check}`);
        else console.log(`FAIL: ${entry.check}: ${JSON.stringify(entry.detail)}`);
      }
      if (checks === 0) console.log("FAIL: the probe made no checks");
    ' >"$work/checks.txt"
    cat "$work/checks.txt"
    failures=$((failures + $(grep -c '^FAIL' "$work/checks.txt")))
  else
    fail "the probe did not finish"
    cat "$work/app.log" >&2
  fi
  press "$main_wid" ctrl+q
  expect_exit_0 "Ctrl+Q after the probe"
fi

finish "held answer window test passed"
