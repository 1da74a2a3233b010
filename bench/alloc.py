total = 0
for i in range(1, 1000001):
    b = []
    b.append(i)
    b.append(i + 1)
    total = total + len(b)
print(total)
