"""Writes the input files of the JSON and word-frequency benchmarks into
bench/data/ (about 1 MB each), the same bytes on every run: a JSON array of
records, and English-like text whose words follow a Zipf-like frequency."""
import json
import os

DATA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "data")


class Lcg:
    """A small deterministic generator, so the files never depend on a library's RNG."""
    def __init__(self, seed):
        self.state = seed

    def next(self, bound):
        self.state = (self.state * 1103515245 + 12345) % 2147483648
        return self.state % bound


def records(rng):
    out = []
    for i in range(4000):
        out.append({
            "id": i,
            "name": "user %d" % i,
            "email": "user%d@example.org" % i,
            "active": rng.next(2) == 1,
            "score": rng.next(100000) / 4,
            "tags": ["t%d" % rng.next(50) for _ in range(rng.next(5))],
            "address": {"street": "%d Long Road" % rng.next(999), "zip": "%05d" % rng.next(99999),
                        "geo": [rng.next(180000) / 1000 - 90, rng.next(360000) / 1000 - 180]},
            "note": None if rng.next(3) == 0 else "line one\nline \"two\"",
        })
    return out


def text(rng):
    syllables = ["ka", "lo", "mi", "ne", "tor", "as", "ri", "un", "pe", "sol", "da", "ve", "quin", "bo"]
    vocabulary = []
    for _ in range(4000):
        vocabulary.append("".join(syllables[rng.next(len(syllables))] for _ in range(1 + rng.next(3))))
    words, size = [], 0
    while size < 1_000_000:
        # Zipf-like: small indexes far more often.
        word = vocabulary[rng.next(1 + rng.next(1 + rng.next(len(vocabulary))))]
        if rng.next(9) == 0:
            word = word.capitalize()
        tail = [" ", " ", " ", ", ", ". ", ".\n", "; ", " - "][rng.next(8)]
        words.append(word + tail)
        size += len(word) + len(tail)
    return "".join(words)


def main():
    os.makedirs(DATA, exist_ok=True)
    with open(os.path.join(DATA, "records.json"), "w", newline="\n") as f:
        json.dump(records(Lcg(7)), f, indent=1)
    with open(os.path.join(DATA, "words.txt"), "w", newline="\n") as f:
        f.write(text(Lcg(11)))


if __name__ == "__main__":
    main()
