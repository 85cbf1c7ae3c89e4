"""contains.py FILE PART [TEXT...]: exits 0 when FILE holds the bytes of the file PART (a
resource embedded as it was built) and every TEXT as UTF-16 (the strings its registration
writes), 1 otherwise."""
import sys

with open(sys.argv[1], "rb") as f, open(sys.argv[2], "rb") as g:
    whole, part = f.read(), g.read()
missing = [] if part and part in whole else [sys.argv[2]]
missing += [t for t in sys.argv[3:] if t.encode("utf-16-le") not in whole]
print("%s: %s" % (sys.argv[1], "missing %s" % missing if missing else "holds everything"))
sys.exit(1 if missing else 0)
