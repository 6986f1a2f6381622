#!/usr/bin/env python3
"""The starter bot plays a short game against builtin:idle through the real arena: it must name
itself, blow winds, and have none of them refused. Usage: starter_bot_test.py ARENA BOT WORKDIR"""
import json
import os
import subprocess
import sys

arena, bot, work = sys.argv[1:4]
os.makedirs(work, exist_ok=True)
results_path = os.path.join(work, "starter.results.json")
run = subprocess.run(
    [arena, "--port", "0", "--seed", "5", "--ticks", "600", "--tick-ms", "5", "--quiet",
     "--results", results_path, "--log-dir", work, f"{sys.executable} {bot}", "builtin:idle"],
    capture_output=True, text=True, timeout=120)
print(run.stdout, run.stderr)
assert run.returncode == 0, f"the arena exited with {run.returncode}"
results = json.load(open(results_path))
starter = [p for p in results["players"] if p["name"] == "starter"]
assert len(starter) == 1, "the starter bot named itself"
row = starter[0]
log = open(row["log"]).read()
print(log)
assert "joined as OK starter" in log
assert row["winds"] > 0, "it blew winds"
assert row["rejected_winds"] == 0, f"{row['rejected_winds']} winds refused"
assert row.get("status", "playing") in ("playing", "out"), f"it left early: {row.get('status')}"
assert row["final_mass"] > 50 or row["out_at_tick"] is not None, "it kept its mass"
print("1 passed, 0 failed")
