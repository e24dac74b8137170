#!/usr/bin/env python3
"""Checks the plug-in against Microsoft's C++ ABI with clang, on Linux, without MSVC.

A host built with Microsoft's compiler reads our vtables and records in that ABI, which differs from the
Itanium ABI that MinGW uses (one destructor slot instead of two, overloads grouped, other record rules).
clang targeting x86_64-pc-windows-msvc lays classes out as MSVC does and prints the layouts, so:

  layout   compiles a probe that includes every shared header and compares each interface's slots and each
           shared record's field offsets and sizes with a table of expected values;
  build    compiles every product source file to an object in that mode, so that nothing only GCC accepts
           enters the product (the MSVC preset would otherwise be the first to notice), and checks the lock
           annotations (support/sync/thread_annotations.h): a guarded field touched without its lock fails.

clang runs over the MinGW-w64 Windows headers and MinGW's libstdc++ headers (-nostdinc++), since no MSVC
headers exist here. -fno-ms-compatibility because the MinGW intrinsics headers do not parse in MSVC
compatibility mode; -c because the layouts are only dumped when code is generated.
"""

import argparse
import concurrent.futures
import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile


def find_libstdcxx(mingw_cxx):
    """The MinGW libstdc++ header folder and its target subfolder."""
    candidates = []
    if mingw_cxx:
        try:
            gcc_include = subprocess.run([mingw_cxx, "-print-file-name=include"], capture_output=True,
                                         text=True, check=True).stdout.strip()
            candidates.append(os.path.join(gcc_include, "c++"))
        except (OSError, subprocess.CalledProcessError):
            pass
    candidates += sorted(glob.glob("/usr/lib/gcc/x86_64-w64-mingw32/*-posix/include/c++"), reverse=True)
    for base in candidates:
        target = os.path.join(base, "x86_64-w64-mingw32")
        if os.path.isdir(os.path.join(target, "bits")):
            return [base, target]
    sys.exit("MinGW libstdc++ headers not found (tried %s)" % ", ".join(candidates))


def clang_command(args):
    if shutil.which(args.clang) is None:
        sys.exit("%s not found: scripts/setup installs it (package clang-14)" % args.clang)
    cmd = [args.clang, "--target=x86_64-pc-windows-msvc", "-fno-ms-compatibility", "-nostdinc++"]
    for include in find_libstdcxx(args.mingw_cxx) + [args.windows_include]:
        cmd += ["-isystem", include]
    # The MinGW headers take GCC's predefined __declspec macro as the sign that imports can be declared;
    # clang in this mode claims __GNUC__ but has __declspec as a keyword, so define the macro as GCC does.
    cmd += ["-D__declspec(x)=__attribute__((x))", "-std=c++17", "-c"]
    for include in args.include:
        cmd += ["-I", include]
    for define in args.define:
        cmd += ["-D" + define]
    return cmd


# ---------------------------------------------------------------------------------------------- expected

def read_expected(path):
    """{name: {slot: operation}} for interfaces and {name: (size, [(offset, size, field)])} for records."""
    interfaces, records = {}, {}
    current = None
    with open(path, encoding="utf-8") as f:
        for number, raw in enumerate(f, 1):
            line = raw.split("#", 1)[0].strip()
            if not line:
                continue
            words = line.split()
            where = "%s:%d" % (path, number)
            if words[0] == "interface" and len(words) == 2:
                current = interfaces.setdefault(words[1], {})
            elif words[0] == "record" and len(words) == 3:
                records[words[1]] = (int(words[2]), [])
                current = records[words[1]][1]
            elif isinstance(current, dict) and len(words) == 2 and words[0].isdigit():
                slot = int(words[0])
                if slot in current:
                    sys.exit("%s: slot %d listed twice" % (where, slot))
                current[slot] = words[1]
            elif isinstance(current, list) and len(words) == 3 and words[0].isdigit() and words[1].isdigit():
                current.append((int(words[0]), int(words[1]), words[2]))
            else:
                sys.exit("%s: cannot read %r" % (where, line))
    return interfaces, records


# ------------------------------------------------------------------------------------------------- dumps

RECORD_KEYWORD = re.compile(r"^(?:struct|class|union)\s+")
SCALAR_SIZES = {
    "bool": 1, "_Bool": 1, "char": 1, "signed char": 1, "unsigned char": 1,
    "std::int8_t": 1, "std::uint8_t": 1, "int8_t": 1, "uint8_t": 1, "BYTE": 1,
    "short": 2, "unsigned short": 2, "wchar_t": 2, "char16_t": 2,
    "std::int16_t": 2, "std::uint16_t": 2, "int16_t": 2, "uint16_t": 2, "WORD": 2,
    # long is 32 bits in this ABI (LLP64)
    "int": 4, "unsigned int": 4, "long": 4, "unsigned long": 4, "float": 4, "char32_t": 4,
    "std::int32_t": 4, "std::uint32_t": 4, "int32_t": 4, "uint32_t": 4, "DWORD": 4,
    "long long": 8, "unsigned long long": 8, "double": 8, "size_t": 8, "std::size_t": 8,
    "std::int64_t": 8, "std::uint64_t": 8, "int64_t": 8, "uint64_t": 8,
}


