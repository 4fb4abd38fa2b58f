#!/usr/bin/env python3
"""Checks a Group Policy template folder (one .admx, one .adml per language).

Usage:
  check_policy.py --key 'SOFTWARE\\Policies\\KORVANTA\\zinpost' --value Server
                  [--languages en-US,ja-JP] installer/policy

Prints one line per problem and exits 1 when there is any; exits 0 silently
otherwise. These faults would otherwise show only once a Group Policy editor
on Windows opens the template, so they are caught here first.
"""
import argparse
import re
import shutil
import subprocess
import sys
import xml.etree.ElementTree as ET
from pathlib import Path

NS = "http://schemas.microsoft.com/GroupPolicy/2006/07/PolicyDefinitions"
STRING_REF = re.compile(r"\$\(string\.([^)]*)\)")
PRESENTATION_REF = re.compile(r"\$\(presentation\.([^)]*)\)")
# Policy elements that can write a registry value and can be named by refId.
VALUE_ELEMENTS = ("text", "decimal", "longDecimal", "boolean", "enum", "list", "multiText")


def q(tag):
    return f"{{{NS}}}{tag}"


VALUE_TAGS = {q(tag) for tag in VALUE_ELEMENTS}


def load(path, problems):
    """Parses `path`, or records why it cannot be used and returns None."""
    raw = path.read_bytes()
    try:
        text = raw.decode("utf-8")
    except UnicodeDecodeError as error:
        problems.append(f"{path}: not UTF-8 ({error})")
        return None
    # The files are to state their encoding, as the Japanese text depends on it.
    if not re.match(r"""\ufeff?<\?xml[^>]*encoding=["']utf-8["']""", text, re.I):
        problems.append(f"{path}: no XML declaration with encoding=\"utf-8\"")
    lint = subprocess.run(["xmllint", "--noout", str(path)], capture_output=True, text=True)
    if lint.returncode != 0:
        first = (lint.stderr.strip().splitlines() or ["?"])[0]
        problems.append(f"{path}: not well-formed XML (xmllint: {first})")
        return None
    try:
        return ET.parse(path).getroot()
    except ET.ParseError as error:
        problems.append(f"{path}: not well-formed XML ({error})")
        return None


def version(text):
    major, _, minor = (text or "").partition(".")
    return (int(major), int(minor)) if major.isdigit() and minor.isdigit() else None


def check_admx(path, root, key, value, problems):
    """Checks what the ADMX needs on its own; returns the declared prefixes."""
    def bad(message):
        problems.append(f"{path}: {message}")

    if root.tag != q("policyDefinitions"):
        bad(f"root is {root.tag}, not policyDefinitions in namespace {NS}")
        return set()
    target = root.find(f"{q('policyNamespaces')}/{q('target')}")
    if target is None or not target.get("prefix") or not target.get("namespace"):
        bad("policyNamespaces has no target with both prefix and namespace")
        own = None
    else:
        own = target.get("prefix")
    prefixes = {u.get("prefix") for u in root.iter(q("using"))} | {own}

    categories = {c.get("name") for c in root.iter(q("category"))}
    supported = {d.get("name") for d in root.iter(q("definition"))}

    def check_ref(what, ref, local_names):
        prefix, _, name = ref.rpartition(":")
        if prefix and prefix not in prefixes:
            bad(f"{what} ref \"{ref}\" uses undeclared prefix \"{prefix}\"")
        elif prefix in ("", own) and name not in local_names:
            bad(f"{what} ref \"{ref}\" names nothing defined in this file")

    for parent in root.iter(q("parentCategory")):
        check_ref("parentCategory", parent.get("ref", ""), categories)
    for policy in root.iter(q("policy")):
        name = policy.get("name")
        found = policy.find(q("supportedOn"))
        if found is None:
            bad(f"policy {name} has no supportedOn")
        else:
            check_ref("supportedOn", found.get("ref", ""), supported)
        # The program reads the value below HKEY_LOCAL_MACHINE only.
        if policy.get("class") != "Machine":
            bad(f"policy {name} has class \"{policy.get('class')}\", not \"Machine\"")

    # Every value a policy writes must land in the one key the program reads.
    writes = []
    for policy in root.iter(q("policy")):
        if policy.get("valueName"):
            writes.append((policy.get("key"), policy.get("valueName"), policy))
        for element in policy.iterfind(f"{q('elements')}/*"):
            if element.get("valueName"):
                writes.append((element.get("key", policy.get("key")), element.get("valueName"), element))
    for where, name, _ in writes:
        if where != key:
            bad(f"registry key \"{where}\" for value \"{name}\" is not \"{key}\"")
    named = [node for _, name, node in writes if name == value]
    if not named:
        bad(f"no element writes registry value \"{value}\" "
            f"(found: {', '.join(repr(n) for _, n, _ in writes) or 'none'})")
    for node in named:
        # REG_SZ comes only from a text element that is not expandable.
        if node.tag != q("text") or node.get("expandable") == "true":
            bad(f"registry value \"{value}\" is not written as REG_SZ by a text element")
    return prefixes


