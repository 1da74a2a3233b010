def build():
    s = ""
    for i in range(1000000):
        s += "k"
    return s

print(len(build()))