def record_name(text):
    """'struct A::B (empty)' -> 'A::B'."""
    text = RECORD_KEYWORD.sub("", text.strip())
    return re.sub(r"\s+\((?:empty|base|primary base|virtual base)\)$", "", text).strip()


def parse_records(dump):
    """{record: {"size": n, "fields": [(offset, type, name)], "primary": base or None}} from the AST dumps."""
    records = {}
    blocks = dump.split("*** Dumping AST Record Layout\n")[1:]
    for block in blocks:
        lines = block.split("\n")
        header = re.match(r"^\s*\d+ \| (.*)$", lines[0])
        if not header:
            continue
        name = record_name(header.group(1))
        entry = {"size": None, "fields": [], "primary": None}
        for line in lines[1:]:
            size = re.search(r"\[sizeof=(\d+),", line)
            if size:
                entry["size"] = int(size.group(1))
                break
            m = re.match(r"^\s*(\d+) \|(\s+)(.*)$", line)
            if not m or len(m.group(2)) != 3:  # deeper lines belong to the fields' own layouts
                continue
            offset, text = int(m.group(1)), m.group(3).strip()
            if text.endswith("(primary base)"):
                entry["primary"] = record_name(text)
            elif text.endswith("(base)") or "vftable pointer" in text or "vbtable pointer" in text:
                continue
            else:
                field_type, _, field = text.rpartition(" ")
                entry["fields"].append((offset, field_type.strip(), field))
        records.setdefault(name, entry)
    return records


def parse_slots(dump):
    """{class: {slot: operation}} from the 'VFTable indices' dumps (operations the class introduces or
    overrides; the rest come from its primary base)."""
    classes = {}
    for m in re.finditer(r"^VFTable indices for '([^']+)' \(\d+ entr(?:y|ies)\)\.\n((?:.*\n)*?)\n",
                         dump, re.MULTILINE):
        slots = {}
        secondary = False
        for line in m.group(2).splitlines():
            if "accessible via" in line:
                # Operations reached through a second vfptr live in another table; our interfaces have one.
                secondary = re.search(r"vfptr at offset 0\b", line) is None
                continue
            entry = re.match(r"^\s*(\d+) \| (.*)$", line)
            if entry and not secondary:
                slots[int(entry.group(1))] = operation_name(entry.group(2))
        classes.setdefault(m.group(1), {}).update(slots)
    return classes


def operation_name(signature):
    """'unsigned long A::B::Install(const X &)' -> 'Install'; any destructor -> '~'."""
    qualified = signature.split("(", 1)[0]
    operation = qualified.rsplit("::", 1)[-1].strip()
    return "~" if operation.startswith("~") else operation


def field_size(field_type, records):
    array = re.match(r"^(.*)\[(\d+)\]$", field_type)
    if array:
        element = field_size(array.group(1).strip(), records)
        return None if element is None else element * int(array.group(2))
    if field_type.endswith("*") or field_type.endswith("&"):
        return 8
    if field_type in SCALAR_SIZES:
        return SCALAR_SIZES[field_type]
    record = records.get(record_name(field_type))
    return record["size"] if record else None


def full_table(name, records, slots, seen=()):
    """Every slot of the class's primary table, inherited ones included, or None when the dump lacks it."""
    if name in seen:
        return None
    record = records.get(name)
    if record is None:
        return None
    table = {}
    if record["primary"]:
        base = full_table(record["primary"], records, slots, seen + (name,))
        if base is None:
            return None
        table.update(base)
    table.update(slots.get(name, {}))
    return table


