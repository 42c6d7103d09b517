#!/usr/bin/env python3
"""Checks the installed Task Scheduler definition of torvane-batch.

    check_task_xml.py TASK_XML PROGRAM_FILES INSTALLED_EXE

TASK_XML is the file as installed; PROGRAM_FILES the value of %ProgramFiles%
on that machine; INSTALLED_EXE the Windows path where the installer put
torvane-batch.exe. The definition must be UTF-16 with a byte-order mark, run
every night at 22:00 whether the account is logged on or not, have no
stop-after-time, and start the installed program. Prints each fault; exits 1
when there is one.
"""
import re
import sys
import xml.etree.ElementTree as ET

NS = {"t": "http://schemas.microsoft.com/windows/2004/02/mit/task"}


def expand(text, program_files):
    def variable(match):
        if match.group(1).lower() == "programfiles":
            return program_files
        return match.group(0)
    return re.sub(r"%([^%]+)%", variable, text)


def faults(path, program_files, installed_exe):
    with open(path, "rb") as stream:
        data = stream.read()
    if not data.startswith(b"\xff\xfe"):
        yield "not UTF-16LE with a byte-order mark"
    try:
        root = ET.fromstring(data)
    except ET.ParseError as error:
        yield f"does not parse: {error}"
        return
    if root.tag != "{%s}Task" % NS["t"]:
        yield f"root element is {root.tag}, not Task"

    def text(xpath):
        node = root.find(xpath, NS)
        return None if node is None else (node.text or "").strip()

    triggers = root.findall("t:Triggers/*", NS)
    if len(triggers) != 1 or triggers[0].tag != "{%s}CalendarTrigger" % NS["t"]:
        yield f"expected one calendar trigger, found {[t.tag for t in triggers]}"
    start = text("t:Triggers/t:CalendarTrigger/t:StartBoundary") or ""
    if not re.fullmatch(r"\d{4}-\d\d-\d\dT22:00:00", start):
        yield f"start boundary {start!r} is not 22:00 local time"
    if text("t:Triggers/t:CalendarTrigger/t:ScheduleByDay/t:DaysInterval") != "1":
        yield "not every day"
    if text("t:Triggers/t:CalendarTrigger/t:Enabled") not in (None, "true"):
        yield "trigger disabled"
    if text("t:Principals/t:Principal/t:LogonType") != "Password":
        yield "does not run whether the account is logged on or not (LogonType Password)"
    if text("t:Settings/t:ExecutionTimeLimit") != "PT0S":
        yield "has a stop-after-time (ExecutionTimeLimit is not PT0S)"
    if text("t:Settings/t:Enabled") not in (None, "true"):
        yield "task disabled"
    commands = root.findall("t:Actions/t:Exec/t:Command", NS)
    if len(commands) != 1:
        yield f"expected one program to start, found {len(commands)}"
        return
    command = expand((commands[0].text or "").strip().strip('"'), program_files)
    if command.lower() != installed_exe.lower():
        yield f"starts {command!r}, not the installed {installed_exe!r}"
    folder = expand(text("t:Actions/t:Exec/t:WorkingDirectory") or "", program_files)
    if folder and folder.lower() != installed_exe.rsplit("\\", 1)[0].lower():
        yield f"working folder {folder!r} is not the installation folder"


def main():
    if len(sys.argv) != 4:
        print(__doc__, file=sys.stderr)
        return 2
    found = list(faults(*sys.argv[1:]))
    for fault in found:
        print(f"{sys.argv[1]}: {fault}")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
