local Point = {}
Point.__index = Point

function Point.new(x, y)
  return setmetatable({x = x, y = y}, Point)
end

function Point:move(dx, dy)
  self.x = self.x + dx
  self.y = self.y + dy
end

function Point:dist()
  return math.abs(self.x) + math.abs(self.y)
end

local points = {}
for i = 1, 10 do points[i] = Point.new(i, -i) end
local total = 0
for n = 1, 60000 do
  local step = n % 3 - 1
  for _, p in ipairs(points) do
    p:move(step, -step)
    total = total + p:dist()
  end
end
print(total)
