class Point:
    def __init__(self, x, y):
        self.x = x
        self.y = y

    def move(self, dx, dy):
        self.x += dx
        self.y += dy

    def dist(self):
        return abs(self.x) + abs(self.y)


points = [Point(i, -i) for i in range(1, 11)]
total = 0
for n in range(1, 60001):
    step = n % 3 - 1
    for p in points:
        p.move(step, -step)
        total += p.dist()
print(total)