def table_ids(root, table, entry):
    return {e.get("id") for e in root.iterfind(f"{q('resources')}/{q(table)}/{q(entry)}")}


def check_adml(path, root, admx, min_revision, problems):
    def bad(message):
        problems.append(f"{path}: {message}")

    if root.tag != q("policyDefinitionResources"):
        bad(f"root is {root.tag}, not policyDefinitionResources in namespace {NS}")
        return
    # The editors load an ADML only when its major revision equals the ADMX's
    # minRequiredRevision major and its minor is not lower.
    revision = version(root.get("revision"))
    if revision is None or min_revision is None or revision[0] != min_revision[0] \
            or revision[1] < min_revision[1]:
        bad(f"revision \"{root.get('revision')}\" does not satisfy the ADMX's "
            f"minRequiredRevision")
    strings = table_ids(root, "stringTable", "string")
    presentations = {p.get("id"): p for p in
                     root.iterfind(f"{q('resources')}/{q('presentationTable')}/{q('presentation')}")}
    for node in admx.iter():
        for attribute in node.attrib.values():
            for ref in STRING_REF.findall(attribute):
                if ref not in strings:
                    bad(f"string \"{ref}\" referenced by the ADMX is missing from stringTable")
            for ref in PRESENTATION_REF.findall(attribute):
                if ref not in presentations:
                    bad(f"presentation \"{ref}\" referenced by the ADMX is missing from presentationTable")
    for policy in admx.iter(q("policy")):
        found = PRESENTATION_REF.fullmatch(policy.get("presentation", ""))
        if not found or found.group(1) not in presentations:
            continue
        elements = {e.get("id") for e in policy.iterfind(f"{q('elements')}/*") if e.tag in VALUE_TAGS}
        for control in presentations[found.group(1)].iter():
            ref = control.get("refId")
            if ref is not None and ref not in elements:
                bad(f"presentation \"{found.group(1)}\" control refId \"{ref}\" "
                    f"names no element of policy {policy.get('name')}")


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--key", required=True, help="registry key below the hive")
    parser.add_argument("--value", required=True, help="registry value name")
    parser.add_argument("--languages", default="en-US,ja-JP",
                        help="comma-separated language folders that must hold an ADML")
    parser.add_argument("folder", type=Path)
    args = parser.parse_args(argv)

    problems = []
    if shutil.which("xmllint") is None:
        print("xmllint not found (install libxml2-utils)")
        return 1
    admx_files = sorted(args.folder.glob("*.admx"))
    if len(admx_files) != 1:
        print(f"{args.folder}: expected one .admx file, found {len(admx_files)}")
        return 1
    admx_path = admx_files[0]
    admx = load(admx_path, problems)
    prefixes = check_admx(admx_path, admx, args.key, args.value, problems) if admx is not None else None

    wanted = [lang for lang in args.languages.split(",") if lang]
    found = {p.parent.name for p in args.folder.glob(f"*/{admx_path.stem}.adml")}
    adml_roots = {}
    for lang in wanted + sorted(found - set(wanted)):
        path = args.folder / lang / f"{admx_path.stem}.adml"
        if not path.is_file():
            problems.append(f"{path}: missing ADML for {lang}")
            continue
        root = load(path, problems)
        if root is None:
            continue
        adml_roots[lang] = (path, root)
        if prefixes is not None:
            resources = admx.find(q("resources"))
            minimum = version(resources.get("minRequiredRevision")) if resources is not None else None
            check_adml(path, root, admx, minimum, problems)

    # A string only one language has shows as a raw id in the others.
    for table, entry in (("stringTable", "string"), ("presentationTable", "presentation")):
        sets = {lang: table_ids(root, table, entry) for lang, (_, root) in adml_roots.items()}
        union = set().union(*sets.values()) if sets else set()
        for lang, ids in sets.items():
            for missing in sorted(union - ids):
                problems.append(f"{adml_roots[lang][0]}: {entry} id \"{missing}\" is defined "
                                f"by another language but not here")

    for problem in dict.fromkeys(problems):
        print(problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
