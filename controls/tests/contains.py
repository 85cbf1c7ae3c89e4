"""contains.py FILE PART: exits 0 when FILE holds the bytes of PART (a resource embedded as it
was built), 1 otherwise."""
import sys

with open(sys.argv[1], "rb") as f, open(sys.argv[2], "rb") as g:
    whole, part = f.read(), g.read()
ok = len(part) > 0 and part in whole
print("%s %s %s" % (sys.argv[1], "holds" if ok else "lacks", sys.argv[2]))
sys.exit(0 if ok else 1)
