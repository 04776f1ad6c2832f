#!/usr/bin/env python3
"""Names each call, in the shell scripts given, of a function that none of
them defines: a command named as the project names its functions, lower-case
words joined by underscores, unless a script needs it as a package's
program (need /usr/bin/NAME=PACKAGE).

    .ci/undefined-calls.py SCRIPT...
"""
import json
import re
import subprocess
import sys

defined, calls, needed = set(), [], set()


def walk(node, script):
    if isinstance(node, dict):
        if node.get("Type") == "FuncDecl":
            defined.add(node["Name"]["Value"])
        if node.get("Type") == "CallExpr" and node.get("Args"):
            parts = node["Args"][0]["Parts"]
            if len(parts) == 1 and parts[0].get("Type") == "Lit":
                calls.append((script, node["Pos"]["Line"], parts[0]["Value"]))
        for value in node.values():
            walk(value, script)
    elif isinstance(node, list):
        for value in node:
            walk(value, script)


for script in sys.argv[1:]:
    with open(script, "rb") as source:
        needed.update(re.findall(rb"/usr/s?bin/([a-z0-9_]+)=", source.read()))
        source.seek(0)
        tree = subprocess.run(["shfmt", "--to-json", "-ln", "bash"], stdin=source,
                              capture_output=True, check=True).stdout
    walk(json.loads(tree), script)
undefined = [call for call in calls
             if re.fullmatch(r"[a-z0-9]+(_[a-z0-9]+)+", call[2]) and call[2] not in defined and call[2].encode() not in needed]
for script, line, name in undefined:
    print(f"{script}:{line}: {name} is called, and no script defines it")
sys.exit(1 if undefined else 0)
