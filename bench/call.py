# A lambda leaves with its value, without a return statement.
next_value = lambda x: x + 1

n = 0
for _ in range(1000000):
    n = next_value(n)
print(n)
