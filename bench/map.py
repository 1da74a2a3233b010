m = {}
for i in range(1, 200001):
    m[i] = i % 100
total = 0
for i in range(1, 200001):
    total += m.get(i)
print(total)
