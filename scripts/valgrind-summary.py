"""Reads a valgrind memcheck log and counts its errors and definite leaks, all of them
and those with a frame in the walkmesh extension. Exits 1 when the extension has any."""
import re
import sys

MODULE_FRAME = re.compile(r"walkmesh::|walkmesh\.cpython|PyInit_walkmesh")


def blocks(text):
    """The error and leak records: runs of '==pid==' lines separated by blank ones."""
    current = []
    for line in text.splitlines():
        body = re.sub(r"^==\d+== ?", "", line)
        if body.strip():
            current.append(body)
        elif current:
            yield current
            current = []
    if current:
        yield current


def is_finding(block):
    head = block[0]
    if "definitely lost" in head and "in loss record" in head:
        return True
    return bool(re.match(r"(Invalid|Conditional jump|Use of uninitialised|Syscall param|Mismatched|"
                         r"Source and destination overlap|Argument .* of function)", head))


def main(path):
    with open(path, errors="replace") as log:
        findings = [block for block in blocks(log.read()) if is_finding(block)]
    in_module = [block for block in findings if any(MODULE_FRAME.search(line) for line in block)]
    for block in in_module:
        print("\n".join(block), end="\n\n")
    print(f"valgrind: {len(findings)} finding(s) in the run, {len(in_module)} with a walkmesh frame")
    return 1 if in_module else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
