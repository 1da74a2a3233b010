def make_adder(n):
    return lambda x: x + n


total = 0
for i in range(1, 2001):
    add_i = make_adder(i)
    for _ in range(500):
        total = add_i(total % 1000003)
print(total)
