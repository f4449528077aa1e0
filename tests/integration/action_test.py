#!/usr/bin/env python3
"""Runs action.yml's shell steps as GitHub would, with its inputs set, on the samples.

The steps are read from action.yml with a YAML reader, never copied: whatever the action
does, this runs. quillon-scan must already be on PATH, so the install step only checks it."""
import json
import os
import re
import subprocess
import sys
import tempfile

import yaml

root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
scanner_dir = os.path.abspath(sys.argv[1])


def run_action(inputs, work):
    with open(os.path.join(root, "action.yml")) as f:
        action = yaml.safe_load(f)
    values = {name: str(declared.get("default", "")) for name, declared in action["inputs"].items()}
    values.update(inputs)
    outputs = {}
    for step in action["runs"]["steps"]:
        output_file = os.path.join(work, "output")
        open(output_file, "w").close()

        def substitute(text):
            text = re.sub(r"\$\{\{\s*inputs\.([\w-]+)\s*\}\}", lambda m: values[m.group(1)], text)
            return text.replace("${{ github.action_path }}", root)

        env = dict(os.environ)
        env["PATH"] = scanner_dir + os.pathsep + env["PATH"]
        env["GITHUB_OUTPUT"] = output_file
        env["GITHUB_PATH"] = os.path.join(work, "path")
        for key, value in (step.get("env") or {}).items():
            env[key] = substitute(str(value))
        result = subprocess.run(["bash", "-e", "-c", substitute(step["run"])], cwd=work, env=env,
                                capture_output=True, text=True)
        if result.returncode != 0:
            return result.returncode, outputs
        if "id" in step:
            with open(output_file) as f:
                for line in f:
                    key, _, value = line.rstrip("\n").partition("=")
                    outputs[key] = value
    return 0, outputs


failures = 0
cases = [
    ("SettingPayload", {"fail-on-threat": "false"}, 0, "1"),
    ("SettingPayload", {}, 1, None),
    ("CleanApp", {}, 0, "0"),
]
for sample, inputs, expected, exit_status in cases:
    with tempfile.TemporaryDirectory() as work:
        inputs = dict(inputs, path=os.path.join(root, "samples", sample))
        status, outputs = run_action(inputs, work)
        sarif = os.path.join(work, "quillon.sarif")
        problems = []
        if status != expected:
            problems.append(f"the action ended with {status}, not {expected}")
        if not os.path.exists(sarif):
            problems.append("no SARIF file")
        else:
            log = json.load(open(sarif))
            if log.get("version") != "2.1.0":
                problems.append("not a SARIF 2.1.0 log")
        if exit_status is not None and outputs.get("exit-status") != exit_status:
            problems.append(f"exit-status output {outputs.get('exit-status')!r}")
        if exit_status is not None and outputs.get("sarif-file") != "quillon.sarif":
            problems.append(f"sarif-file output {outputs.get('sarif-file')!r}")
        print(f"action: {sample} {inputs}: {'ok' if not problems else '; '.join(problems)}")
        failures += bool(problems)
sys.exit(1 if failures else 0)
