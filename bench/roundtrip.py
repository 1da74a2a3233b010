import json
import os

with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "data", "records.json")) as f:
    records = json.load(f)
ids = tags = active = 0
for r in records:
    ids += r["id"]
    tags += len(r["tags"])
    if r["active"]:
        active += 1
    r["seen"] = True
text = json.dumps(records, separators=(",", ":"), ensure_ascii=False)
print(len(records), ids, tags, active, len(text))
