b = []
for i in range(1, 1000001):
    b.append(i * 1999 % 1000003)
b.sort()
found = 0
for k in range(1, 21):
    found += b.index(k * 49999) + 1
print(b[0], b[-1], found)
