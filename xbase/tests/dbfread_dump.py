# Prints what an independent reader (python3-dbfread) sees in a table:
# one line per field, then one line per record including deleted ones.
import sys
from dbfread import DBF

t = DBF(sys.argv[1], load=True, ignore_missing_memofile=True, char_decode_errors="strict")
print("H %d %04d-%02d-%02d" % (len(t.records) + len(t.deleted), t.date.year, t.date.month, t.date.day))
for f in t.fields:
    print("F %s %s %d %d" % (f.name, f.type, f.length, f.decimal_count))


def fmt(v):
    if v is None:
        return "None"
    if isinstance(v, bool):
        return "T" if v else "F"
    if hasattr(v, "isoformat"):
        return v.isoformat()
    if isinstance(v, float):
        return "%.4f" % v
    return str(v)


for flag, recs in (("L", t.records), ("D", t.deleted)):
    for r in recs:
        print(flag + " " + "|".join(fmt(v) for v in r.values()))
