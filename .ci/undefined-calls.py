#!/usr/bin/env python3
"""Names each call, in the shell scripts given, of a function named as the
project names its own (words_joined_by_underscores) that none of them
defines, nor needs as a program (need /usr/bin/NAME=PACKAGE).

    .ci/undefined-calls.py SCRIPT...
"""
import json
import re
import subprocess
import sys

defined, needed, calls = set(), set(), []


def walk(node, script):
    if isinstance(node, list):
        for value in node:
            walk(value, script)
    elif isinstance(node, dict):
        if node.get("Type") == "FuncDecl":
            defined.add(node["Name"]["Value"])
        if node.get("Type") == "CallExpr" and node.get("Args"):
            parts = node["Args"][0]["Parts"]
            if len(parts) == 1 and parts[0]["Type"] == "Lit":
                calls.append((script, node["Pos"]["Line"], parts[0]["Value"]))
        walk(list(node.values()), script)


for script in sys.argv[1:]:
    text = open(script).read()
    needed.update(re.findall(r"/usr/s?bin/([a-z0-9_]+)=", text))
    tree = subprocess.run(["shfmt", "--to-json", "-ln", "bash"], input=text,
                          capture_output=True, text=True, check=True).stdout
    walk(json.loads(tree), script)
undefined = [f"{script}:{line}: {name} is called, and no script defines it" for script, line, name in calls
             if re.fullmatch(r"[a-z0-9]+(_[a-z0-9]+)+", name) and name not in defined | needed]
sys.exit("\n".join(undefined) or None)
