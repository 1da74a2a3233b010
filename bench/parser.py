import sys

modulus = 46337
seed = 42


def next_random():
    global seed
    seed = (seed * 75 + 74) % 65537
    return seed


parts = []


def gen(depth):
    r = next_random()
    if depth == 0 or r % 4 == 0:
        parts.append("123456789"[r % 9])
    else:
        parts.append("(")
        gen(depth - 1)
        parts.append("+*"[r % 2])
        gen(depth - 1)
        parts.append(")")


for i in range(1, 3001):
    if i > 1:
        parts.append("+")
    gen(10)
src = "".join(parts)
pos = 0


def peek():
    return src[pos] if pos < len(src) else ""


def parse_factor():
    global pos
    c = src[pos]
    pos += 1
    if c == "(":
        v = parse_sum()
        pos += 1
        return v
    return ord(c) - 48


def parse_product():
    global pos
    v = parse_factor()
    while peek() == "*":
        pos += 1
        v = (v * parse_factor()) % modulus
    return v


def parse_sum():
    global pos
    v = parse_product()
    while peek() == "+":
        pos += 1
        v = (v + parse_product()) % modulus
    return v


print(len(src), parse_sum())
