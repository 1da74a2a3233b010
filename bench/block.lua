local b = {}
for i = 1, 1000000 do b[#b + 1] = i * 1999 % 1000003 end
table.sort(b)
local function find(t, v)
  for j = 1, #t do if t[j] == v then return j end end
end
local found = 0
for k = 1, 20 do found = found + find(b, k * 49999) end
print(b[1], b[#b], found)
