#!/usr/bin/env python3
"""The manual page against the program's own help. Every command, option and exit code that
--help and each command's --help name must appear in velkpatch(1), each command's options in
that command's part of the page; and the page must name no command, option or exit code that
the help texts lack. The page is rendered with groff, which must not warn.

    man_page_test.py VELKPATCH VELKPATCH.1
"""
import re
import subprocess
import sys

# An option is a dash or two and a letter at the start of a word ("CRC-32" and
# "self-applying" are no options).
OPTION = re.compile(r"(?<![\w-])(--?[A-Za-z][\w-]*)")


def options(text):
    return set(OPTION.findall(text))


def help_text(program, *args):
    return subprocess.run([program, *args, "--help"], check=True, capture_output=True, text=True).stdout


def exit_codes(overview):
    listed = re.search(r"Exit codes:(.*?)\.(\s|$)", overview, re.S)
    return set(re.findall(r"(\d+) [a-z]", listed.group(1))) if listed else set()


def render(page):
    result = subprocess.run(["groff", "-man", "-Tutf8", "-ww", "-rLL=250n", "-rHY=0", "-P-cbou", page],
                            capture_output=True, text=True)
    if result.returncode != 0 or result.stderr:
        sys.exit(f"groff cannot render {page} cleanly:\n{result.stderr}")
    return result.stdout


def sections(rendered):
    """{section: text} and {command part of COMMANDS: text}, from the rendered page's headings
    (at the margin) and subheadings (three columns in)."""
    top, sub = {}, {}
    section = part = None
    for line in rendered.splitlines():
        if re.fullmatch(r"[A-Z][A-Z ]*", line):
            section, part = line, None
            top[section] = ""
            continue
        if section == "COMMANDS" and re.match(r"   \S", line):
            part = line.split()[0]
            sub[part] = line + "\n"
            continue
        if section is not None:
            top[section] += line + "\n"
        if part is not None:
            sub[part] += line + "\n"
    return top, sub


def main():
    program, page = sys.argv[1], sys.argv[2]
    overview = help_text(program)
    commands = re.search(r"^Commands:\n(.*?)\n\n", overview, re.S | re.M)
    help_commands = set(re.findall(r"^  ([a-z]+)  ", commands.group(1), re.M)) if commands else set()
    per_command = {command: options(help_text(program, command)) for command in sorted(help_commands)}
    command_options = set().union(*per_command.values())
    general_options = options(overview) - command_options
    help_codes = exit_codes(overview)
    for command in per_command:
        help_codes |= set(re.findall(r"exit code (\d+)", help_text(program, command)))

    top, sub = sections(render(page))
    failures = []

    def same(what, in_help, in_page):
        for name in sorted(in_help - in_page):
            failures.append(f"{what}: {name} is in --help but not in the manual page")
        for name in sorted(in_page - in_help):
            failures.append(f"{what}: {name} is in the manual page but not in --help")

    synopsis = top.get("SYNOPSIS", "")
    same("commands in SYNOPSIS", help_commands, set(re.findall(r"^\s*velkpatch ([a-z]+)", synopsis, re.M)))
    same("commands in COMMANDS", help_commands, set(sub))
    for command, in_help in per_command.items():
        same(f"options of {command}", in_help, options(sub.get(command, "")))
    same("general options in OPTIONS", general_options, options(top.get("OPTIONS", "")))
    same("options anywhere", command_options | general_options, options("".join(top.values())))
    same("exit codes in EXIT STATUS", help_codes,
         set(re.findall(r"^ {7}(\d+)\s", top.get("EXIT STATUS", ""), re.M)))

    for failure in failures:
        print(failure)
    checked = len(help_commands) + len(command_options | general_options) + len(help_codes)
    print(f"man page: {checked} commands, options and exit codes of --help checked, {len(failures)} differences")
    return 1 if failures or checked == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
