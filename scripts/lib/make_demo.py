"""Lays out the demo's data: sample rows as CSV, the CS schema for MySQL, and
the two Access files made by our own engine (brenvo-mdb create + import).
Usage: make_demo.py DEMO_FOLDER BRENVO_MDB"""

import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from brenvo_schema import mysql_ddl, tables  # noqa: E402
import demo_rows  # noqa: E402

JET_TYPES = {"text": "text", "memo": "memo", "long": "long", "int": "integer", "byte": "byte",
             "double": "double", "date": "datetime"}


def jet_schema():
    lines = []
    for name, cols, pk, idx in tables():
        lines.append("table " + name)
        for c in cols:
            lines.append("column %s %s%s" % (c.name, JET_TYPES[c.kind], " %d" % c.size if c.kind == "text" else ""))
        lines.append("index PrimaryKey primary " + " ".join(pk))
        for col, unique in idx:
            lines.append("index %s %s%s" % (col, "unique " if unique else "", col))
    return "\n".join(lines) + "\n"


def main():
    demo, mdb = sys.argv[1], sys.argv[2]
    dbs = os.path.join(demo, "Brenvo", "DBS")
    os.makedirs(dbs, exist_ok=True)
    with open(os.path.join(demo, "cs_schema.sql"), "w", encoding="utf-8") as f:
        f.write(mysql_ddl())
    schema = os.path.join(demo, "brenvo.schema")
    with open(schema, "w", encoding="utf-8") as f:
        f.write(jet_schema())
    full, empty = os.path.join(demo, "csv"), os.path.join(demo, "csv-empty")
    demo_rows.write_csvs(full)
    demo_rows.write_csvs(empty, only_version=True)
    failed = False
    for target, csvs in ((os.path.join(dbs, "dbMain.mdb"), full), (os.path.join(dbs, "empty-dbMain.mdb"), empty)):
        if os.path.exists(target):
            os.remove(target)
        r = subprocess.run([mdb, "--password", "wq3518", "create", target, "--schema", schema],
                           stderr=subprocess.PIPE, text=True)
        if r.returncode != 0:
            print("demo: %s could not be made: %s" % (os.path.basename(target), r.stderr.strip()[:300]))
            failed = True
            continue
        for name, _, _, _ in tables():
            r = subprocess.run([mdb, "--password", "wq3518", "import", target, name, os.path.join(csvs, name + ".csv")],
                               stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
            if r.returncode != 0:
                failed = True
                print("demo: import of %s into %s: %s" % (name, os.path.basename(target), r.stderr.strip()[:300]))
    if failed:
        print("demo: some sample rows could not be stored; the files hold the rest")


if __name__ == "__main__":
    main()
