class Counter:
    def __init__(self):
        self.count = 0
        self.step = 1

o = Counter()
for i in range(1, 1000001):
    o.count = o.count + o.step
    o.step = i % 7
print(o.count)