def check_layout(args):
    expected_interfaces, expected_records = read_expected(args.expected)
    cmd = clang_command(args) + ["-Xclang", "-fdump-vtable-layouts", "-Xclang", "-fdump-record-layouts"]
    with tempfile.TemporaryDirectory() as tmp:
        run = subprocess.run(cmd + [args.probe, "-o", os.path.join(tmp, "probe.obj")], capture_output=True,
                             text=True)
    if run.returncode != 0:
        print(" ".join(cmd), file=sys.stderr)
        print(run.stderr, file=sys.stderr)
        sys.exit("the probe does not compile in Microsoft's ABI")
    if args.dump:
        with open(args.dump, "w", encoding="utf-8") as f:
            f.write(run.stdout)
    records = parse_records(run.stdout)
    slots = parse_slots(run.stdout)

    faults = []
    for name, want in sorted(expected_interfaces.items()):
        got = full_table(name, records, slots)
        if got is None:
            faults.append("%s: not laid out by the probe (include it and call it there)" % name)
            continue
        for slot in sorted(set(want) | set(got)):
            if slot not in got:
                faults.append("%s: slot %d (%s) does not exist" % (name, slot, want[slot]))
            elif slot not in want:
                faults.append("%s: slot %d holds %s, which the table does not expect" % (name, slot, got[slot]))
            elif want[slot] != "?" and want[slot] != got[slot]:
                faults.append("%s: slot %d holds %s, expected %s" % (name, slot, got[slot], want[slot]))

    # Whatever has a table in the dump crosses a boundary through the headers the probe includes (qv::IMemMgr,
    # for one, is called by the host's own inline string code): it needs its row in the table.
    for name in sorted(set(slots) - set(expected_interfaces)):
        faults.append("%s: laid out by the probe but missing from %s" % (name, args.expected))

    for name, (want_size, want_fields) in sorted(expected_records.items()):
        record = records.get(name)
        if record is None:
            faults.append("%s: not laid out by the probe (take its sizeof there)" % name)
            continue
        if record["size"] != want_size:
            faults.append("%s: size %s, expected %d" % (name, record["size"], want_size))
        got_names = [field for _, _, field in record["fields"]]
        want_names = [field for _, _, field in want_fields]
        if got_names != want_names:
            faults.append("%s: fields %s, expected %s" % (name, got_names, want_names))
        got_fields = {field: (offset, field_type) for offset, field_type, field in record["fields"]}
        for want_offset, want_width, field in want_fields:
            if field not in got_fields:
                continue
            offset, field_type = got_fields[field]
            width = field_size(field_type, records)
            if offset != want_offset:
                faults.append("%s::%s: offset %d, expected %d" % (name, field, offset, want_offset))
            if width is None:
                faults.append("%s::%s: cannot tell the size of %s" % (name, field, field_type))
            elif width != want_width:
                faults.append("%s::%s: %d bytes, expected %d" % (name, field, width, want_width))

    for fault in faults:
        print("FAIL " + fault)
    print("%d interfaces and %d records checked in Microsoft's ABI, %d faults" %
          (len(expected_interfaces), len(expected_records), len(faults)))
    return 1 if faults else 0


# ------------------------------------------------------------------------------------------------- build

def check_build(args):
    sources = sorted(set(args.sources))
    # Standard C++ only: GNU extensions (statement expressions, variable-length arrays, zero-size arrays,
    # ...) are errors; the system headers stay exempt. -Wthread-safety checks the lock annotations, which only
    # clang reads.
    cmd = clang_command(args) + ["-Wall", "-Wextra", "-pedantic-errors", "-Wthread-safety", "-Werror"]
    with tempfile.TemporaryDirectory() as tmp:
        def compile_one(indexed):
            index, source = indexed
            run = subprocess.run(cmd + [source, "-o", os.path.join(tmp, "%d.obj" % index)], capture_output=True,
                                 text=True)
            return source, run

        # Two at a time: the build machine's cores are shared.
        with concurrent.futures.ThreadPoolExecutor(max_workers=2) as pool:
            results = list(pool.map(compile_one, enumerate(sources)))
    failed = []
    for source, run in results:
        if run.returncode != 0:
            failed.append(source)
            print(run.stderr, file=sys.stderr)
    for source in failed:
        print("FAIL " + source)
    print("%d product sources compiled in Microsoft's ABI, %d failed" % (len(sources), len(failed)))
    return 1 if failed else 0


def main():
    # @file reads further arguments from a file, one a line: CMake writes the include folders, definitions
    # and source lists there.
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0], fromfile_prefix_chars="@")
    parser.add_argument("--clang", default="clang++-14")
    parser.add_argument("--mingw-cxx", default="x86_64-w64-mingw32-g++-posix",
                        help="MinGW C++ compiler, asked where its libstdc++ headers are")
    parser.add_argument("--windows-include", default="/usr/x86_64-w64-mingw32/include")
    parser.add_argument("-I", dest="include", action="append", default=[])
    parser.add_argument("-D", dest="define", action="append", default=[])
    sub = parser.add_subparsers(dest="mode", required=True)
    layout = sub.add_parser("layout")
    layout.add_argument("--probe", required=True)
    layout.add_argument("--expected", required=True)
    layout.add_argument("--dump", help="also write the compiler's layout dump here")
    build = sub.add_parser("build")
    build.add_argument("sources", nargs="+")
    args = parser.parse_args()
    return check_layout(args) if args.mode == "layout" else check_build(args)


if __name__ == "__main__":
    sys.exit(main())
