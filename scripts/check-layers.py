#!/usr/bin/env python3
"""Checks that the build's target graph is layered as the folders say.

    scripts/check-layers.py [BUILD_DIR]      (default: build/ci, configured)

The root CMakeLists.txt lists the components bottom layer first. Through
CMake's file API this script reads every target of the configured build,
with its folder and its direct dependencies, and fails when
  - a product target lives in a folder that is not a listed component;
  - a component folder defines more than one library (besides the
    header-only interface `<library>_api` of a library loaded at run time
    and the thin executables over it), or none and is not one program;
  - a target depends on a component listed after its own (upwards).
Tests, fuzz targets and benchmarks (tests/, fuzz/, bench/) sit above
everything and are not checked. On success it prints the layers, each
component with the components it uses.
"""
import json
import pathlib
import re
import subprocess
import sys

root = pathlib.Path(__file__).resolve().parent.parent
build = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else root / "build" / "ci").resolve()

listing = (root / "CMakeLists.txt").read_text()
match = re.search(r"foreach\(component\s+(.*?)\)", listing, re.S)
if not match:
    sys.exit("check-layers: no component list in CMakeLists.txt")
components = match.group(1).split()
rank = {name: i for i, name in enumerate(components)}

query = build / ".cmake" / "api" / "v1" / "query" / "codemodel-v2"
query.parent.mkdir(parents=True, exist_ok=True)
query.touch()
subprocess.run(["cmake", str(build)], check=True, stdout=subprocess.DEVNULL)
reply = build / ".cmake" / "api" / "v1" / "reply"
index = json.loads(max(reply.glob("index-*.json")).read_text())
codemodel = next(o for o in index["objects"] if o["kind"] == "codemodel")
model = json.loads((reply / codemodel["jsonFile"]).read_text())
config = model["configurations"][0]

targets = {}
for ref in config["targets"]:
    t = json.loads((reply / ref["jsonFile"]).read_text())
    folder = t["paths"]["source"]
    targets[t["id"]] = {
        "name": t["name"],
        "type": t["type"],
        "folder": folder,
        "deps": [d["id"] for d in t.get("dependencies", [])],
    }

exempt = ("tests", "fuzz", "bench")
problems = []
per_folder = {}
for t in targets.values():
    folder = t["folder"]
    if folder == "." or folder.split("/")[0] in exempt or t["name"].endswith("_autogen") \
            or t["name"].endswith("_autogen_timestamp_deps") or t["type"] == "UTILITY":
        continue
    if folder not in rank:
        problems.append(f"target {t['name']} lives in {folder}, which is not a listed component")
        continue
    per_folder.setdefault(folder, []).append(t)

# What each folder defines, from its own CMakeLists.txt (the file API of
# older CMake leaves interface libraries out).
defined = {}
for folder in components:
    text = (root / folder / "CMakeLists.txt").read_text()
    libraries = re.findall(r"^add_library\((\S+)", text, re.M)
    executables = re.findall(r"^add_executable\((\S+)", text, re.M)
    defined[folder] = sorted(libraries + executables)
    own = [n for n in libraries if not (n.endswith("_api") and n[:-4] in libraries)]
    if len(own) > 1 or (not own and len(executables) != 1):
        problems.append(f"{folder} defines the libraries {', '.join(own) or 'none'} and the "
                        f"programs {', '.join(executables) or 'none'}; a component folder "
                        "defines one library (or is one program)")

uses = {folder: set() for folder in components}
for folder, ts in per_folder.items():
    for t in ts:
        for dep_id in t["deps"]:
            dep = targets[dep_id]
            dep_folder = dep["folder"]
            if dep_folder not in rank or dep_folder == folder:
                continue
            if rank[dep_folder] > rank[folder]:
                problems.append(f"{t['name']} ({folder}) depends on {dep['name']} "
                                f"({dep_folder}), a layer above it")
            uses[folder].add(dep_folder)

if problems:
    print("check-layers: the target graph does not match the folders:", file=sys.stderr)
    for p in problems:
        print("  " + p, file=sys.stderr)
    sys.exit(1)
for folder in components:
    names = ", ".join(defined[folder])
    used = ", ".join(sorted(uses[folder], key=rank.get)) or "-"
    print(f"{folder:14} [{names}]  uses: {used}")
print(f"check-layers: {len(components)} components, every dependency points downwards")
