import os
import re

with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "data", "words.txt")) as f:
    text = f.read()
counts = {}
for word in re.findall(r"[A-Za-z]+", text):
    word = word.lower()
    counts[word] = counts.get(word, 0) + 1
top = sorted(counts.items(), key=lambda kv: (-kv[1], kv[0]))[:10]
print(len(counts), " ".join("%s %d" % kv for kv in top))
