#!/usr/bin/python3
"""Checks built code for AVX instructions outside the AVX2 network kernel.

Every function is disassembled; one that uses a ymm/zmm/mask register or a
VEX/EVEX-encoded instruction must belong to the kernel (namespaces kelvorAvx2 and
KelvorAvx2Eigen, entry point kelvor::networkStepAvx2). For a static library the
kernel's own object must also define nothing outside those names and run nothing
at start-up, so the linker cannot hand one of its copies to baseline code.

usage: check_baseline_isa.py [--library] FILE...
"""
import re
import subprocess
import sys

KERNEL_NAMES = re.compile(r"(kelvorAvx2::|KelvorAvx2Eigen::|kelvor::networkStepAvx2\()")
FUNCTION = re.compile(r"^[0-9a-f]+ <(.+)>:$")
INSTRUCTION = re.compile(r"^\s+[0-9a-f]+:\s+(\S+)\s*(.*)$")
WIDE_REGISTER = re.compile(r"%(ymm|zmm)\d+|%k[0-7]\b")
# Mnemonics that start with "v" without being VEX-encoded (virtualisation, segment checks).
NOT_VEX = re.compile(r"^(verr|verw|vmcall|vmlaunch|vmresume|vmxoff|vmxon|vmread|vmwrite|vmptrld|vmptrst|vmclear|vmfunc|vmrun|vmload|vmsave|vmmcall)")


def run(*command):
    return subprocess.run(command, check=True, capture_output=True, text=True).stdout


def wide_functions(path):
    """Yields (function, first offending instruction) for every function using AVX."""
    current, reported = None, False
    for line in run("objdump", "-d", "-C", "--no-show-raw-insn", path).splitlines():
        match = FUNCTION.match(line)
        if match:
            current, reported = match.group(1), False
            continue
        match = INSTRUCTION.match(line)
        if not match or current is None or reported:
            continue
        mnemonic, operands = match.groups()
        if (mnemonic.startswith("v") and not NOT_VEX.match(mnemonic)) or WIDE_REGISTER.search(operands):
            reported = True
            yield current, f"{mnemonic} {operands}".strip()


def kernel_object_problems(library):
    """Symbols or start-up code the kernel's object would share with the rest."""
    problems = []
    for line in run("nm", "-A", "-C", "--defined-only", library).splitlines():
        match = re.match(r"^[^:]+:([^:]+):\s*[0-9a-f]*\s+(\S)\s+(.*)$", line)
        if not match or "Avx2" not in match.group(1):
            continue
        member, kind, name = match.groups()
        # Local symbols cannot be shared; the personality routine's reference is data.
        if not (kind.isupper() or kind in "uvw") or name.startswith("DW.ref."):
            continue
        if not KERNEL_NAMES.search(name):
            problems.append(f"{member}: defines {name} ({kind})")
    headers = run("objdump", "-h", library)
    current = None
    for line in headers.splitlines():
        if line.endswith("(ex " + library + "):") or ":     file format" in line:
            current = line.split(":")[0]
        elif current and "Avx2" in current and re.search(r"\.(init_array|ctors|preinit_array)\b", line):
            problems.append(f"{current}: has start-up code ({line.split()[1]})")
    return problems


def main(arguments):
    library = "--library" in arguments
    files = [a for a in arguments if a != "--library"]
    if not files:
        print(__doc__)
        return 2
    failures, kernel_functions = [], 0
    for path in files:
        for function, instruction in wide_functions(path):
            if KERNEL_NAMES.search(function):
                kernel_functions += 1
            else:
                failures.append(f"{path}: {function} uses {instruction}")
        if library:
            failures += kernel_object_problems(path)
    if library and kernel_functions == 0:
        failures.append("no AVX code found in the kernel at all: is the AVX2 unit still built?")
    for failure in failures:
        print(failure)
    print(f"{len(files)} file(s), {kernel_functions} kernel function(s) with AVX, {len(failures)} problem(s)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
