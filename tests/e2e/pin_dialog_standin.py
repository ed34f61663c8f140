#!/usr/bin/python3
"""A scripted stand-in for zelvo-dialog (ZELVO_DIALOG): records its arguments in
$STANDIN_LOG and answers as $STANDIN_ANSWER says: a JSON object {"exit": code,
"stdout": text}."""
import json
import os
import sys

with open(os.environ["STANDIN_LOG"], "a", encoding="utf-8") as log:
    log.write(json.dumps(sys.argv[1:]) + "\n")
with open(os.environ["STANDIN_ANSWER"], encoding="utf-8") as f:
    answer = json.load(f)
sys.stdout.write(answer.get("stdout", ""))
sys.stdout.flush()
sys.exit(answer.get("exit", 0))
