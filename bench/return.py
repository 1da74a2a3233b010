def next_value(x):
    return x + 1

n = 0
for _ in range(1000000):
    n = next_value(n)
print(n)
