"""Builds an NSIS test script from a table of plug-in calls and runs it under wine64: each case
pushes its arguments, calls one export of Plugin_lmwt and writes the result variable as one
line of the result file, then drains what the export left on the stack."""
import os
import subprocess
import tempfile

TOOLS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools")
WINE_RUN = os.path.join(TOOLS, "wine-run")
UNSET = "unset"


def windows_path(path):
    """A Linux path as Wine sees it: drive Z:."""
    return "Z:" + path.replace("/", "\\")


def nsis_quote(text):
    """A quoted NSIS string: $, quotes and line breaks escaped."""
    return '"%s"' % (text.replace("$", "$$").replace('"', '$\\"').replace("\r", "$\\r")
                     .replace("\n", "$\\n"))


def case_lines(export, args, variable="$R0", raw=False):
    """One call: the arguments are pushed last first, so the export pops them in order."""
    lines = ['StrCpy %s "%s"' % (variable, UNSET)]
    for arg in reversed(args):
        lines.append("Push " + (arg if raw else nsis_quote(arg)))
    lines += ["Plugin_lmwt::%s" % export,
              'FileWriteUTF16LE $8 "%s$\\n"' % variable,
              "Call DrainStack"]
    return lines


def script(plugin_dir, out_exe, result_file, cases, setup=()):
    body = "\n  ".join(list(setup) + [line for case in cases for line in case])
    return """Unicode true
Target amd64-unicode
!addplugindir /amd64-unicode "%s"
OutFile "%s"
Name "plugin test"
SilentInstall silent
RequestExecutionLevel admin
Function DrainStack
  loop:
    ClearErrors
    Pop $7
    IfErrors 0 loop
FunctionEnd
Section
  FileOpen $8 "%s" w
  %s
  FileClose $8
SectionEnd
""" % (plugin_dir, out_exe, windows_path(result_file), body)


def build(plugin_dir, workdir, name, cases, setup=()):
    """Writes and compiles the script; returns the installer's path."""
    source = os.path.join(workdir, name + ".nsi")
    exe = os.path.join(workdir, name + ".exe")
    with open(source, "w", encoding="utf-8-sig") as f:
        f.write(script(plugin_dir, exe, os.path.join(workdir, name + ".txt"), cases, setup))
    subprocess.run(["makensis", "-V2", "-INPUTCHARSET", "UTF8", source], check=True,
                   stdout=subprocess.DEVNULL)
    return exe


def run(exe, timeout=120, env=None):
    """Runs a built installer; returns the result lines."""
    result = exe[:-4] + ".txt"
    if os.path.exists(result):
        os.remove(result)
    with tempfile.TemporaryFile() as out:
        subprocess.run([WINE_RUN, windows_path(exe)], stdout=out, stderr=subprocess.STDOUT,
                       stdin=subprocess.DEVNULL, timeout=timeout, check=True, env=env)
    with open(result, encoding="utf-16-le", errors="replace") as f:
        text = f.read()
    return text.lstrip("\ufeff").split("\n")[:-1]


def wine(*args, check=False):
    with tempfile.TemporaryFile() as out:
        p = subprocess.run([WINE_RUN, *args], stdout=out, stderr=subprocess.DEVNULL,
                           stdin=subprocess.DEVNULL, timeout=120, check=check)
        out.seek(0)
        return p.returncode, out.read().decode("utf-8", "replace")


def reg_value(key, name):
    """(type, data) of a value as reg.exe shows it, or None when absent; name "" is the
    key's default value."""
    code, text = wine("reg.exe", "query", key, *(["/v", name] if name else ["/ve"]))
    if code != 0:
        return None
    for line in text.splitlines():
        parts = line.split(None, 2)
        if len(parts) >= 2 and (parts[0] == name or not name) and parts[1].startswith("REG_"):
            return parts[1], parts[2].strip() if len(parts) == 3 else ""
    return None


def reg_key_exists(key):
    return wine("reg.exe", "query", key)[0] == 0
